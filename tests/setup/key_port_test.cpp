// The key port, the scan and the line monitor against ports in memory.
#include "setup/key_port.h"

#include <gtest/gtest.h>

#include "fake_serial_ports.h"
#include "support/named_rows.h"

namespace dittix::setup {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct Ports {
    explicit Ports(std::set<int> existing, std::int32_t stored) : number(stored) {
        fake.existing = std::move(existing);
    }
    test::FakeSerialPorts fake;
    std::int32_t number;
    KeyPort key{fake, number};

    std::vector<int> foundNumbers() const {
        std::vector<int> n;
        for (int i = 0; i < key.found().count; ++i) {
            n.push_back(key.found().entries[static_cast<std::size_t>(i)].number);
        }
        return n;
    }
};

TEST(KeyPort, OpenAtStartUpAndReadLines) {
    Ports p({3}, 3);
    p.key.openKeyPort();
    ASSERT_TRUE(p.key.isOpen());
    p.fake.lines[3] = 0x80;
    EXPECT_EQ(p.key.readKeyLines(), 0x80U);
    p.fake.failingReads.insert(3);
    EXPECT_EQ(p.key.readKeyLines(), 0U);
}

TEST(KeyPort, NoPortReadsZeroWithoutTouchingAnything) {
    Ports p({}, 3);
    p.key.openKeyPort();
    EXPECT_FALSE(p.key.isOpen());
    EXPECT_EQ(p.key.readKeyLines(), 0U);
    EXPECT_EQ(p.key.unableMessage().text, "Unable to open COM3");
}

struct ScanRow {
    const char* name;
    std::set<int> existing;
    std::int32_t stored;
    std::vector<int> found;
    std::int32_t keyNumber;
    bool keyOpen;
    bool fellBack;
};

class ScanTest : public ::testing::TestWithParam<ScanRow> {};

TEST_P(ScanTest, FindsAtMostFiveAndPicksTheKeyPort) {
    Ports p(GetParam().existing, GetParam().stored);
    p.key.openKeyPort();
    const auto outcome = p.key.scan();
    EXPECT_EQ(p.foundNumbers(), GetParam().found);
    EXPECT_EQ(p.key.number(), GetParam().keyNumber);
    EXPECT_EQ(p.number, GetParam().keyNumber) << "the shared setting follows";
    EXPECT_EQ(p.key.isOpen(), GetParam().keyOpen);
    EXPECT_EQ(outcome.fellBack, GetParam().fellBack);
    for (const auto& [port, count] : p.fake.opens) {
        EXPECT_EQ(count - p.fake.closes[port], p.fake.openNow.count(port)) << port;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ScanTest,
    ::testing::Values(
        ScanRow{"none_found", {}, 3, {}, 3, false, false},
        ScanRow{"key_port_among_found", {2, 3, 9}, 3, {2, 3, 9}, 3, true, false},
        ScanRow{"key_port_missing_first_found_replaces_it", {4, 6}, 3, {4, 6}, 4, true, true},
        ScanRow{"seven_ports_key_7_only_five_opened",
                {1, 2, 3, 4, 5, 6, 7},
                7,
                {1, 2, 3, 4, 5},
                1,
                true,
                true},
        ScanRow{"stored_number_out_of_range", {98}, 200, {98}, 98, true, true},
        ScanRow{"fifth_found_is_the_key_port",
                {10, 20, 30, 40, 50, 60},
                50,
                {10, 20, 30, 40, 50},
                50,
                true,
                false}),
    rowName);

TEST(Scan, SevenPortsAreNotProbedBeyondTheFifthFound) {
    Ports p({1, 2, 3, 4, 5, 6, 7}, 7);
    p.key.scan();
    EXPECT_EQ(p.fake.probed, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(p.fake.opens.count(6), 0U);
}

TEST(Scan, RescanClosesEveryPortOnceAndReopens) {
    Ports p({2, 3, 5}, 3);
    p.key.openKeyPort();  // the key port's own handle on 3
    p.key.scan();         // closes it, then finds 2, 3, 5 and shares 3
    p.key.scan();         // closes 2, 3 (once, although shared) and 5
    for (const int port : {2, 5}) {
        EXPECT_EQ(p.fake.opens[port], 2) << port;
        EXPECT_EQ(p.fake.closes[port], 1) << port;
    }
    EXPECT_EQ(p.fake.opens[3], 3);
    EXPECT_EQ(p.fake.closes[3], 2);
    EXPECT_TRUE(p.key.isOpen());
}

TEST(PortPick, PortHeldByAnotherRowFailsAndTheFormerRowGoesDark) {
    Ports p({2, 3}, 3);
    p.key.scan();
    p.fake.lines[3] = 0x10;
    EXPECT_TRUE(p.key.monitor()[1]);
    const PortMessage message = p.key.serialeChange(1);  // COM2, held by row 1
    EXPECT_EQ(message.text, "Unable to open COM2");
    EXPECT_EQ(message.detail, "/dev/fake2: busy");
    EXPECT_EQ(p.key.number(), 2);
    EXPECT_FALSE(p.key.isOpen());
    EXPECT_FALSE(p.key.monitor()[1]) << "the key port closed row 2's port";
    EXPECT_FALSE(p.key.found().entries[1].isOpen());
}

TEST(PortPick, KeyPortsOwnPortReopensAndItsRowStaysDark) {
    Ports p({2, 3}, 3);
    p.key.scan();
    p.fake.lines[3] = 0x20;
    const PortMessage message = p.key.serialeChange(2);
    EXPECT_TRUE(message.text.empty());
    EXPECT_TRUE(p.key.isOpen());
    EXPECT_EQ(p.key.readKeyLines(), 0x20U);
    EXPECT_FALSE(p.key.monitor()[1]);
    EXPECT_EQ(p.fake.opens[3], 2);
}

TEST(RowChoice, SharesTheRowsPortWithoutOpeningOrClosingIt) {
    Ports p({2, 3, 4}, 3);
    p.key.scan();
    const auto opens = p.fake.opens;
    p.key.rbComClick(2);
    EXPECT_EQ(p.key.number(), 4);
    EXPECT_EQ(p.number, 4);
    EXPECT_TRUE(p.key.isOpen());
    EXPECT_EQ(p.fake.opens, opens);
    EXPECT_TRUE(p.key.found().entries[1].isOpen()) << "row 2's port stays open for its row";
    p.fake.lines[4] = 0x40;
    EXPECT_EQ(p.key.readKeyLines(), 0x40U);
}

TEST(RowChoice, PortTheKeyPortOpenedItselfIsClosed) {
    Ports p({2, 3, 7}, 3);
    p.key.scan();            // rows COM2, COM3, COM7
    p.key.serialeChange(2);  // COM3 reopened by the key port itself
    p.key.rbComClick(0);     // then row COM2 chosen
    EXPECT_EQ(p.fake.openNow.count(3), 0U) << "COM3 is not left locked";
    EXPECT_EQ(p.key.number(), 2);
}

TEST(RowChoice, RowWhosePortWasClosedLeavesNoHandle) {
    Ports p({2, 3}, 3);
    p.key.scan();
    p.key.serialeChange(1);  // fails, closes row 2's port (shared with the key port)
    p.key.rbComClick(1);
    EXPECT_FALSE(p.key.isOpen());
    EXPECT_EQ(p.key.number(), 3);
}

TEST(Monitor, EachLineLightsItsRowAndAFailedReadDoesNot) {
    Ports p({1, 2, 3}, 1);
    p.key.scan();
    for (const std::uint32_t line : {0x10U, 0x20U, 0x40U, 0x80U}) {
        p.fake.lines[2] = line;
        EXPECT_EQ(p.key.monitor(), (std::array<bool, 5>{false, true, false, false, false}));
    }
    p.fake.lines[1] = 0x10;
    p.fake.failingReads.insert(2);
    EXPECT_EQ(p.key.monitor(), (std::array<bool, 5>{true, false, false, false, false}));
}

}  // namespace
}  // namespace dittix::setup
