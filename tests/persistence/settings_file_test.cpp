// The settings file on the disk as it really is found: folders, pipes, devices, huge files,
// unreadable files and links in its place; saves through links; temporaries left by killed saves.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>

#include "persistence/file_access.h"
#include "persistence/settings.h"
#include "persistence/settings_writer.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {
namespace {

namespace fs = std::filesystem;
using test_support::PrintTo;
using test_support::rowName;

constexpr uid_t kNobody = 65534;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// What a load or a save in a child process came to.
struct ChildResult {
    bool finished = false;  // the child ran to its end (no throw, no crash, no memory cap hit)
    int code = -1;          // the problem or error code, -1 for none
    int tableFontSize = 0;
    std::string message;
};

// Runs `work` in a child process whose address space is capped at 1 GB (not under the
// sanitizers, which reserve far more), as an unprivileged user when `unprivileged` and the test
// runs as root, so that reading without bound ends in a failure instead of eating the machine's
// memory, and a file kept from root's reading is kept from the child's too.
ChildResult inChild(const std::function<ChildResult()>& work, bool unprivileged = false) {
    int channel[2];
    if (::pipe(channel) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (!kSanitized) {
            const rlimit cap{1u << 30, 1u << 30};
            ::setrlimit(RLIMIT_AS, &cap);
        }
        if (unprivileged && ::geteuid() == 0 &&
            (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(3);
        }
        std::string out;
        try {
            const ChildResult r = work();
            out =
                std::to_string(r.code) + "\n" + std::to_string(r.tableFontSize) + "\n" + r.message;
        } catch (...) {
            ::_exit(2);
        }
        const char* p = out.data();
        std::size_t left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(channel[1], p, left);
            if (n <= 0) {
                ::_exit(4);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string in;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        in.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ChildResult result;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return result;
    }
    const auto first = in.find('\n');
    const auto second = in.find('\n', first + 1);
    result.finished = true;
    result.code = std::stoi(in.substr(0, first));
    result.tableFontSize = std::stoi(in.substr(first + 1, second - first - 1));
    result.message = in.substr(second + 1);
    return result;
}

// A sparse file: `head` followed by zero bytes up to `size`.
void sparseFile(const fs::path& file, std::string_view head, std::uintmax_t size) {
    test::writeBytes(file, head);
    fs::resize_file(file, size);
}

void fifo(const fs::path& file) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
}

constexpr std::string_view kSmall = "[Settings]\nSize=30\n";

// ---- Loading whatever stands at the path ----

struct LoadRow {
    const char* name;
    // Makes the thing at dir/settings.ini (or a link there); the path to load.
    std::function<void(const test::TempDir&)> make;
    std::optional<LoadProblemCode> problem;
    int tableFontSize;          // 30: the file was read; 38: the defaults
    bool unprivileged = false;  // loaded by an unprivileged user
};

class LoadTest : public ::testing::TestWithParam<LoadRow> {};

TEST_P(LoadTest, GivesTheSettingsOrTheDefaultsAndTheProblem) {
    const LoadRow& row = GetParam();
    test::TempDir dir;
    const fs::path file = dir.file("settings.ini");
    row.make(dir);
    if (row.unprivileged) {
        fs::permissions(dir.path(), fs::perms::all);  // the unprivileged user reaches the file
    }
    // No writer ever opens the pipes: a loader that waited for one would hang here, and the
    // test run's time-out would fail the row.
    const ChildResult r = inChild(
        [&file] {
            const LoadedSettings loaded = loadSettings(file, '.');
            ChildResult out;
            out.code = loaded.problem ? static_cast<int>(loaded.problem->code) : -1;
            out.tableFontSize = loaded.settings.tableFontSize;
            out.message = loaded.problem ? loaded.problem->message : "";
            return out;
        },
        row.unprivileged);
    ASSERT_TRUE(r.finished) << "the load threw, crashed or read without bound";
    EXPECT_EQ(r.code, row.problem ? static_cast<int>(*row.problem) : -1);
    EXPECT_EQ(r.tableFontSize, row.tableFontSize);
    if (row.problem) {
        EXPECT_NE(r.message.find(file.string()), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("Dittix parte con le impostazioni predefinite."),
                  std::string::npos)
            << r.message;
    } else {
        EXPECT_EQ(r.message, "");
    }
}

const auto atFile = [](auto&& make) {
    return [make](const test::TempDir& dir) { make(dir.file("settings.ini")); };
};

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, LoadTest,
    ::testing::Values(
        LoadRow{"missing_file", [](const test::TempDir&) {}, std::nullopt, 38},
        LoadRow{"regular_file", atFile([](const fs::path& f) { test::writeBytes(f, kSmall); }),
                std::nullopt, 30},
        LoadRow{"link_to_a_regular_file",
                [](const test::TempDir& d) {
                    test::writeBytes(d.file("real.ini"), kSmall);
                    fs::create_symlink("real.ini", d.file("settings.ini"));
                },
                std::nullopt, 30},
        LoadRow{"dangling_link_is_a_missing_file",
                [](const test::TempDir& d) {
                    fs::create_symlink(d.file("nowhere.ini"), d.file("settings.ini"));
                },
                std::nullopt, 38},
        LoadRow{"directory", atFile([](const fs::path& f) { fs::create_directory(f); }),
                LoadProblemCode::NotRegularFile, 38},
        LoadRow{"fifo", atFile([](const fs::path& f) { fifo(f); }), LoadProblemCode::NotRegularFile,
                38},
        LoadRow{"link_to_a_fifo",
                [](const test::TempDir& d) {
                    fifo(d.file("pipe"));
                    fs::create_symlink(d.file("pipe"), d.file("settings.ini"));
                },
                LoadProblemCode::NotRegularFile, 38},
        LoadRow{"link_to_dev_zero",
                atFile([](const fs::path& f) { fs::create_symlink("/dev/zero", f); }),
                LoadProblemCode::NotRegularFile, 38},
        LoadRow{"one_byte_under_16_mb",
                atFile([](const fs::path& f) { sparseFile(f, kSmall, kMaxSettingsFileBytes - 1); }),
                std::nullopt, 30},
        LoadRow{"exactly_16_mb",
                atFile([](const fs::path& f) { sparseFile(f, kSmall, kMaxSettingsFileBytes); }),
                std::nullopt, 30},
        LoadRow{"one_byte_over_16_mb",
                atFile([](const fs::path& f) { sparseFile(f, kSmall, kMaxSettingsFileBytes + 1); }),
                LoadProblemCode::TooLarge, 38},
        LoadRow{"sparse_200_mb",
                atFile([](const fs::path& f) { sparseFile(f, kSmall, 200u * 1024u * 1024u); }),
                LoadProblemCode::TooLarge, 38},
        LoadRow{"links_in_a_loop",
                [](const test::TempDir& d) {
                    fs::create_symlink("other.ini", d.file("settings.ini"));
                    fs::create_symlink("settings.ini", d.file("other.ini"));
                },
                LoadProblemCode::Unreadable, 38},
        LoadRow{"no_permission_to_read", atFile([](const fs::path& f) {
                    test::writeBytes(f, kSmall);
                    fs::permissions(f, fs::perms::owner_write);
                }),
                LoadProblemCode::Unreadable, 38, true}),
    rowName);

TEST(ReadFileBytes, GivesNothingForWhatCannotBeLoaded) {
    test::TempDir dir;
    fs::create_directory(dir.file("folder"));
    sparseFile(dir.file("huge"), kSmall, kMaxSettingsFileBytes + 1);
    EXPECT_EQ(readFileBytes(dir.file("folder")), "");
    EXPECT_EQ(readFileBytes(dir.file("huge")), "");
    test::writeBytes(dir.file("small"), kSmall);
    EXPECT_EQ(readFileBytes(dir.file("small")), kSmall);
}

// ---- Saving through links ----

struct LinkRow {
    const char* name;
    // Makes the link dir/link/settings.ini (and any links between); returns the file it leads to.
    std::function<fs::path(const test::TempDir&)> make;
    bool targetExists = true;
};

class SaveThroughLinkTest : public ::testing::TestWithParam<LinkRow> {};

TEST_P(SaveThroughLinkTest, UpdatesTheTargetAndKeepsTheLinks) {
    test::TempDir dir;
    fs::create_directory(dir.file("link"));
    fs::create_directory(dir.file("dotfiles"));
    const fs::path settings = dir.file("link") / "settings.ini";
    const fs::path target = GetParam().make(dir);
    if (GetParam().targetExists) {
        test::writeBytes(target, "; mine\n[Settings]\nSize=30\n");
    }
    // Every link in the chain, with what it says, must be there afterwards as it was.
    std::vector<std::pair<fs::path, fs::path>> links;
    for (fs::path p = settings; fs::is_symlink(p);) {
        links.emplace_back(p, fs::read_symlink(p));
        p = links.back().second.is_absolute() ? links.back().second
                                              : p.parent_path() / links.back().second;
    }
    ASSERT_FALSE(links.empty());

    ASSERT_FALSE(saveEntries(settings, mainWindowSaveEntries(41, true, 700.0)));

    for (const auto& [link, text] : links) {
        ASSERT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_EQ(fs::read_symlink(link), text) << link;
    }
    const std::string expected = GetParam().targetExists
                                     ? "; mine\n[Settings]\nSize=41\nPalette=1\nTono=700\n"
                                     : "[Settings]\nSize=41\nPalette=1\nTono=700\n";
    EXPECT_EQ(readFileBytes(target), expected);
    EXPECT_EQ(readFileBytes(settings), expected);
    for (const fs::path& folder : {dir.file("link"), dir.file("dotfiles")}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, SaveThroughLinkTest,
    ::testing::Values(
        LinkRow{"absolute",
                [](const test::TempDir& d) {
                    fs::create_symlink(d.file("dotfiles") / "dittix.ini",
                                       d.file("link") / "settings.ini");
                    return d.file("dotfiles") / "dittix.ini";
                }},
        LinkRow{"relative",
                [](const test::TempDir& d) {
                    fs::create_symlink("../dotfiles/dittix.ini", d.file("link") / "settings.ini");
                    return d.file("dotfiles") / "dittix.ini";
                }},
        LinkRow{"chain_of_two_relative_then_absolute",
                [](const test::TempDir& d) {
                    fs::create_symlink("middle.ini", d.file("link") / "settings.ini");
                    fs::create_symlink(d.file("dotfiles") / "dittix.ini",
                                       d.file("link") / "middle.ini");
                    return d.file("dotfiles") / "dittix.ini";
                }},
        LinkRow{"chain_of_two_relative_from_different_folders",
                [](const test::TempDir& d) {
                    fs::create_symlink("../dotfiles/middle.ini", d.file("link") / "settings.ini");
                    fs::create_symlink("dittix.ini", d.file("dotfiles") / "middle.ini");
                    return d.file("dotfiles") / "dittix.ini";
                }},
        LinkRow{"dangling_creates_the_target",
                [](const test::TempDir& d) {
                    fs::create_symlink("../dotfiles/dittix.ini", d.file("link") / "settings.ini");
                    return d.file("dotfiles") / "dittix.ini";
                },
                false}),
    rowName);

TEST(SaveEntries, KeepsThePermissionsOfThePrivateFile) {
    test::TempDir dir;
    const fs::path file = dir.file("settings.ini");
    test::writeBytes(file, kSmall);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_FALSE(saveEntries(file, mainWindowSaveEntries(41, true, 700.0)));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// ---- Saves that must not replace what they could not read ----

struct KeptRow {
    const char* name;
    std::function<void(const fs::path&)> make;
    SaveErrorCode code;
    const char* reason;  // in the sentence
    bool unprivileged = false;
};

class SaveKeepsUnreadableTest : public ::testing::TestWithParam<KeptRow> {};

// What stands at the path, as the operator would see it: the kind, the permissions, the size
// and (for a regular file) the bytes.
std::string snapshot(const fs::path& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        return "missing";
    }
    std::string s = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode) && st.st_size < 4096) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        const ssize_t n = fd >= 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        s += " " + (n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "");
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return s;
}

