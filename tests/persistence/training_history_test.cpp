// The history's CSV text: the columns of a row, quoting, the round trip of awkward texts, the
// dates, and the reading that skips damaged rows and keeps the rest.
#include "persistence/training_history.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "persistence/history_rows.h"
#include "support/named_rows.h"

namespace dittix::persistence {
namespace {

using test::historyRow;
using test::kWinterInstant;
using test_support::PrintTo;
using test_support::rowName;

std::string withHeader(const std::string& records) {
    return std::string(kHistoryHeader) + records;
}

TEST(HistoryRecord, ColumnsInOrderWithOneDecimalAndQuotedTrailingBlank) {
    const HistoryRow row = historyRow(u"KMK M ", u"KMX M");
    EXPECT_EQ(formatHistoryRecord(row),
              "2026-12-10T14:03:22+01:00,receive,3,KMUR,60,2,1.5,4,3,1,0,0,75.0,\"KMK M \","
              "KMX M\r\n");
}

TEST(HistoryRecord, NothingSentLeavesTheAccuracyEmptyAndSendModeIsNamed) {
    const HistoryRow row = historyRow(u"", u"K", 1, TrainingMode::Send);
    EXPECT_EQ(formatHistoryRecord(row),
              "2026-12-10T14:03:22+01:00,send,1,KMUR,60,2,1.5,0,0,0,0,1,,,K\r\n");
}

TEST(HistoryRecord, MakeHistoryRowTakesItsCountsFromTheScore) {
    HistoryExercise exercise;
    exercise.level = 2;
    const HistoryRow row = makeHistoryRow(exercise, u"ABCD ", u"AXD", 1000);
    EXPECT_EQ(row.sent, 4);
    EXPECT_EQ(row.right, 2);
    EXPECT_EQ(row.wrong, 1);
    EXPECT_EQ(row.missed, 1);
    EXPECT_EQ(row.extra, 0);
    EXPECT_EQ(row.accuracyTenths, 500);
    EXPECT_EQ(row.unixSeconds, 1000);
    EXPECT_EQ(parseTimestamp(row.date), 1000);
    EXPECT_TRUE(isConsistentRow(row));
}

struct RoundTripRow {
    const char* name;
    std::u16string sent;
    std::u16string copy;
    std::u16string levelChars;
    TrainingMode mode;
};

class RoundTrip : public testing::TestWithParam<RoundTripRow> {};

TEST_P(RoundTrip, ReadsBackTheRowAsWritten) {
    const RoundTripRow& p = GetParam();
    HistoryRow row = historyRow(p.sent, p.copy, 7, p.mode);
    row.exercise.levelChars = p.levelChars;
    const std::string record = formatHistoryRecord(row);
    for (const std::string& text : {withHeader(record), record}) {
        const ParsedHistory parsed = parseHistory(text);
        ASSERT_EQ(parsed.rows.size(), 1U) << text;
        EXPECT_EQ(parsed.rows[0], row);
        EXPECT_EQ(parsed.skipped, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RoundTrip,
    testing::Values(
        RoundTripRow{"Plain", u"KMURE SNAPT ", u"KMURE SNAPT", u"KMURESNAPT",
                     TrainingMode::Receive},
        RoundTripRow{"CommaInCopy", u"K, M", u"K,M", u"KM,", TrainingMode::Receive},
        RoundTripRow{"QuotesInCopy", u"KM", u"K\"M\"", u"KM", TrainingMode::Receive},
        RoundTripRow{"QuoteAlone", u"K", u"\"", u"K", TrainingMode::Receive},
        RoundTripRow{"LineFeedInCopy", u"KMUR", u"KM\nUR", u"KMUR", TrainingMode::Receive},
        RoundTripRow{"CrLfInCopy", u"KMUR", u"KM\r\nUR\r\n", u"KMUR", TrainingMode::Receive},
        RoundTripRow{"LoneCrInCopy", u"KM", u"K\rM", u"KM", TrainingMode::Receive},
        RoundTripRow{"LeadingBlank", u" KM", u" KM", u"KM", TrainingMode::Receive},
        RoundTripRow{"TrailingTab", u"KM", u"KM\t", u"KM", TrainingMode::Receive},
        RoundTripRow{"OnlyBlanksTyped", u"KM", u"   ", u"KM", TrainingMode::Receive},
        RoundTripRow{"NothingTyped", u"KM KM ", u"", u"KM", TrainingMode::Receive},
        RoundTripRow{"NothingSent", u"", u"K", u"KM", TrainingMode::Send},
        RoundTripRow{"NonAscii", u"0E", u"\u00D8 \u00E9\u20AC", u"0E\u00E9", TrainingMode::Receive},
        RoundTripRow{"OutsideTheBasicPlane", u"K", u"K\U0001F600", u"K", TrainingMode::Receive},
        RoundTripRow{"PunctuationLevel", u".=?/,", u".=?/,", u",.=?/", TrainingMode::Receive},
        RoundTripRow{"CopyThatLooksLikeTheHeader", u"KM", u"date,mode", u"KM",
                     TrainingMode::Receive},
        RoundTripRow{"CopyThatLooksLikeARowStart", u"KM", u"K\n2026-12-10T14:03:22+01:00,receive,",
                     u"KM", TrainingMode::Receive}),
    rowName);

TEST(RoundTrip, ManyRowsComeBackInTheirOrder) {
    std::vector<HistoryRow> rows;
    std::string text(kHistoryHeader);
    for (int k = 1; k <= 40; ++k) {
        rows.push_back(historyRow(u"KM \"" + std::u16string(static_cast<std::size_t>(k), u'E'),
                                  u"K,\n" + std::u16string(static_cast<std::size_t>(k % 7), u'E'),
                                  k));
        text += formatHistoryRecord(rows.back());
    }
    const ParsedHistory parsed = parseHistory(text);
    EXPECT_EQ(parsed.rows, rows);
    EXPECT_EQ(parsed.skipped, 0);
}

struct TimestampRow {
    const char* name;
    std::string text;
    std::optional<std::int64_t> instant;
};

class Timestamp : public testing::TestWithParam<TimestampRow> {};

TEST_P(Timestamp, Parses) {
    EXPECT_EQ(parseTimestamp(GetParam().text), GetParam().instant);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Timestamp,
    testing::Values(TimestampRow{"PlusOneHour", "2026-12-10T14:03:22+01:00", kWinterInstant},
                    TimestampRow{"Utc", "2026-12-10T13:03:22Z", kWinterInstant},
                    TimestampRow{"ZeroOffset", "2026-12-10T13:03:22+00:00", kWinterInstant},
                    TimestampRow{"MinusHalfHours", "2026-12-10T09:33:22-03:30", kWinterInstant},
                    TimestampRow{"Epoch", "1970-01-01T00:00:00Z", 0},
                    TimestampRow{"LeapDay", "2028-02-29T00:00:00Z", 1835395200},
                    TimestampRow{"NoLeapDay", "2027-02-29T00:00:00Z", std::nullopt},
                    TimestampRow{"MonthThirteen", "2026-13-10T14:03:22+01:00", std::nullopt},
                    TimestampRow{"Hour24", "2026-12-10T24:00:00+01:00", std::nullopt},
                    TimestampRow{"Second60", "2026-12-10T23:59:60+01:00", std::nullopt},
                    TimestampRow{"NoOffset", "2026-12-10T14:03:22", std::nullopt},
                    TimestampRow{"SpaceForT", "2026-12-10 14:03:22+01:00", std::nullopt},
                    TimestampRow{"OffsetWithoutColon", "2026-12-10T14:03:22+0100", std::nullopt},
                    TimestampRow{"SignInYear", "+026-12-10T14:03:22+01:00", std::nullopt},
                    TimestampRow{"Empty", "", std::nullopt}),
    rowName);

#if !defined(_WIN32)  // POSIX time zone rules through TZ

struct LocalTimeRow {
    const char* name;
    const char* zone;  // a POSIX TZ rule, so that no zone database is needed
    std::int64_t instant;
    std::string text;
};

class LocalTime : public testing::TestWithParam<LocalTimeRow> {};

TEST_P(LocalTime, CarriesTheOffsetOfTheZone) {
    const LocalTimeRow& row = GetParam();
    const char* saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("TZ", row.zone, 1);
    ::tzset();
    const std::string text = localTimestamp(static_cast<std::time_t>(row.instant));
    if (saved != nullptr) {
        ::setenv("TZ", previous.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    EXPECT_EQ(text, row.text);
    EXPECT_EQ(parseTimestamp(text), row.instant);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalTime,
    testing::Values(
        LocalTimeRow{"CentralEuropeWinter", "CET-1CEST,M3.5.0,M10.5.0/3", kWinterInstant,
                     "2026-12-10T14:03:22+01:00"},
        LocalTimeRow{"CentralEuropeSummer", "CET-1CEST,M3.5.0,M10.5.0/3", 1782900000,
                     "2026-07-01T12:00:00+02:00"},
        LocalTimeRow{"Utc", "UTC0", kWinterInstant, "2026-12-10T13:03:22+00:00"},
        LocalTimeRow{"WestOfGreenwich", "EST5", kWinterInstant, "2026-12-10T08:03:22-05:00"},
        LocalTimeRow{"HalfHourOffset", "IST-5:30", kWinterInstant, "2026-12-10T18:33:22+05:30"},
        LocalTimeRow{"DayBeforeInUtc", "NZST-12", 1796904000, "2026-12-11T00:00:00+12:00"}),
    rowName);

#endif

// A good record with one field replaced, or removed.
std::string withField(const HistoryRow& row, std::size_t column, const std::string& value,
                      bool remove = false) {
    std::string record = formatHistoryRecord(row);
    record.resize(record.size() - 2);
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma = record.find(','); comma != std::string::npos;
         comma = record.find(',', start)) {
        fields.push_back(record.substr(start, comma - start));
        start = comma + 1;
    }
    fields.push_back(record.substr(start));
    fields.at(column) = value;
    if (remove) {
        fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(column));
    }
    std::string out;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        out += (k > 0 ? "," : "") + fields[k];
    }
    return out + "\r\n";
}

const HistoryRow& before() {
    static const HistoryRow row = historyRow(u"KMKMM KKMMK ", u"KMKMM KKMM", 1);
    return row;
}
const HistoryRow& after() {
    static const HistoryRow row = historyRow(u"URURE ", u"URXRE", 2);
    return row;
}
// Plain texts, so that replacing a field by its number is simple.
const HistoryRow& middle() {
    static const HistoryRow row = historyRow(u"KMUR", u"KMXR", 3);
    return row;
}

struct DamagedRow {
    const char* name;
    std::string damaged;  // the line between two good rows
};

class DamagedBetweenGoodRows : public testing::TestWithParam<DamagedRow> {};

TEST_P(DamagedBetweenGoodRows, IsSkippedAndTheOthersKept) {
    const std::string text = withHeader(formatHistoryRecord(before()) + GetParam().damaged +
                                        formatHistoryRecord(after()));
    const ParsedHistory parsed = parseHistory(text);
    EXPECT_EQ(parsed.rows, (std::vector<HistoryRow>{before(), after()}));
    EXPECT_EQ(parsed.skipped, 1);
}

TEST(DamagedBetweenGoodRows, TheUndamagedMiddleRowIsRead) {
    // The rows of the table below are damaged copies of this one.
    const ParsedHistory parsed = parseHistory(withHeader(formatHistoryRecord(middle())));
    EXPECT_EQ(parsed.rows, std::vector<HistoryRow>{middle()});
}

std::string middleRecord() {
    return formatHistoryRecord(middle());
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedBetweenGoodRows,
    testing::Values(
        DamagedRow{"MinutesMissing", withField(middle(), 5, "", true)},
        DamagedRow{"FieldMissingAtTheEnd",
                   middleRecord().substr(0, middleRecord().rfind(',')) + "\r\n"},
        DamagedRow{"ExtraField", middleRecord().substr(0, middleRecord().size() - 2) + ",x\r\n"},
        DamagedRow{"LevelNotANumber", withField(middle(), 2, "x3")},
        DamagedRow{"NegativeSpeed", withField(middle(), 4, "-60")},
        DamagedRow{"SignedCount", withField(middle(), 8, "+3")},
        DamagedRow{"CountTooLargeForItsType", withField(middle(), 2, "99999999999")},
        DamagedRow{"AccuracyWithTwoDecimals", withField(middle(), 12, "75.00")},
        DamagedRow{"AccuracyThatDisagrees", withField(middle(), 12, "74.9")},
        DamagedRow{"AccuracyMissing", withField(middle(), 12, "")},
        DamagedRow{"InterpauseNotAHalf", withField(middle(), 6, "1.2")},
        DamagedRow{"BadDate", withField(middle(), 0, "2026-13-10T14:03:22+01:00")},
        DamagedRow{"UnknownMode", withField(middle(), 1, "listen")},
        DamagedRow{"RightDisagreesWithTheTexts", withField(middle(), 8, "2")},
        DamagedRow{"SentDisagreesWithTheText", withField(middle(), 7, "5")},
        DamagedRow{"CopyShorterThanItsCounts", withField(middle(), 14, "KMX")},
        DamagedRow{"QuoteInsideAnUnquotedField", withField(middle(), 14, "KM\"XR")},
        DamagedRow{"TextAfterAClosingQuote", withField(middle(), 14, "\"KMX\"R")},
        DamagedRow{"InvalidUtf8", withField(middle(), 3, "KM\xC3")},
        DamagedRow{"LoneCarriageReturnEndsTheLine",
                   middleRecord().substr(0, middleRecord().size() - 2) + "\r"},
        DamagedRow{"TornRowGivenALineEnd", middleRecord().substr(0, 40) + "\r\n"},
        // Its quoted newline puts the rest of it on a line of its own.
        DamagedRow{"MultiLineRowWithABadNumber", withField(historyRow(u"KM", u"K\nM"), 4, "fast")}),
    rowName);

struct FileTextRow {
    const char* name;
    std::string text;
    std::vector<HistoryRow> rows;
    std::int32_t skipped;
};

class WholeText : public testing::TestWithParam<FileTextRow> {};

TEST_P(WholeText, RowsAndSkipped) {
    const ParsedHistory parsed = parseHistory(GetParam().text);
    EXPECT_EQ(parsed.rows, GetParam().rows);
    EXPECT_EQ(parsed.skipped, GetParam().skipped);
}

std::string record(const HistoryRow& row) {
    return formatHistoryRecord(row);
}

std::string withLineFeeds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholeText,
    testing::Values(
        FileTextRow{"Empty", "", {}, 0},
        FileTextRow{"HeaderOnly", std::string(kHistoryHeader), {}, 0},
        FileTextRow{"NoHeader", record(before()) + record(after()), {before(), after()}, 0},
        FileTextRow{"ByteOrderMark", "\xEF\xBB\xBF" + withHeader(record(before())), {before()}, 0},
        FileTextRow{"LineFeedsOnly",
                    withLineFeeds(withHeader(record(before()) + record(after()))),
                    {before(), after()},
                    0},
        FileTextRow{
            "BlankLinesIgnored", withHeader("\r\n" + record(before()) + "\n\r\n"), {before()}, 0},
        FileTextRow{"HeaderAgainInTheMiddle",
                    withHeader(record(before())) + withHeader(record(after())),
                    {before(), after()},
                    0},
        FileTextRow{
            "LastRowWithoutItsLineEndIsKeptWhenWhole",
            withHeader(record(before()) + middleRecord().substr(0, middleRecord().size() - 2)),
            {before(), middle()},
            0},
        FileTextRow{
            "LastRowTornInsideItsCopy",
            withHeader(record(before()) + middleRecord().substr(0, middleRecord().size() - 4)),
            {before()},
            1},
        FileTextRow{"LastRowTornInsideAQuote",
                    withHeader(record(before()) +
                               record(historyRow(u"KM", u"K,M"))
                                   .substr(0, record(historyRow(u"KM", u"K,M")).size() - 4)),
                    {before()},
                    1},
        FileTextRow{"TwoDamagedRowsInARowCountTwice",
                    withHeader(record(before()) + withField(middle(), 2, "x") +
                               withField(middle(), 4, "y") + record(after())),
                    {before(), after()},
                    2},
        FileTextRow{
            "GarbageLines", withHeader("hello\r\nworld\r\n" + record(after())), {after()}, 1}),
    rowName);

// A row torn at any byte and then followed by a good one: the torn row is skipped (or kept, when
// just its line end is missing) and every other row is read. The second good row's first quote
// opens a text that begins with a line end, so that a torn quoted field running on into it
// closes there, and the torn row then seems to end inside the good one.
TEST(TornRow, AtEveryByteLosesNothingElse) {
    const HistoryRow torn = historyRow(u"KM, \"UR\"\nE ", u" K,M\n\"U\"R\r\nE ", 4);
    const std::string tornRecord = record(torn);
    for (const HistoryRow& next : {after(), historyRow(u"KM", u"\nKM", 5)}) {
        for (std::size_t cut = 1; cut < tornRecord.size(); ++cut) {
            SCOPED_TRACE(cut);
            std::string text = withHeader(record(before()) + tornRecord.substr(0, cut));
            // The next append starts on a fresh line when the torn row does not end with one.
            if (text.back() != '\n') {
                text += "\r\n";
            }
            text += record(next);
            const ParsedHistory parsed = parseHistory(text);
            const bool whole = cut == tornRecord.size() - 2;
            const std::vector<HistoryRow> expected =
                whole ? std::vector<HistoryRow>{before(), torn, next}
                      : std::vector<HistoryRow>{before(), next};
            EXPECT_EQ(parsed.rows, expected);
            EXPECT_EQ(parsed.skipped, whole ? 0 : 1);
        }
    }
}

}  // namespace
}  // namespace dittix::persistence
