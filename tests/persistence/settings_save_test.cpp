// The three saves: each changes exactly its own keys and keeps every other byte of the file.
#include <gtest/gtest.h>

#include "persistence/settings_writer.h"
#include "persistence/text_encoding.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {
namespace {

using test_support::PrintTo;
using test_support::rowName;

std::vector<SettingEntry> setupEntries() {
    keying::TimingParameters timing{9, 13, 27, 6, 6, 30};
    keying::SpeedSettings speeds;
    speeds.lento = true;
    speeds.cpm = 44;
    speeds.cpmPalette = 60;
    return setupSaveEntries(12, timing, true, speeds, false);
}

TEST(SaveEntries, EachGroupInItsOrder) {
    const auto keys = [](const std::vector<SettingEntry>& entries) {
        std::string s;
        for (const auto& e : entries) {
            s += std::string(e.key) + "=" + e.value + ";";
        }
        return s;
    };
    EXPECT_EQ(keys(setupEntries()),
              "Serial Port=12;Dot time=9;Dot time P=6;Decode time=13;Blank time=27;"
              "Decode time P=6;Blank time P=30;Palette=1;Lento=1;CPM=44;CPM palette=60;"
              "memoriaPunto=0;");
    EXPECT_EQ(keys(trainingSaveEntries({3, 25, 2, 6, true})),
              "LIV ES=3;VEL ES=25;TEMPO ES=2;INTER ES=6;MOSTRA ES=1;");
    EXPECT_EQ(keys(mainWindowSaveEntries(45, false, 812.7)), "Size=45;Palette=0;Tono=812;");
}

struct TonoRow {
    const char* name;
    double tono;
    const char* written;
};

class TonoTruncationTest : public ::testing::TestWithParam<TonoRow> {};

TEST_P(TonoTruncationTest, WritesTruncatedInteger) {
    EXPECT_EQ(mainWindowSaveEntries(38, false, GetParam().tono)[2].value, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Values, TonoTruncationTest,
                         ::testing::Values(TonoRow{"fraction_dropped", 812.7, "812"},
                                           TonoRow{"just_below_integer", 799.999, "799"},
                                           TonoRow{"negative_toward_zero", -5.9, "-5"},
                                           TonoRow{"huge_limited", 1e300, "2147483647"}),
                         rowName);

// A file with everything a hand editor may leave: comments, blank lines, other sections, keys
// the program does not know, level keys, odd spacing, CRLF line ends.
constexpr std::string_view kForeignFile =
    "; my key setup\r\n"
    "\r\n"
    "[Radio]\r\n"
    "CPM=99\r\n"
    "[Settings]\r\n"
    "# speeds\r\n"
    "k=0.7\r\n"
    "  cpm  =  55\r\n"
    "livello1=abc\r\n"
    "Unknown Key=keep me\r\n"
    "garbage without equals\r\n"
    "Size=30\r\n"
    "\r\n"
    "[Other]\r\n"
    "Size=1\r\n"
    "; end\r\n";

TEST(ApplyEntries, MainWindowSaveChangesOnlyItsKeys) {
    const auto entries = mainWindowSaveEntries(41, true, 650.0);
    EXPECT_EQ(applyEntries(kForeignFile, entries),
              "; my key setup\r\n"
              "\r\n"
              "[Radio]\r\n"
              "CPM=99\r\n"
              "[Settings]\r\n"
              "# speeds\r\n"
              "k=0.7\r\n"
              "  cpm  =  55\r\n"
              "livello1=abc\r\n"
              "Unknown Key=keep me\r\n"
              "garbage without equals\r\n"
              "Size=41\r\n"
              "Palette=1\r\n"
              "Tono=650\r\n"
              "\r\n"
              "[Other]\r\n"
              "Size=1\r\n"
              "; end\r\n");
}

TEST(ApplyEntries, SetupSaveRewritesKeyInOtherCaseAndAppendsTheRestInOrder) {
    const std::string out = applyEntries(kForeignFile, setupEntries());
    EXPECT_EQ(out,
              "; my key setup\r\n"
              "\r\n"
              "[Radio]\r\n"
              "CPM=99\r\n"
              "[Settings]\r\n"
              "# speeds\r\n"
              "k=0.7\r\n"
              "CPM=44\r\n"
              "livello1=abc\r\n"
              "Unknown Key=keep me\r\n"
              "garbage without equals\r\n"
              "Size=30\r\n"
              "Serial Port=12\r\n"
              "Dot time=9\r\n"
              "Dot time P=6\r\n"
              "Decode time=13\r\n"
              "Blank time=27\r\n"
              "Decode time P=6\r\n"
              "Blank time P=30\r\n"
              "Palette=1\r\n"
              "Lento=1\r\n"
              "CPM palette=60\r\n"
              "memoriaPunto=0\r\n"
              "\r\n"
              "[Other]\r\n"
              "Size=1\r\n"
              "; end\r\n");
}

struct ApplyRow {
    const char* name;
    const char* before;
    const char* after;
};

class ApplyEntriesTest : public ::testing::TestWithParam<ApplyRow> {};

TEST_P(ApplyEntriesTest, TrainingSave) {
    EXPECT_EQ(applyEntries(GetParam().before, trainingSaveEntries({2, 60, 3, 1, false})),
              GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ApplyEntriesTest,
    ::testing::Values(
        ApplyRow{"empty_file", "",
                 "[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n"},
        ApplyRow{
            "no_settings_section_no_final_newline", "[A]\nx=1",
            "[A]\nx=1\n[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n"},
        ApplyRow{"all_keys_present_in_other_order",
                 "[Settings]\nMOSTRA ES=1\nINTER ES=0\nTEMPO ES=1\nVEL ES=40\nLIV ES=1\n",
                 "[Settings]\nMOSTRA ES=0\nINTER ES=1\nTEMPO ES=3\nVEL ES=60\nLIV ES=2\n"},
        ApplyRow{"last_line_without_newline", "[Settings]\nLIV ES=1",
                 "[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0"},
        ApplyRow{
            "duplicate_keys_both_updated", "[Settings]\nVEL ES=40\nVEL ES=45\n",
            "[Settings]\nVEL ES=60\nVEL ES=60\nLIV ES=2\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n"},
        ApplyRow{"section_twice_missing_keys_go_to_the_last",
                 "[Settings]\nLIV ES=1\n[X]\n[Settings]\nk=0.7\n[Y]\n",
                 "[Settings]\nLIV ES=2\n[X]\n[Settings]\nk=0.7\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\n"
                 "MOSTRA ES=0\n[Y]\n"},
        ApplyRow{"empty_settings_section", "[Settings]\n[Z]\n",
                 "[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n[Z]\n"},
        ApplyRow{"commented_key_not_touched", "[Settings]\n;VEL ES=40\n",
                 "[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n"
                 ";VEL ES=40\n"},
        ApplyRow{"lone_carriage_returns_split_lines", "[Settings]\rVEL ES=1\rk=0.7",
                 "[Settings]\rVEL ES=60\rk=0.7\rLIV ES=2\rTEMPO ES=3\rINTER ES=1\rMOSTRA ES=0"},
        ApplyRow{"unclosed_bracket_ends_the_section", "[Settings]\n[oops\nVEL ES=1\n",
                 "[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\nMOSTRA ES=0\n"
                 "[oops\nVEL ES=1\n"},
        ApplyRow{"key_in_other_section_not_touched", "[Other]\nVEL ES=40\n[Settings]\n",
                 "[Other]\nVEL ES=40\n[Settings]\nLIV ES=2\nVEL ES=60\nTEMPO ES=3\nINTER ES=1\n"
                 "MOSTRA ES=0\n"}),
    rowName);

TEST(SaveEntries, WritesAndLoadsBack) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, kForeignFile);
    ASSERT_FALSE(saveEntries(file, setupEntries()));
    ASSERT_FALSE(saveEntries(file, trainingSaveEntries({1, 60, 3, 1, true})));
    ASSERT_FALSE(saveEntries(file, mainWindowSaveEntries(44, false, 700.9)));
    const Settings s = loadSettings(file, '.').settings;
    EXPECT_EQ(s.serialPort, 12);
    EXPECT_EQ(s.timing, (keying::TimingParameters{9, 13, 27, 6, 6, 30}));
    EXPECT_FALSE(s.modes.paddleMode);  // the main window's save came last
    EXPECT_EQ(s.speeds.cpm, 44);
    EXPECT_EQ(s.tableFontSize, 44);
    EXPECT_EQ(s.tono, 700.0);
    EXPECT_EQ(s.training.velEs, 60);
    EXPECT_TRUE(s.training.mostraEs);
    EXPECT_EQ(s.levels.records[0].text, u"ABC");
    const std::string bytes = readFileBytes(file);
    EXPECT_NE(bytes.find("Unknown Key=keep me\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("Serial%20Port"), std::string::npos);
}

TEST(SaveEntries, CreatesAMissingFile) {
    test::TempDir dir;
    ASSERT_FALSE(saveEntries(dir.file("settings.ini"), mainWindowSaveEntries(38, true, 800.0)));
    EXPECT_TRUE(loadSettings(dir.file("settings.ini"), '.').settings.modes.paddleMode);
}

TEST(SaveEntries, KeepsWindows1252Bytes) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, "[Settings]\r\nlivello1=a\xE9\x80\x81\r\nSize=30\r\n");
    ASSERT_FALSE(saveEntries(file, mainWindowSaveEntries(31, false, 800.0)));
    EXPECT_EQ(readFileBytes(file),
              "[Settings]\r\nlivello1=a\xE9\x80\x81\r\nSize=31\r\nPalette=0\r\nTono=800\r\n");
}

TEST(SaveEntries, KeepsUtf16) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, encodeFileText("[Settings]\r\nlivello1=\xC3\xA9\r\n",
                                          FileEncoding::Utf16LittleEndian, true));
    ASSERT_FALSE(saveEntries(file, mainWindowSaveEntries(31, false, 800.0)));
    EXPECT_EQ(
        readFileBytes(file),
        encodeFileText("[Settings]\r\nlivello1=\xC3\xA9\r\nSize=31\r\nPalette=0\r\nTono=800\r\n",
                       FileEncoding::Utf16LittleEndian, true));
}