TEST_P(SaveKeepsUnreadableTest, FailsAndLeavesItAsItWas) {
    const KeptRow& row = GetParam();
    test::TempDir dir;
    const fs::path file = dir.file("settings.ini");
    row.make(file);
    // An unprivileged saver may create files here: only the reading can stop it.
    fs::permissions(dir.path(), fs::perms::all);
    const std::string before = snapshot(file);
    const ChildResult r = inChild(
        [&file] {
            const auto error = saveEntries(file, mainWindowSaveEntries(41, true, 700.0));
            ChildResult out;
            out.code = error ? static_cast<int>(error->code) : -1;
            out.message = error ? error->message : "";
            return out;
        },
        row.unprivileged);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.code, static_cast<int>(row.code));
    EXPECT_EQ(r.message.rfind("Impossibile salvare le impostazioni in ", 0), 0u) << r.message;
    EXPECT_NE(r.message.find(row.reason), std::string::npos) << r.message;
    EXPECT_EQ(snapshot(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, SaveKeepsUnreadableTest,
    ::testing::Values(
        KeptRow{"directory", [](const fs::path& f) { fs::create_directory(f); },
                SaveErrorCode::CannotReadCurrent, "al suo posto c'è una cartella"},
        KeptRow{"fifo", [](const fs::path& f) { fifo(f); }, SaveErrorCode::CannotReadCurrent,
                "al suo posto c'è una pipe (FIFO)"},
        KeptRow{"one_byte_over_16_mb",
                [](const fs::path& f) { sparseFile(f, kSmall, kMaxSettingsFileBytes + 1); },
                SaveErrorCode::CannotReadCurrent, "il file attuale è più grande di 16 MB"},
        KeptRow{"no_permission_to_read",
                [](const fs::path& f) {
                    test::writeBytes(f, kSmall);
                    fs::permissions(f, fs::perms::owner_write | fs::perms::others_write);
                },
                SaveErrorCode::CannotReadCurrent,
                "il file attuale non si può leggere (permesso negato)", true},
        KeptRow{"links_in_a_loop", [](const fs::path& f) { fs::create_symlink("settings.ini", f); },
                SaveErrorCode::CannotFollowLink, "i collegamenti simbolici girano in tondo"}),
    rowName);

TEST(SaveEntries, FolderThatCannotBeMadeIsReported) {
    test::TempDir dir;
    test::writeBytes(dir.file("dittix"), "a file where the folder should be");
    const fs::path file = dir.file("dittix") / "settings.ini";
    const auto error = saveEntries(file, mainWindowSaveEntries(41, true, 700.0));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SaveErrorCode::CannotCreateFolder);
    EXPECT_EQ(error->message, "Impossibile salvare le impostazioni in " + file.string() +
                                  ": al posto della cartella " + dir.file("dittix").string() +
                                  " c'è un file.");
}

