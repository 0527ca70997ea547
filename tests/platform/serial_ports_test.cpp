// Serial ports on the toolkit's serial support: port numbers to devices, and the open, status and
// close behaviour on pseudo-terminals inside the private /dev that private_dev.py builds.
#include <QCoreApplication>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "platform/serial_lines.h"
#include "support/named_rows.h"

namespace dittix::platform {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct PathRow {
    const char* name;
    int number;
    const char* path;
};

class DevicePath : public ::testing::TestWithParam<PathRow> {};

TEST_P(DevicePath, MapsPortNumberToDevice) {
    const PathRow& row = GetParam();
    EXPECT_EQ(devicePathForPort(row.number), row.path);
    EXPECT_EQ(makeSystemSerialPorts()->devicePath(row.number), row.path);
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Windows, DevicePath,
                         ::testing::Values(PathRow{"Com0", 0, ""},
                                           PathRow{"Com1", 1, R"(\\.\COM1)"},
                                           PathRow{"Com98", 98, R"(\\.\COM98)"}),
                         rowName);
#else
INSTANTIATE_TEST_SUITE_P(Linux, DevicePath,
                         ::testing::Values(PathRow{"ComMinus1", -1, ""}, PathRow{"Com0", 0, ""},
                                           PathRow{"Com1FirstUsb", 1, "/dev/ttyUSB0"},
                                           PathRow{"Com2", 2, "/dev/ttyUSB1"},
                                           PathRow{"Com16LastUsb", 16, "/dev/ttyUSB15"},
                                           PathRow{"Com17FirstAcm", 17, "/dev/ttyACM0"},
                                           PathRow{"Com32LastAcm", 32, "/dev/ttyACM15"},
                                           PathRow{"Com33FirstS", 33, "/dev/ttyS0"},
                                           PathRow{"Com64LastS", 64, "/dev/ttyS31"},
                                           PathRow{"Com65", 65, ""}, PathRow{"Com98", 98, ""},
                                           PathRow{"Com99", 99, ""}),
                         rowName);
#endif

struct NumberRow {
    const char* name;
    int number;
    const char* shownAs;
};

class PortWithoutDevice : public ::testing::TestWithParam<NumberRow> {};

// These numbers have no device, so nothing is opened and the machine's ports are safe.
TEST_P(PortWithoutDevice, FailsAsNoDeviceNamingThePort) {
    const NumberRow& row = GetParam();
    const SerialOpenResult result = makeSystemSerialPorts()->open(row.number);
    EXPECT_EQ(result.handle, nullptr);
    EXPECT_EQ(result.error.code, SerialErrorCode::NoDevice);
    EXPECT_NE(result.error.message.find(row.shownAs), std::string::npos) << result.error.message;
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Windows, PortWithoutDevice,
                         ::testing::Values(NumberRow{"Com0", 0, "COM0"}), rowName);
#else
INSTANTIATE_TEST_SUITE_P(Linux, PortWithoutDevice,
                         ::testing::Values(NumberRow{"Com0", 0, "COM0"},
                                           NumberRow{"Com65", 65, "COM65"},
                                           NumberRow{"Com99", 99, "COM99"}),
                         rowName);

// Everything below opens devices: it runs only where /dev is the private one, whose marker
// file the machine's /dev never has. Each test runs on both implementations: the system's (the
// terminal interface) and the toolkit's (what Windows uses).
bool inPrivateDev() {
    return std::filesystem::exists("/dev/.private-dev-for-tests");
}

struct Implementation {
    const char* name;
    std::unique_ptr<SerialPorts> (*make)();
    bool opensOnAnyThread;
};

constexpr Implementation kSystem{"System", makeSystemSerialPorts, true};
constexpr Implementation kToolkit{"Toolkit", makeToolkitSerialPorts, false};
const auto kBoth = ::testing::Values(kSystem, kToolkit);

// Counts the toolkit's messages, to show that failing reads stay quiet.
int g_messages = 0;
void countMessage(QtMsgType, const QMessageLogContext&, const QString&) {
    ++g_messages;
}

class PrivateDevBase : public ::testing::Test {
  protected:
    virtual const Implementation& implementation() const = 0;

