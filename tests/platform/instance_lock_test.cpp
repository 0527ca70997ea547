// The lock that keeps a second program from running with the same settings folder.
#include "platform/instance_lock.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "../persistence/temp_dir.h"
#include "support/named_rows.h"

namespace dittix::platform {
namespace {

namespace fs = std::filesystem;
using persistence::test::TempDir;
using test_support::PrintTo;
using test_support::rowName;

constexpr uid_t kNobody = 65534;

// A process that takes the lock and holds it until it is killed.
class Holder {
  public:
    explicit Holder(const fs::path& lockFile) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            const InstanceLock lock = InstanceLock::acquire(lockFile);
            const char state = static_cast<char>('0' + static_cast<int>(lock.state()));
            (void)!::write(ready[1], &state, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char state = 0;
        if (::read(ready[0], &state, 1) == 1) {
            m_state = static_cast<InstanceLockState>(state - '0');
        }
        ::close(ready[0]);
    }
    ~Holder() { kill(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    std::optional<InstanceLockState> state() const { return m_state; }
    void kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

  private:
    pid_t m_pid = -1;
    std::optional<InstanceLockState> m_state;
};

TEST(InstanceLock, SecondLockInTheSameFolderIsRefusedUntilTheFirstIsReleased) {
    TempDir dir;
    const fs::path file = lockFileFor(dir.file("settings.ini"));
    std::optional<InstanceLock> first = InstanceLock::acquire(file);
    ASSERT_EQ(first->state(), InstanceLockState::Held);
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::HeldElsewhere);
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::HeldElsewhere)
        << "a refused attempt must not take or spoil the lock";
    first.reset();
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::Held);
    EXPECT_TRUE(fs::exists(file)) << "the lock file stays";
}

TEST(InstanceLock, AMovedLockIsStillHeld) {
    TempDir dir;
    const fs::path file = lockFileFor(dir.file("settings.ini"));
    InstanceLock first = InstanceLock::acquire(file);
    InstanceLock moved = std::move(first);
    EXPECT_EQ(moved.state(), InstanceLockState::Held);
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::HeldElsewhere);
}

TEST(InstanceLock, FreedWhenTheHoldingProcessIsKilled) {
    TempDir dir;
    const fs::path file = lockFileFor(dir.file("settings.ini"));
    Holder holder(file);
    ASSERT_EQ(holder.state(), InstanceLockState::Held);
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::HeldElsewhere);
    holder.kill();
    EXPECT_EQ(InstanceLock::acquire(file).state(), InstanceLockState::Held);
}

TEST(InstanceLock, OtherFoldersAreNotConcerned) {
    TempDir one;
    TempDir two;
    const InstanceLock first = InstanceLock::acquire(lockFileFor(one.file("settings.ini")));
    EXPECT_EQ(InstanceLock::acquire(lockFileFor(two.file("settings.ini"))).state(),
              InstanceLockState::Held);
    EXPECT_EQ(first.state(), InstanceLockState::Held);
}

struct UnavailableRow {
    const char* name;
    std::function<fs::path(const TempDir&)> make;  // the lock file's path
};

class UnavailableTest : public ::testing::TestWithParam<UnavailableRow> {};

TEST_P(UnavailableTest, SaysSoWithTheCause) {
    TempDir dir;
    const InstanceLock lock = InstanceLock::acquire(GetParam().make(dir));
    EXPECT_EQ(lock.state(), InstanceLockState::Unavailable);
    EXPECT_TRUE(lock.error());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnavailableTest,
    ::testing::Values(UnavailableRow{"folder_missing",
                                     [](const TempDir& d) {
                                         return d.file("missing") / "settings.ini.lock";
                                     }},
                      UnavailableRow{"a_file_in_place_of_the_folder",
                                     [](const TempDir& d) {
                                         persistence::test::writeBytes(d.file("dittix"), "x");
                                         return d.file("dittix") / "settings.ini.lock";
                                     }},
                      UnavailableRow{"lock_file_is_a_link",
                                     [](const TempDir& d) {
                                         persistence::test::writeBytes(d.file("elsewhere"), "");
                                         fs::create_symlink("elsewhere",
                                                            d.file("settings.ini.lock"));
                                         return d.file("settings.ini.lock");
                                     }}),
    rowName);

// An unprivileged user meets a lock file it may only read (left by another user, or in a folder
// since made read-only): the lock still works. Run in a child process that gives up root.
TEST(InstanceLock, ALockFileThatMayOnlyBeReadStillLocks) {
    TempDir dir;
    const fs::path file = lockFileFor(dir.file("settings.ini"));
    persistence::test::writeBytes(file, "");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const InstanceLock mine = InstanceLock::acquire(file);
    ASSERT_EQ(mine.state(), InstanceLockState::Held);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(10);
        }
        // Held by this test's process: the child must be refused, not fail to open.
        ::_exit(static_cast<int>(InstanceLock::acquire(file).state()));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(InstanceLockState::HeldElsewhere));
}

}  // namespace
}  // namespace dittix::platform
