// Loading settings.ini: defaults, clamps, levels, encodings and bad input.
#include <gtest/gtest.h>

#include <random>

#include "persistence/settings.h"
#include "persistence/text_encoding.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {
namespace {

using test_support::PrintTo;
using test_support::rowName;

Settings parse(std::string_view text, char separator = '.') {
    return parseSettings(text, separator);
}

void expectDefaults(const Settings& s) {
    EXPECT_FALSE(s.modes.paddleMode);
    EXPECT_FALSE(s.speeds.lento);
    EXPECT_EQ(s.speeds.cpm, 40);
    EXPECT_EQ(s.speeds.cpmPalette, 40);
    EXPECT_EQ(s.speeds.speedFactor, 0.66);
    EXPECT_EQ(s.speeds.dotBase, 396);
    EXPECT_EQ(s.timing, (keying::TimingParameters{10, 15, 40, 10, 15, 40}));
    EXPECT_EQ(s.tono, 800.0);
    EXPECT_EQ(s.serialPort, 3);
    EXPECT_TRUE(s.tabellaCodiceVisibile);
    EXPECT_EQ(s.tableFontSize, 38);
    EXPECT_EQ(s.ar, 1);
    EXPECT_EQ(s.fs, 0);
    EXPECT_EQ(s.levels.levelCount, 0);
    EXPECT_EQ(s.training.livEs, 1);  // the first level of the built-in course
    EXPECT_EQ(s.training.velEs, 40);
    EXPECT_EQ(s.training.tempoEs, 1);
    EXPECT_EQ(s.training.interEs, 0);
    EXPECT_FALSE(s.training.mostraEs);
    EXPECT_TRUE(s.modes.memoriaPunto);
    EXPECT_FALSE(s.modes.paddleReverse);
}

TEST(LoadSettings, NoFileGivesDefaults) {
    test::TempDir dir;
    expectDefaults(loadSettings(dir.file("settings.ini"), '.').settings);
}

constexpr std::string_view kEveryKey =
    "; written by hand\r\n"
    "[Settings]\r\n"
    "k=0.5\r\n"
    "Serial Port=7\r\n"
    "Palette=1\r\n"
    "Lento=1\r\n"
    "CPM=60\r\n"
    "CPM palette=80\r\n"
    "Tono=650.5\r\n"
    "Dot time=6\r\n"
    "Decode time=18\r\n"
    "Blank time=36\r\n"
    "Dot time P=4\r\n"
    "Decode time P=4\r\n"
    "Blank time P=20\r\n"
    "AR=0\r\n"
    "FS=1\r\n"
    "Size=30\r\n"
    "livello1=eish5\r\n"
    "livello2=tmo0\r\n"
    "livello3=?=-/.,;:()'\r\n"
    "LIV ES=2\r\n"
    "VEL ES=75\r\n"
    "TEMPO ES=3\r\n"
    "INTER ES=4\r\n"
    "MOSTRA ES=1\r\n"
    "memoriaPunto=0\r\n"
    "Tabella Codice Visibile=0\r\n";

TEST(LoadSettings, EveryKeyWrittenByHand) {
    const Settings s = parse(kEveryKey);
    EXPECT_EQ(s.speeds.speedFactor, 0.5);
    EXPECT_EQ(s.speeds.dotBase, 300);
    EXPECT_EQ(s.serialPort, 7);
    EXPECT_TRUE(s.modes.paddleMode);
    EXPECT_TRUE(s.speeds.lento);
    EXPECT_EQ(s.speeds.cpm, 60);
    EXPECT_EQ(s.speeds.cpmPalette, 80);
    EXPECT_EQ(s.tono, 650.5);
    EXPECT_EQ(s.timing, (keying::TimingParameters{6, 18, 36, 4, 4, 20}));
    EXPECT_EQ(s.ar, 0);
    EXPECT_EQ(s.fs, 1);
    EXPECT_EQ(s.tableFontSize, 30);
    ASSERT_EQ(s.levels.levelCount, 3);
    EXPECT_EQ(s.levels.records[0].text, u"EISH5");
    EXPECT_EQ(s.levels.records[2].text, u"?=-/.,;:()'");
    EXPECT_EQ(s.levels.records[2].length, 11);
    EXPECT_EQ(s.training.livEs, 2);
    EXPECT_EQ(s.training.velEs, 75);
    EXPECT_EQ(s.training.tempoEs, 3);
    EXPECT_EQ(s.training.interEs, 4);
    EXPECT_TRUE(s.training.mostraEs);
    EXPECT_FALSE(s.modes.memoriaPunto);
    EXPECT_FALSE(s.tabellaCodiceVisibile);
}

TEST(LoadSettings, DerivedTimesAreNotRecomputedFromTheSpeeds) {
    const Settings s = parse("[Settings]\nCPM=120\nk=1\n");
    EXPECT_EQ(s.timing, (keying::TimingParameters{10, 15, 40, 10, 15, 40}));
}

struct ValueRow {
    const char* name;
    const char* lines;
    std::function<void(const Settings&)> check;
    char separator = '.';
};

class LoadValueTest : public ::testing::TestWithParam<ValueRow> {};

TEST_P(LoadValueTest, Loads) {
    GetParam().check(parse(std::string("[Settings]\n") + GetParam().lines, GetParam().separator));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LoadValueTest,
    ::testing::Values(ValueRow{"k_0_3_limited_to_240", "k=0.3\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 240); }},
                      ValueRow{"k_2_limited_to_600", "k=2\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 600); }},
                      ValueRow{"k_0_7_gives_419", "k=0.7\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 419); }},
                      ValueRow{"k_with_italian_comma", "k=0,7\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 419); }, ','},
                      ValueRow{"k_point_in_italian_locale_ignored", "k=0.7\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 396); }, ','},
                      ValueRow{"k_comma_in_english_locale_ignored", "k=0,7\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 396); }},
                      ValueRow{"k_nan_ignored", "k=nan\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.dotBase, 396); }},
                      ValueRow{"tono_812_7", "Tono=812.7\n",
                               [](const Settings& s) { EXPECT_EQ(s.tono, 812.7); }},
                      ValueRow{"tono_inf_ignored", "Tono=inf\n",
                               [](const Settings& s) { EXPECT_EQ(s.tono, 800.0); }},
                      ValueRow{"cpm_palette_10_unclamped", "CPM palette=10\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpmPalette, 10); }},
                      ValueRow{"cpm_10_clamped_to_30", "CPM=10\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 30); }},
                      ValueRow{"cpm_29_30_31", "CPM=29\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 30); }},
                      ValueRow{"cpm_151_clamped", "CPM=151\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 150); }},
                      ValueRow{"cpm_150_kept", "CPM=150\n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 150); }},
                      ValueRow{"vel_es_20_comes_back_as_30", "VEL ES=20\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.velEs, 30); }},
                      ValueRow{"vel_es_151", "VEL ES=151\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.velEs, 150); }},
                      ValueRow{"tempo_es_0", "TEMPO ES=0\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.tempoEs, 1); }},
                      ValueRow{"tempo_es_6", "TEMPO ES=6\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.tempoEs, 5); }},
                      ValueRow{"size_24", "Size=24\n",
                               [](const Settings& s) { EXPECT_EQ(s.tableFontSize, 25); }},
                      ValueRow{"size_25", "Size=25\n",
                               [](const Settings& s) { EXPECT_EQ(s.tableFontSize, 25); }},
                      ValueRow{"size_46", "Size=46\n",
                               [](const Settings& s) { EXPECT_EQ(s.tableFontSize, 45); }},
                      ValueRow{"liv_es_above_levels", "livello1=abc\nlivello2=def\nLIV ES=3\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 2); }},
                      ValueRow{"liv_es_0_raised_to_1", "livello1=abc\nLIV ES=0\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 1); }},
                      // Without levels in the file the built-in course's forty are offered.
                      ValueRow{"liv_es_without_levels_kept_within_the_course", "LIV ES=5\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 5); }},
                      ValueRow{"liv_es_39_without_levels", "LIV ES=39\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 39); }},
                      ValueRow{"liv_es_40_without_levels", "LIV ES=40\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 40); }},
                      ValueRow{"liv_es_41_without_levels_is_40", "LIV ES=41\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 40); }},
                      ValueRow{"liv_es_5_with_one_level_is_1", "livello1=abc\nLIV ES=5\n",
                               [](const Settings& s) { EXPECT_EQ(s.training.livEs, 1); }},
                      ValueRow{"flag_2_is_on", "Palette=2\n",
                               [](const Settings& s) { EXPECT_TRUE(s.modes.paddleMode); }},
                      ValueRow{"flag_negative_is_off", "memoriaPunto=-1\n",
                               [](const Settings& s) { EXPECT_FALSE(s.modes.memoriaPunto); }},
                      ValueRow{"flag_text_gives_default", "memoriaPunto=yes\n",
                               [](const Settings& s) { EXPECT_TRUE(s.modes.memoriaPunto); }},
                      ValueRow{"hex_serial_port", "Serial Port=0x10\n",
                               [](const Settings& s) { EXPECT_EQ(s.serialPort, 16); }},
                      ValueRow{"dollar_hex_dot_time", "Dot time=$0A\n",
                               [](const Settings& s) { EXPECT_EQ(s.timing.dotTime, 10); }},
                      ValueRow{
                          "negative_times_taken_as_stored", "Dot time P=-3\n",
                          [](const Settings& s) { EXPECT_EQ(s.timing.dotTimeP, -3); }},
                      ValueRow{"huge_number_gives_default", "Decode time=99999999999\n",
                               [](const Settings& s) { EXPECT_EQ(s.timing.decodeTime, 15); }},
                      ValueRow{"key_in_other_case", "cpm=60\nserial port=4\n",
                               [](const Settings& s) {
                                   EXPECT_EQ(s.speeds.cpm, 60);
                                   EXPECT_EQ(s.serialPort, 4);
                               }},
                      ValueRow{"blanks_around_key_and_value", "  CPM   =   60  \n",
                               [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 60); }}),
    rowName);

struct LevelRow {
    const char* name;
    const char* lines;
    std::vector<std::u16string> levels;
};

class LoadLevelsTest : public ::testing::TestWithParam<LevelRow> {};

TEST_P(LoadLevelsTest, LoadsUntilFirstEmpty) {
    const Settings s = parse(std::string("[Settings]\n") + GetParam().lines);
    ASSERT_EQ(s.levels.levelCount, static_cast<std::int32_t>(GetParam().levels.size()));
    for (std::size_t i = 0; i < GetParam().levels.size(); ++i) {
        EXPECT_EQ(s.levels.records[i].text, GetParam().levels[i]);
        EXPECT_EQ(s.levels.records[i].length,
                  static_cast<std::int32_t>(GetParam().levels[i].size()));
    }
    for (std::size_t i = GetParam().levels.size(); i < s.levels.records.size(); ++i) {
        EXPECT_TRUE(s.levels.records[i].text.empty());
        EXPECT_EQ(s.levels.records[i].length, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LoadLevelsTest,
    ::testing::Values(
        LevelRow{
            "abc_empty_xyz_stops_at_empty", "livello1=abc\nlivello2=\nlivello3=xyz\n", {u"ABC"}},
        LevelRow{"abc_missing_xyz_stops_at_missing", "livello1=abc\nlivello3=xyz\n", {u"ABC"}},
        LevelRow{"no_level_one", "livello2=abc\n", {}},
        LevelRow{"only_a_to_z_upper_cased", "livello1=a1b?\u00e9\n", {u"A1B?\u00e9"}},
        LevelRow{"repeated_characters_kept", "livello1=eeeeet\n", {u"EEEEET"}},
        LevelRow{"commas_and_equals_kept", "livello1=.,?=\n", {u".,?="}},
        LevelRow{"inner_blank_kept", "livello1=ab cd\n", {u"AB CD"}},
        LevelRow{"leading_zero_key_not_read", "livello01=abc\n", {}}),
    rowName);

TEST(LoadLevels, FortyLoadedAndTheFortyFirstIgnored) {
    std::string text = "[Settings]\n";
    for (int n = 1; n <= 41; ++n) {
        text += "livello" + std::to_string(n) + "=l" + std::to_string(n) + "\n";
    }
    const Settings s = parse(text);
    EXPECT_EQ(s.levels.levelCount, 40);
    EXPECT_EQ(s.levels.records[39].text, u"L40");
    EXPECT_TRUE(s.levels.records[40].text.empty());
}

TEST(LoadEncoding, Windows1252LevelReadAsItsCharacters) {
    test::TempDir dir;
    test::writeBytes(dir.file("settings.ini"), "[Settings]\r\nlivello1=a1b?\xE9\r\nCPM=50\r\n");
    const Settings s = loadSettings(dir.file("settings.ini"), '.').settings;
    EXPECT_EQ(s.levels.records[0].text, u"A1B?\u00e9");
    EXPECT_EQ(s.speeds.cpm, 50);
}

TEST(LoadEncoding, Utf8WithByteOrderMark) {
    test::TempDir dir;
    test::writeBytes(dir.file("settings.ini"), "\xEF\xBB\xBF[Settings]\nlivello1=\xC3\xA9t\n");
    EXPECT_EQ(loadSettings(dir.file("settings.ini"), '.').settings.levels.records[0].text,
              u"\u00e9T");
}

TEST(LoadEncoding, Utf16WithByteOrderMark) {
    test::TempDir dir;
    const std::string utf16 = encodeFileText("[Settings]\r\nCPM=55\r\nlivello1=\xC3\xA9z\r\n",
                                             FileEncoding::Utf16LittleEndian, true);
    test::writeBytes(dir.file("settings.ini"), utf16);
    const Settings s = loadSettings(dir.file("settings.ini"), '.').settings;
    EXPECT_EQ(s.speeds.cpm, 55);
    EXPECT_EQ(s.levels.records[0].text, u"\u00e9Z");
}

struct BadInputRow {
    const char* name;
    std::string bytes;
    std::function<void(const Settings&)> check;
};

class BadInputTest : public ::testing::TestWithParam<BadInputRow> {};

TEST_P(BadInputTest, NeverFailsAndFallsBackToDefaults) {
    test::TempDir dir;
    test::writeBytes(dir.file("settings.ini"), GetParam().bytes);
    GetParam().check(loadSettings(dir.file("settings.ini"), '.').settings);
}

template <std::size_t N>
std::string bytesOf(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(random());
    }
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInputTest,
    ::testing::Values(
        BadInputRow{"empty_file", "", expectDefaults},
        BadInputRow{"binary_garbage", randomBytes(4096, 1), expectDefaults},
        BadInputRow{"no_settings_section", "[Other]\nCPM=60\n", expectDefaults},
        BadInputRow{"keys_before_any_section", "CPM=60\n[Settings]\n", expectDefaults},
        BadInputRow{"section_twice", "[Settings]\nCPM=60\n[Other]\nCPM=70\n[Settings]\nLento=1\n",
                    [](const Settings& s) {
                        EXPECT_EQ(s.speeds.cpm, 60);
                        EXPECT_TRUE(s.speeds.lento);
                    }},
        BadInputRow{"duplicate_key_first_counts", "[Settings]\nCPM=60\ncpm=70\n",
                    [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 60); }},
        BadInputRow{"unclosed_bracket_hides_following_keys", "[Settings]\n[oops\nCPM=60\n",
                    expectDefaults},
        BadInputRow{"lone_carriage_returns", "[Settings]\rCPM=60\rLento=1",
                    [](const Settings& s) {
                        EXPECT_EQ(s.speeds.cpm, 60);
                        EXPECT_TRUE(s.speeds.lento);
                    }},
        BadInputRow{"section_name_other_case", "[settings]\nCPM=60\n",
                    [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 60); }},
        BadInputRow{"values_with_blanks_commas_semicolons_equals",
                    "[Settings]\nCPM=6 0\nTono=8,00\nSize=3;8\nFS=1=1\nlivello1=a;b=c, d\n",
                    [](const Settings& s) {
                        EXPECT_EQ(s.speeds.cpm, 40);
                        EXPECT_EQ(s.tono, 800.0);
                        EXPECT_EQ(s.tableFontSize, 38);
                        EXPECT_EQ(s.fs, 0);
                        EXPECT_EQ(s.levels.records[0].text, u"A;B=C, D");
                    }},
        BadInputRow{"nul_bytes",
                    bytesOf("[Settings]\nCPM=6\0"
                            "0\nLento=1\n"),
                    [](const Settings& s) {
                        EXPECT_EQ(s.speeds.cpm, 40);
                        EXPECT_TRUE(s.speeds.lento);
                    }},
        BadInputRow{"very_long_line",
                    "[Settings]\nlivello1=" + std::string(200000, 'a') + "\nCPM=60\n",
                    [](const Settings& s) {
                        EXPECT_EQ(s.levels.records[0].length, 200000);
                        EXPECT_EQ(s.speeds.cpm, 60);
                    }},
        BadInputRow{"ten_megabytes", "[Settings]\nCPM=60\n" + std::string(10'000'000, '\n'),
                    [](const Settings& s) { EXPECT_EQ(s.speeds.cpm, 60); }},
        BadInputRow{"utf16_without_byte_order_mark",
                    bytesOf("[\0S\0e\0t\0t\0i\0n\0g\0s\0]\0\n\0C\0P\0M\0=\0"
                            "6\0"
                            "0\0\n\0"),
                    [](const Settings&) {}}),
    rowName);

}  // namespace
}  // namespace dittix::persistence