    void SetUp() override {
        if (!inPrivateDev()) {
            GTEST_SKIP() << "opens serial devices: run through tests/platform/private_dev.py";
        }
        g_messages = 0;
        m_previousHandler = qInstallMessageHandler(countMessage);
        m_counting = true;
        m_ports = implementation().make();
    }
    void TearDown() override {
        if (m_counting) {
            qInstallMessageHandler(m_previousHandler);
        }
    }

    std::unique_ptr<SerialPorts> m_ports;

  private:
    QtMessageHandler m_previousHandler = nullptr;
    bool m_counting = false;
};

class PrivateDev : public PrivateDevBase, public ::testing::WithParamInterface<Implementation> {
  protected:
    const Implementation& implementation() const override { return GetParam(); }
};

// A table of rows, each run on both implementations.
template <class Row>
class PrivateDevRows : public PrivateDevBase,
                       public ::testing::WithParamInterface<std::tuple<Implementation, Row> > {
  protected:
    const Implementation& implementation() const override { return std::get<0>(this->GetParam()); }
    const Row& row() const { return std::get<1>(this->GetParam()); }
};

constexpr auto implementationAndRowName = [](const auto& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
};

TEST_P(PrivateDev, SaysWhetherItOpensOnAnyThread) {
    EXPECT_EQ(m_ports->opensOnAnyThread(), GetParam().opensOnAnyThread);
}

struct FamilyRow {
    const char* name;
    int number;
};

using PrivateDevFamily = PrivateDevRows<FamilyRow>;

// The private /dev has a terminal behind the first device of each family.
TEST_P(PrivateDevFamily, OpensTheMappedDevice) {
    const SerialOpenResult result = m_ports->open(row().number);
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    EXPECT_TRUE(result.handle->isOpen());
    EXPECT_EQ(g_messages, 0);
}

INSTANTIATE_TEST_SUITE_P(FirstOfEach, PrivateDevFamily,
                         ::testing::Combine(kBoth, ::testing::Values(FamilyRow{"Com1TtyUsb0", 1},
                                                                     FamilyRow{"Com17TtyAcm0", 17},
                                                                     FamilyRow{"Com33TtyS0", 33})),
                         implementationAndRowName);

struct MissingRow {
    const char* name;
    int number;
    const char* path;
};

using PrivateDevMissing = PrivateDevRows<MissingRow>;

TEST_P(PrivateDevMissing, FailsAsNoDeviceNamingThePath) {
    const SerialOpenResult result = m_ports->open(row().number);
    EXPECT_EQ(result.handle, nullptr);
    EXPECT_EQ(result.error.code, SerialErrorCode::NoDevice);
    EXPECT_EQ(result.error.message.rfind(std::string(row().path) + ": ", 0), 0u)
        << result.error.message;
}

INSTANTIATE_TEST_SUITE_P(
    NoNode, PrivateDevMissing,
    ::testing::Combine(kBoth, ::testing::Values(MissingRow{"Com2", 2, "/dev/ttyUSB1"},
                                                MissingRow{"Com16", 16, "/dev/ttyUSB15"},
                                                MissingRow{"Com18", 18, "/dev/ttyACM1"},
                                                MissingRow{"Com64", 64, "/dev/ttyS31"})),
    implementationAndRowName);

TEST_P(PrivateDev, SecondOpenOfAnOpenPortIsBusy) {
    const SerialOpenResult first = m_ports->open(1);
    ASSERT_NE(first.handle, nullptr) << first.error.message;
    const SerialOpenResult second = GetParam().make()->open(1);
    EXPECT_EQ(second.handle, nullptr);
    EXPECT_EQ(second.error.code, SerialErrorCode::Busy);
    EXPECT_EQ(second.error.message.rfind("/dev/ttyUSB0: ", 0), 0u) << second.error.message;
    EXPECT_TRUE(first.handle->isOpen());
}

// The lock file that other programs look for: in the lock folder, named after the device, with
// this process's number on its first line, for as long as the port is open.
TEST_P(PrivateDev, LockFileNamesThisProgramWhileThePortIsOpen) {
    const std::filesystem::path lock = "/var/lock/LCK..ttyUSB0";
    ASSERT_FALSE(std::filesystem::exists(lock));
    const SerialOpenResult result = m_ports->open(1);
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    std::ifstream in(lock);
    long pid = 0;
    in >> pid;
    EXPECT_EQ(pid, static_cast<long>(::getpid())) << lock;
    result.handle->close();
    EXPECT_FALSE(std::filesystem::exists(lock));
}

// Another program: a child process (as the user nobody when asked) opens COM1 with the given
// implementation, answers on `ready` (0 for an open port, otherwise 1 + the error code) and
// keeps the port until the parent closes `release`.
struct Child {
    pid_t pid = -1;
    int ready = -1;
    int release = -1;
};

constexpr int kRunAsNobody = 65534;

Child startOpener(bool asNobody, const Implementation& implementation) {
    int readyPipe[2];
    int releasePipe[2];
    if (::pipe(readyPipe) != 0 || ::pipe(releasePipe) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(readyPipe[0]);
        ::close(releasePipe[1]);
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kRunAsNobody) != 0 ||
                         ::setuid(kRunAsNobody) != 0)) {
            ::_exit(100);
        }
        SerialOpenResult result = implementation.make()->open(1);
        const char answer =
            result.handle ? 0 : static_cast<char>(1 + static_cast<int>(result.error.code));
        if (::write(readyPipe[1], &answer, 1) != 1) {
            ::_exit(101);
        }
        char ignored;
        while (::read(releasePipe[0], &ignored, 1) > 0) {
        }
        if (result.handle) {
            result.handle->close();
        }
        ::_exit(0);
    }
    ::close(readyPipe[1]);
    ::close(releasePipe[0]);
    return {pid, readyPipe[0], releasePipe[1]};
}

