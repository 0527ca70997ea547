// Randomized files: mutations of a real settings file and raw noise must load without failing,
// and a save must change nothing but its own keys. A fixed number of seeds keeps the run bounded
// and repeatable.
#include <gtest/gtest.h>

#include <random>

#include "persistence/course.h"
#include "persistence/settings.h"
#include "persistence/settings_writer.h"
#include "persistence/text_encoding.h"

namespace dittix::persistence {
namespace {

constexpr std::string_view kSeedFile =
    "; comment\r\n[Settings]\r\nk=0.7\r\nSerial Port=4\r\nPalette=1\r\nCPM=60\r\nTono=812.7\r\n"
    "Dot time=6\r\nSize=40\r\nlivello1=abc\r\nlivello2=\xC3\xA9\xC3\xA8?\r\nLIV ES=2\r\n"
    "VEL ES=20\r\n[Other]\r\nx=y\r\n";

std::string mutate(std::string text, std::mt19937& random) {
    const std::string_view pieces[] = {
        "=", "[", "]",  "\n",   "\r",   ";",          "#",         "0x",
        "$", "-", "\0", "\xFF", "\xC3", "[Settings]", "livello3=", "99999999999"};
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = random() % text.size();
        switch (random() % 4) {
            case 0:
                text[at] = static_cast<char>(random());
                break;
            case 1:
                text.erase(at, 1 + random() % 8);
                break;
            case 2: {
                const auto& piece = pieces[random() % std::size(pieces)];
                text.insert(at, piece.empty() ? std::string_view("\0", 1) : piece);
                break;
            }
            default:
                text.insert(at, text.substr(random() % text.size(), random() % 16));
        }
    }
    return text;
}

void checkSane(const Settings& s) {
    EXPECT_GE(s.speeds.dotBase, 240);
    EXPECT_LE(s.speeds.dotBase, 600);
    EXPECT_GE(s.tableFontSize, 25);
    EXPECT_LE(s.tableFontSize, 45);
    EXPECT_GE(s.speeds.cpm, 30);
    EXPECT_LE(s.speeds.cpm, 150);
    EXPECT_GE(s.levels.levelCount, 0);
    EXPECT_LE(s.levels.levelCount, 40);
    EXPECT_GE(s.training.livEs, 1);
    EXPECT_LE(s.training.livEs, levelsToOffer(s.levels).levelCount);
    for (std::int32_t i = 0; i < s.levels.levelCount; ++i) {
        EXPECT_GT(s.levels.records[static_cast<std::size_t>(i)].length, 0);
    }
}

TEST(SettingsFuzz, MutatedFilesLoadAndSaveOnlyTheirKeys) {
    std::mt19937 random(20261209);
    const auto entries = mainWindowSaveEntries(41, true, 650.0);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes = mutate(std::string(kSeedFile), random);
        const DecodedText decoded = decodeFileBytes(bytes);
        const Settings before = parseSettings(decoded.utf8, '.');
        checkSane(before);

        const std::string saved = applyEntries(decoded.utf8, entries);
        const Settings after = parseSettings(saved, '.');
        checkSane(after);
        // The saved keys read back, and nothing else moved.
        EXPECT_EQ(after.tableFontSize, 41) << round;
        EXPECT_TRUE(after.modes.paddleMode) << round;
        EXPECT_EQ(after.tono, 650.0) << round;
        EXPECT_EQ(after.speeds.dotBase, before.speeds.dotBase) << round;
        EXPECT_EQ(after.serialPort, before.serialPort) << round;
        EXPECT_EQ(after.timing, before.timing) << round;
        EXPECT_EQ(after.levels.levelCount, before.levels.levelCount) << round;
        if (HasFailure()) {
            ADD_FAILURE() << "input: " << ::testing::PrintToString(bytes);
            return;
        }
    }
}

TEST(SettingsFuzz, RandomNoiseLoads) {
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() % 4 == 0 ? "=[]\n"[random() % 4] : random());
        }
        checkSane(parseSettings(decodeFileBytes(bytes).utf8, ','));
    }
}

}  // namespace
}  // namespace dittix::persistence