TEST(SaveEntries, MissingFolderIsMade) {
    test::TempDir dir;
    const fs::path file = dir.file("config") / "dittix" / "settings.ini";
    ASSERT_FALSE(saveEntries(file, mainWindowSaveEntries(41, true, 700.0)));
    EXPECT_EQ(readFileBytes(file), "[Settings]\nSize=41\nPalette=1\nTono=700\n");
}

// ---- Temporaries left behind by killed saves ----

struct LeftoverRow {
    const char* name;
    const char* file;  // beside settings.ini (or "dotfiles/…" beside the link's target)
    bool removed;
};

class StaleTemporariesTest : public ::testing::TestWithParam<LeftoverRow> {};

TEST_P(StaleTemporariesTest, OnlyOurOwnAreRemoved) {
    const LeftoverRow& row = GetParam();
    test::TempDir dir;
    fs::create_directory(dir.file("dotfiles"));
    test::writeBytes(dir.file("dotfiles") / "dittix.ini", kSmall);
    fs::create_symlink("dotfiles/dittix.ini", dir.file("settings.ini"));
    const fs::path leftover = dir.file(row.file);
    test::writeBytes(leftover, "half a save");

    const auto removed = removeStaleTemporaries(dir.file("settings.ini"));

    EXPECT_EQ(fs::exists(fs::symlink_status(leftover)), !row.removed);
    EXPECT_EQ(removed.size(), row.removed ? 1u : 0u);
    EXPECT_EQ(readFileBytes(dir.file("settings.ini")), kSmall);
    EXPECT_TRUE(fs::is_symlink(dir.file("settings.ini")));
}