int childAnswer(const Child& child) {
    char answer = -1;
    return ::read(child.ready, &answer, 1) == 1 ? answer : -1;
}

int finish(const Child& child) {
    ::close(child.release);
    ::close(child.ready);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr int answerFor(SerialErrorCode code) {
    return 1 + static_cast<int>(code);
}

// The other program uses either implementation: as the superuser, whom the device's exclusive
// mode does not stop, only the shared lock file keeps the two apart.
struct HolderRow {
    const char* name;
    Implementation holder;
};

using PrivateDevHeld = PrivateDevRows<HolderRow>;

TEST_P(PrivateDevHeld, PortHeldByAnotherProgramIsBusyUntilItLetsGo) {
    const Child holder = startOpener(false, row().holder);
    ASSERT_GT(holder.pid, 0);
    ASSERT_EQ(childAnswer(holder), 0) << "the other program could not open COM1";
    const SerialOpenResult refused = m_ports->open(1);
    EXPECT_EQ(refused.handle, nullptr);
    EXPECT_EQ(refused.error.code, SerialErrorCode::Busy) << refused.error.message;
    EXPECT_EQ(finish(holder), 0);
    const SerialOpenResult after = m_ports->open(1);
    EXPECT_NE(after.handle, nullptr) << after.error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PrivateDevHeld,
    ::testing::Combine(kBoth, ::testing::Values(HolderRow{"HeldBySystem", kSystem},
                                                HolderRow{"HeldByToolkit", kToolkit})),
    implementationAndRowName);

TEST_P(PrivateDev, DeviceThisUserMayNotUseIsPermissionDenied) {
    // The pseudo-terminal belongs to root and is closed to others: an ordinary user is refused.
    const Child nobody = startOpener(true, GetParam());
    ASSERT_GT(nobody.pid, 0);
    EXPECT_EQ(childAnswer(nobody), answerFor(SerialErrorCode::PermissionDenied));
    EXPECT_EQ(finish(nobody), 0);
}

TEST_P(PrivateDev, StatusOfATerminalWithoutModemLinesReadsZeroQuietly) {
    const SerialOpenResult result = m_ports->open(1);
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    std::uint32_t seen = 0;
    for (int i = 0; i < 1000; ++i) {
        seen |= result.handle->readModemStatus();
    }
    EXPECT_EQ(seen, 0u);
    EXPECT_TRUE(result.handle->isOpen());
    EXPECT_EQ(g_messages, 0);
}

// How many of this process's descriptors are open on the device at `path`.
int descriptorsOn(const char* path) {
    struct stat device {};
    if (::stat(path, &device) != 0) {
        return -1;
    }
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat open {};
        if (::stat(entry.path().c_str(), &open) == 0 && S_ISCHR(open.st_mode) &&
            open.st_rdev == device.st_rdev) {
            ++count;
        }
    }
    return count;
}

