// Saves on file systems that refuse them: a read-only folder, a full disk, a disk without free
// inodes. Built in a private mount namespace (root only; skipped otherwise), so nothing of the
// machine's own mounts changes.
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "persistence/settings.h"
#include "persistence/settings_writer.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {
namespace {

namespace fs = std::filesystem;
using test_support::PrintTo;
using test_support::rowName;

// Moves this test process into a mount namespace of its own, once; an empty string on success,
// else why not.
std::string enterPrivateMounts() {
    static const std::string why = [] {
        if (::geteuid() != 0) {
            return std::string("needs root to make a private mount namespace");
        }
        if (::unshare(CLONE_NEWNS) != 0) {
            return "no mount namespace here: " + std::string(std::strerror(errno));
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return "cannot make the mounts private: " + std::string(std::strerror(errno));
        }
        return std::string();
    }();
    return why;
}

// A mount on `target` for the life of the test.
class Mount {
  public:
    Mount(const char* source, const fs::path& target, const char* type, unsigned long flags,
          const char* options) {
        m_ok = ::mount(source, target.c_str(), type, flags, options) == 0;
        if (m_ok) {
            m_target = target;
        } else {
            ADD_FAILURE() << "mount " << target << ": " << std::strerror(errno);
        }
    }
    ~Mount() {
        if (!m_target.empty()) {
            ::umount2(m_target.c_str(), MNT_DETACH);
        }
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool ok() const { return m_ok; }

  private:
    bool m_ok = false;
    fs::path m_target;
};

// Writes files of `chunk` bytes into `folder` until the file system refuses, so that it is full
// of data (a chunk of 1 byte) or of inodes (a chunk of 0 bytes).
void fillUp(const fs::path& folder, std::size_t chunk) {
    const std::string bytes(chunk, 'x');
    for (int i = 0; i < 100000; ++i) {
        const fs::path filler = folder / ("filler-" + std::to_string(i));
        std::FILE* f = std::fopen(filler.c_str(), "wb");
        if (f == nullptr) {
            return;
        }
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        written = std::fclose(f) == 0 && written;
        if (!written) {
            fs::remove(filler);
            return;
        }
    }
    ADD_FAILURE() << "the file system never filled up";
}

constexpr std::string_view kMine = "; mine\n[Settings]\nSize=30\n";

struct RefusedRow {
    const char* name;
    // Mounts the refusing file system on `folder`, with settings.ini in it.
    std::function<void(const fs::path& folder, std::vector<std::unique_ptr<Mount>>&)> mount;
    const char* fileInFolder;
    SaveErrorCode code;
    int cause;
    const char* reason;  // "@" stands for the folder that holds the file
};

class RefusedSaveTest : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedSaveTest, FailsWithTheCauseAndKeepsTheFile) {
    if (const std::string why = enterPrivateMounts(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const RefusedRow& row = GetParam();
    test::TempDir dir;
    const fs::path folder = dir.file("settings");
    fs::create_directory(folder);
    std::vector<std::unique_ptr<Mount>> mounts;
    row.mount(folder, mounts);
    for (const auto& m : mounts) {
        ASSERT_TRUE(m->ok());
    }
    const fs::path file = folder / row.fileInFolder;
    const std::string before = readFileBytes(file);

    const auto error = saveEntries(file, mainWindowSaveEntries(41, true, 700.0));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, row.code);
    EXPECT_EQ(error->cause, std::error_code(row.cause, std::generic_category()))
        << error->cause.message();
    std::string reason = row.reason;
    if (const auto at = reason.find('@'); at != std::string::npos) {
        reason.replace(at, 1, file.parent_path().string());
    }
    EXPECT_EQ(error->message,
              "Impossibile salvare le impostazioni in " + file.string() + ": " + reason + ".");
    EXPECT_EQ(readFileBytes(file), before);
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << entry.path();
    }
}

// The folder, with settings.ini in it, bound read-only onto itself.
void readOnly(const fs::path& folder, std::vector<std::unique_ptr<Mount>>& mounts) {
    test::writeBytes(folder / "settings.ini", kMine);
    mounts.push_back(std::make_unique<Mount>(folder.c_str(), folder, nullptr, MS_BIND, nullptr));
    mounts.push_back(std::make_unique<Mount>(nullptr, folder, nullptr,
                                             MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr));
}

// A tiny memory file system holding settings.ini, then filled up with `chunk`-byte files.
std::function<void(const fs::path&, std::vector<std::unique_ptr<Mount>>&)> tiny(const char* options,
                                                                                std::size_t chunk) {
    return [options, chunk](const fs::path& folder, std::vector<std::unique_ptr<Mount>>& mounts) {
        mounts.push_back(std::make_unique<Mount>("tmpfs", folder, "tmpfs", 0, options));
        test::writeBytes(folder / "settings.ini", kMine);
        fillUp(folder, chunk);
    };
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, RefusedSaveTest,
    ::testing::Values(RefusedRow{"read_only_folder", readOnly, "settings.ini",
                                 SaveErrorCode::CannotCreateTemporary, EROFS,
                                 "il disco è in sola lettura"},
                      RefusedRow{"read_only_folder_without_the_dittix_folder", readOnly,
                                 "dittix/settings.ini", SaveErrorCode::CannotCreateFolder, EROFS,
                                 "la cartella @ non si può creare (il disco è in sola lettura)"},
                      RefusedRow{"disk_full", tiny("size=16k,mode=755", 4096), "settings.ini",
                                 SaveErrorCode::CannotWrite, ENOSPC, "il disco è pieno"},
                      RefusedRow{"no_free_inodes", tiny("size=1m,nr_inodes=8,mode=755", 0),
                                 "settings.ini", SaveErrorCode::CannotCreateTemporary, ENOSPC,
                                 "il disco è pieno"},
                      RefusedRow{"disk_full_new_file", tiny("size=16k,mode=755", 4096), "new.ini",
                                 SaveErrorCode::CannotWrite, ENOSPC, "il disco è pieno"}),
    rowName);

}  // namespace
}  // namespace dittix::persistence