TEST(WriteFileAtomically, InterruptedBeforeRenameLeavesOldFileAndNoTemporary) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, "[Settings]\nSize=30\n");
    const auto error =
        saveEntries(file, mainWindowSaveEntries(44, true, 900.0), [] { return false; });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SaveErrorCode::Interrupted);
    EXPECT_EQ(readFileBytes(file), "[Settings]\nSize=30\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(WriteFileAtomically, TemporaryHoldsTheWholeNewFileBeforeTheRename) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, "old");
    std::string seen;
    ASSERT_FALSE(writeFileAtomically(file, "new contents", [&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            if (entry.path() != file) {
                seen = readFileBytes(entry.path());
            }
        }
        return true;
    }));
    EXPECT_EQ(seen, "new contents");
    EXPECT_EQ(readFileBytes(file), "new contents");
}

TEST(WriteFileAtomically, MissingDirectoryReportsErrorWithoutThrowing) {
    test::TempDir dir;
    const auto error = writeFileAtomically(dir.file("no/such/dir/settings.ini"), "x");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SaveErrorCode::CannotCreateTemporary);
    EXPECT_FALSE(error->message.empty());
}

TEST(WriteFileAtomically, TargetThatIsADirectoryIsNotReplaced) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("settings.ini"));
    const auto error = writeFileAtomically(dir.file("settings.ini"), "x");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SaveErrorCode::CannotReplace);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("settings.ini")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace dittix::persistence