TEST_P(PrivateDev, CloseReleasesThePortAndIsQuietWhenRepeated) {
    const SerialOpenResult first = m_ports->open(1);
    ASSERT_NE(first.handle, nullptr) << first.error.message;
    EXPECT_EQ(descriptorsOn("/dev/ttyUSB0"), 1);
    first.handle->close();
    EXPECT_EQ(descriptorsOn("/dev/ttyUSB0"), 0);
    EXPECT_FALSE(first.handle->isOpen());
    first.handle->close();
    EXPECT_EQ(first.handle->readModemStatus(), 0u);
    const SerialOpenResult again = m_ports->open(1);
    EXPECT_NE(again.handle, nullptr) << again.error.message;
    EXPECT_EQ(g_messages, 0);
}

TEST_P(PrivateDev, DroppingTheLastOwnerReleasesThePort) {
    {
        const SerialOpenResult dropped = m_ports->open(1);
        ASSERT_NE(dropped.handle, nullptr) << dropped.error.message;
    }
    const SerialOpenResult again = m_ports->open(1);
    EXPECT_NE(again.handle, nullptr) << again.error.message;
}

TEST_P(PrivateDev, ClosingThroughOneOwnerClosesForAll) {
    const SerialOpenResult result = m_ports->open(1);
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    const std::shared_ptr<SerialHandle> keyPort = result.handle;
    const std::shared_ptr<SerialHandle> foundPort = result.handle;
    foundPort->close();
    EXPECT_FALSE(keyPort->isOpen());
    EXPECT_EQ(keyPort->readModemStatus(), 0u);
    EXPECT_NE(m_ports->open(1).handle, nullptr);
    EXPECT_EQ(g_messages, 0);
}

// The line's settings while the port is open, seen through a second descriptor of the device
// (the superuser may open it beside the exclusive one), and after it closes.
TEST_P(PrivateDev, LineIsRawAndLocalWhileOpenAndAsFoundAfter) {
    const int side = ::open("/dev/ttyUSB0", O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(side, 0);
    termios original{};
    ASSERT_EQ(::tcgetattr(side, &original), 0);
    termios found = original;
    found.c_lflag |= ECHO | ICANON | ISIG;
    found.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    ::cfsetispeed(&found, B1200);
    ::cfsetospeed(&found, B1200);
    ASSERT_EQ(::tcsetattr(side, TCSANOW, &found), 0);

    const SerialOpenResult result = m_ports->open(1);
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    termios open{};
    ASSERT_EQ(::tcgetattr(side, &open), 0);
    EXPECT_EQ(open.c_lflag & (ECHO | ICANON | ISIG), 0u) << "nothing is echoed or signalled";
    EXPECT_NE(open.c_cflag & CLOCAL, 0u) << "a carrier that drops does not hang up";
    result.handle->close();

    termios after{};
    ASSERT_EQ(::tcgetattr(side, &after), 0);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG), found.c_lflag & (ECHO | ICANON | ISIG));
    EXPECT_EQ(after.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B1200));
    ::tcsetattr(side, TCSANOW, &original);
    ::close(side);
}

INSTANTIATE_TEST_SUITE_P(Implementations, PrivateDev, kBoth, rowName);

// A port opened on one thread, then read and closed on another, as the setup window's scan
// does: only for the implementation that allows it.
class PrivateDevThreads : public PrivateDev {};

TEST_P(PrivateDevThreads, OpenedOnOneThreadReadAndClosedOnAnother) {
    SerialOpenResult result;
    std::thread opener([&] { result = m_ports->open(1); });
    opener.join();
    ASSERT_NE(result.handle, nullptr) << result.error.message;
    EXPECT_EQ(result.handle->readModemStatus(), 0u);
    result.handle->close();
    EXPECT_FALSE(result.handle->isOpen());
    EXPECT_NE(m_ports->open(1).handle, nullptr) << "closed on this thread, free again";
    EXPECT_EQ(g_messages, 0);
}

INSTANTIATE_TEST_SUITE_P(OnAnyThread, PrivateDevThreads, ::testing::Values(kSystem), rowName);
#endif

}  // namespace
}  // namespace dittix::platform

// The program always has an application object on the interface thread; so do these tests.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