INSTANTIATE_TEST_SUITE_P(
    Names, StaleTemporariesTest,
    ::testing::Values(
        LeftoverRow{"beside_the_link", "settings.ini.tmp-123", true},
        LeftoverRow{"beside_the_target", "dotfiles/dittix.ini.tmp-4294967295", true},
        LeftoverRow{"nineteen_digits", "settings.ini.tmp-1234567890123456789", true},
        LeftoverRow{"twenty_digits", "settings.ini.tmp-12345678901234567890", true},
        LeftoverRow{"twenty_one_digits_foreign", "settings.ini.tmp-123456789012345678901", false},
        LeftoverRow{"no_digits_foreign", "settings.ini.tmp-", false},
        LeftoverRow{"letter_after_digits_foreign", "settings.ini.tmp-12a", false},
        LeftoverRow{"suffix_after_digits_foreign", "settings.ini.tmp-123.bak", false},
        LeftoverRow{"other_file_name_foreign", "other.ini.tmp-123", false},
        LeftoverRow{"longer_name_foreign", "my-settings.ini.tmp-123", false},
        LeftoverRow{"target_name_beside_the_link_foreign", "dittix.ini.tmp-123", false},
        LeftoverRow{"link_name_beside_the_target_foreign", "dotfiles/settings.ini.tmp-123", false},
        LeftoverRow{"the_settings_file_kept", "dotfiles/dittix.ini.bak", false}),
    rowName);

TEST(StaleTemporaries, FoldersAndLinksWithTheirNamesAreKept) {
    test::TempDir dir;
    test::writeBytes(dir.file("settings.ini"), kSmall);
    fs::create_directory(dir.file("settings.ini.tmp-1"));
    test::writeBytes(dir.file("elsewhere"), "keep");
    fs::create_symlink("elsewhere", dir.file("settings.ini.tmp-2"));
    EXPECT_TRUE(removeStaleTemporaries(dir.file("settings.ini")).empty());
    EXPECT_TRUE(fs::is_directory(dir.file("settings.ini.tmp-1")));
    EXPECT_TRUE(fs::is_symlink(dir.file("settings.ini.tmp-2")));
    EXPECT_EQ(readFileBytes(dir.file("elsewhere")), "keep");
}

TEST(StaleTemporaries, ASaveMakesANameThatIsRecognised) {
    test::TempDir dir;
    const fs::path file = dir.file("settings.ini");
    fs::path seen;
    ASSERT_FALSE(writeFileAtomically(file, "x", [&] {
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            seen = entry.path();
        }
        return true;
    }));
    EXPECT_TRUE(isTemporaryNameOf(seen.filename(), file.filename())) << seen;
}

}  // namespace
}  // namespace dittix::persistence
