// The history file on the disk: appends that never lose earlier rows (a torn row, a killed
// write, a full disk, a size limit), files that are not regular, and the size limit of reading.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "persistence/child_process.h"
#include "persistence/history_rows.h"
#include "persistence/temp_dir.h"
#include "persistence/training_history.h"
#include "support/named_rows.h"

namespace dittix::persistence {
namespace {

namespace fs = std::filesystem;
using test::ChildResult;
using test::exitedNormally;
using test::historyRow;
using test::Report;
using test::runInChild;
using test::TempDir;
using test_support::PrintTo;
using test_support::rowName;

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<HistoryRow> someRows(int count) {
    std::vector<HistoryRow> rows;
    for (int k = 0; k < count; ++k) {
        rows.push_back(historyRow(u"KMUR, \"E\" ", u"KM\nU,R \"E\"", k + 1));
    }
    return rows;
}

std::string appendMessage(const fs::path& file, const std::string& reason) {
    return "Impossibile salvare l'esercizio nello storico " + file.string() + ": " + reason + ".";
}

TEST(HistoryFile, NewFileGetsTheHeaderOnceThenOneRowPerAppend) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const auto rows = someRows(2);
    ASSERT_EQ(appendHistoryRow(file, rows[0]), std::nullopt);
    ASSERT_EQ(appendHistoryRow(file, rows[1]), std::nullopt);
    EXPECT_EQ(fileBytes(file), std::string(kHistoryHeader) + formatHistoryRecord(rows[0]) +
                                   formatHistoryRecord(rows[1]));
    const HistoryReadResult read = readHistory(file);
    EXPECT_EQ(read.rows, rows);
    EXPECT_EQ(read.skipped, 0);
    EXPECT_EQ(read.error, std::nullopt);
}

TEST(HistoryFile, AnEmptyFileGetsTheHeader) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    test::writeBytes(file, "");
    const HistoryRow row = someRows(1)[0];
    ASSERT_EQ(appendHistoryRow(file, row), std::nullopt);
    EXPECT_EQ(fileBytes(file), std::string(kHistoryHeader) + formatHistoryRecord(row));
}

TEST(HistoryFile, TheFolderIsMadeWhenMissing) {
    TempDir dir;
    const fs::path file = dir.path() / "config" / "dittix" / "training-history.csv";
    ASSERT_EQ(appendHistoryRow(file, someRows(1)[0]), std::nullopt);
    EXPECT_EQ(readHistory(file).rows.size(), 1U);
}

TEST(HistoryFile, BesideTheSettingsFile) {
    EXPECT_EQ(historyFileFor(fs::path("/home/op/.config/dittix/settings.ini")),
              fs::path("/home/op/.config/dittix/training-history.csv"));
}

TEST(HistoryFile, AMissingFileIsAnEmptyHistoryWithoutError) {
    TempDir dir;
    const HistoryReadResult read = readHistory(dir.file("training-history.csv"));
    EXPECT_TRUE(read.rows.empty());
    EXPECT_EQ(read.error, std::nullopt);
}

TEST(HistoryFile, ARowWhoseCountsDisagreeWithItsTextsIsNotWritten) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    HistoryRow row = someRows(1)[0];
    ++row.right;
    const auto error = appendHistoryRow(file, row);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, HistoryErrorCode::InvalidRow);
    EXPECT_FALSE(fs::exists(file));
}

struct TornFileRow {
    const char* name;
    std::string tail;       // what the file ends with after the good row
    std::string separator;  // what the append puts before its row
};

class TornFile : public testing::TestWithParam<TornFileRow> {};

TEST_P(TornFile, TheNextRowStartsOnAFreshLine) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const auto rows = someRows(2);
    const std::string start =
        std::string(kHistoryHeader) + formatHistoryRecord(rows[0]) + GetParam().tail;
    test::writeBytes(file, start);
    ASSERT_EQ(appendHistoryRow(file, rows[1]), std::nullopt);
    EXPECT_EQ(fileBytes(file), start + GetParam().separator + formatHistoryRecord(rows[1]));
    EXPECT_EQ(readHistory(file).rows, rows);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TornFile,
    testing::Values(TornFileRow{"WholeLastRow", "", ""},
                    TornFileRow{"TornInsideAField", "2026-12-10T14:03:22+01:00,rec", "\r\n"},
                    TornFileRow{"TornAfterItsCarriageReturn", "2026-12-10T14:03:22+01:00,\r",
                                "\r\n"},
                    TornFileRow{"TornRightAfterALineFeedInsideAQuote",
                                "2026-12-10T14:03:22+01:00,receive,1,KM,60,1,0.0,2,2,0,0,0,"
                                "100.0,KM,\"K\n",
                                ""}),
    rowName);

// The file-level counterpart of the torn-row test of the text: a row cut at every byte, then one
// append and one read.
TEST(TornFile, AtEveryByteTheAppendAndTheEarlierRowsSurvive) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const auto rows = someRows(3);
    const std::string tornRecord = formatHistoryRecord(rows[1]);
    for (std::size_t cut = 1; cut < tornRecord.size() - 2; ++cut) {
        SCOPED_TRACE(cut);
        test::writeBytes(file, std::string(kHistoryHeader) + formatHistoryRecord(rows[0]) +
                                   tornRecord.substr(0, cut));
        ASSERT_EQ(appendHistoryRow(file, rows[2]), std::nullopt);
        const HistoryReadResult read = readHistory(file);
        EXPECT_EQ(read.rows, (std::vector<HistoryRow>{rows[0], rows[2]}));
        EXPECT_EQ(read.skipped, 1);
    }
}

// Reading in pieces gives what reading the whole text at once gives, wherever the pieces end:
// inside a quoted line end, a doubled quote, a CRLF, the byte order mark, a damaged row or the
// torn last one.
TEST(ReadInPieces, GivesTheSameRowsForEveryPieceSize) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    std::string text = "\xEF\xBB\xBF" + std::string(kHistoryHeader);
    for (const HistoryRow& row : someRows(3)) {
        text += formatHistoryRecord(row);
    }
    text += "2026-12-10T14:03:22+01:00,receive,x\r\n2026-12-10T14:03:22+01:00,send,y\r\n";
    text += "\"unterminated\r\n";
    text += formatHistoryRecord(historyRow(u"KM", u"\"\"\r\n" + std::u16string(300, u'E'), 4));
    text += formatHistoryRecord(historyRow(u"KMUR ", u"KMUR\r", 5)).substr(0, 60);
    test::writeBytes(file, text);
    const ParsedHistory whole = parseHistory(text);
    ASSERT_EQ(whole.rows.size(), 4U);
    ASSERT_EQ(whole.skipped, 3);
    for (std::size_t piece = 1; piece <= text.size() + 1; piece += piece < 80 ? 1 : 37) {
        SCOPED_TRACE(piece);
        const HistoryReadResult read = readHistory(file, kMaxHistoryBytes, piece);
        EXPECT_EQ(read.rows, whole.rows);
        EXPECT_EQ(read.skipped, whole.skipped);
        EXPECT_EQ(read.error, std::nullopt);
    }
}

// --- Files that are not regular --------------------------------------------------------------

struct NotRegularRow {
    const char* name;
    bool fifo;  // else a folder
    std::string reason;
};

class NotRegular : public testing::TestWithParam<NotRegularRow> {};

// In a child with an alarm, so that an open that waits for the other end of a pipe fails the
// test instead of hanging the suite.
TEST_P(NotRegular, IsRefusedWithoutBlocking) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    if (GetParam().fifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0) << std::strerror(errno);
    } else {
        fs::create_directory(file);
    }
    const ChildResult child = runInChild(
        [&] {
            Report report;
            const auto appended = appendHistoryRow(file, someRows(1)[0]);
            report["appendCode"] = appended ? std::to_string(static_cast<int>(appended->code)) : "";
            report["appendMessage"] = appended ? appended->message : "";
            const HistoryReadResult read = readHistory(file);
            report["readCode"] =
                read.error ? std::to_string(static_cast<int>(read.error->code)) : "";
            report["readMessage"] = read.error ? read.error->message : "";
            return report;
        },
        20);
    ASSERT_TRUE(exitedNormally(child)) << "status " << child.status;
    const std::string code = std::to_string(static_cast<int>(HistoryErrorCode::NotRegularFile));
    EXPECT_EQ(child.report.at("appendCode"), code);
    EXPECT_EQ(child.report.at("appendMessage"), appendMessage(file, GetParam().reason));
    EXPECT_EQ(child.report.at("readCode"), code);
    EXPECT_EQ(child.report.at("readMessage"),
              "Impossibile leggere lo storico " + file.string() + ": " + GetParam().reason + ".");
}

INSTANTIATE_TEST_SUITE_P(Table, NotRegular,
                         testing::Values(NotRegularRow{"Fifo", true, "non è un file normale"},
                                         NotRegularRow{"Folder", false,
                                                       "è una cartella, non un file"}),
                         rowName);

// --- The size limit of reading ---------------------------------------------------------------

struct LimitRow {
    const char* name;
    std::uintmax_t extraBytes;  // over the size of the rows
    bool refused;
};

class ReadLimit : public testing::TestWithParam<LimitRow> {};

TEST_P(ReadLimit, RefusesOnlyAFileAboveIt) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    ASSERT_EQ(appendHistoryRow(file, someRows(1)[0]), std::nullopt);
    const std::uintmax_t size = fs::file_size(file);
    const HistoryReadResult read = readHistory(file, size - 1 + GetParam().extraBytes);
    EXPECT_EQ(read.error.has_value(), GetParam().refused);
    EXPECT_EQ(read.rows.size(), GetParam().refused ? 0U : 1U);
    if (read.error) {
        EXPECT_EQ(read.error->code, HistoryErrorCode::FileTooLarge);
        EXPECT_EQ(read.error->message, "Impossibile leggere lo storico " + file.string() +
                                           ": il file è troppo grande per essere letto.");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadLimit,
                         testing::Values(LimitRow{"OneByteOver", 0, true},
                                         LimitRow{"Exactly", 1, false},
                                         LimitRow{"OneByteUnder", 2, false}),
                         rowName);

TEST(ReadLimit, DefaultsToSixtyFourMebibytes) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    test::writeBytes(file, "");
    fs::resize_file(file, 64u * 1024u * 1024u + 1u);  // sparse: nothing is written
    const HistoryReadResult read = readHistory(file);
    ASSERT_TRUE(read.error.has_value());
    EXPECT_EQ(read.error->code, HistoryErrorCode::FileTooLarge);
}

// --- Appends that fail ------------------------------------------------------------------------

// A row of about `bytes` bytes: a long typed text of blanks around two characters.
HistoryRow largeRow(std::size_t bytes) {
    return historyRow(u"KM", u"K" + std::u16string(bytes, u' ') + u"M", 9);
}

// The child reports what the append returned and what the file then holds.
void reportAppend(Report& report, const fs::path& file, const HistoryRow& row,
                  const std::string& prefix) {
    const auto sizeBefore = fs::file_size(file);
    const auto error = appendHistoryRow(file, row);
    report[prefix + "Code"] = error ? std::to_string(static_cast<int>(error->code)) : "none";
    report[prefix + "Message"] = error ? error->message : "";
    report[prefix + "SizeKept"] = fs::file_size(file) == sizeBefore ? "yes" : "no";
}

TEST(FailedAppend, AboveTheProcessFileSizeLimitLeavesTheEarlierRows) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const auto rows = someRows(3);
    ASSERT_EQ(appendHistoryRow(file, rows[0]), std::nullopt);
    ASSERT_EQ(appendHistoryRow(file, rows[1]), std::nullopt);
    const std::string before = fileBytes(file);
    const ChildResult child = runInChild([&] {
        Report report;
        ::signal(SIGXFSZ, SIG_IGN);  // so that the write fails with EFBIG instead
        const rlimit limit{static_cast<rlim_t>(before.size() + 1000),
                           static_cast<rlim_t>(before.size() + 1000)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        reportAppend(report, file, largeRow(100000), "large");
        return report;
    });
    ASSERT_TRUE(exitedNormally(child));
    EXPECT_EQ(child.report.at("largeCode"),
              std::to_string(static_cast<int>(HistoryErrorCode::FileTooLarge)));
    EXPECT_EQ(child.report.at("largeMessage"),
              appendMessage(file, "il file ha raggiunto la dimensione massima consentita"));
    EXPECT_EQ(fileBytes(file), before);
    // Without the limit the next append goes on from a clean end.
    ASSERT_EQ(appendHistoryRow(file, rows[2]), std::nullopt);
    const HistoryReadResult read = readHistory(file);
    EXPECT_EQ(read.rows, rows);
    EXPECT_EQ(read.skipped, 0);
}

// A small file system of its own: a tmpfs mounted over `dir` in a private mount namespace of
// the child, so that nothing outside the child sees it. Needs root; otherwise the report says
// why it was skipped.
bool mountPrivateTmpfs(const fs::path& dir, const std::string& options, Report& report) {
    if (::geteuid() != 0) {
        report["skip"] = "a private tmpfs needs root";
        return false;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        report["skip"] = std::string("no private mount namespace: ") + std::strerror(errno);
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        report["skip"] = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return false;
    }
    return true;
}

TEST(FailedAppend, OnAFullDiskLeavesEveryEarlierRowAndTheNextAppendWorks) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const auto rows = someRows(3);
    const ChildResult child = runInChild([&] {
        Report report;
        if (!mountPrivateTmpfs(dir.path(), "size=64k,mode=0700", report)) {
            return report;
        }
        report["firstAppend"] = appendHistoryRow(file, rows[0]) ? "failed" : "ok";
        report["secondAppend"] = appendHistoryRow(file, rows[1]) ? "failed" : "ok";
        const std::string before = fileBytes(file);
        reportAppend(report, file, largeRow(200000), "large");
        report["bytesKept"] = fileBytes(file) == before ? "yes" : "no";
        const HistoryReadResult afterFull = readHistory(file);
        report["rowsKept"] =
            afterFull.rows == std::vector<HistoryRow>{rows[0], rows[1]} ? "yes" : "no";
        report["skippedAfterFull"] = std::to_string(afterFull.skipped);
        report["nextAppend"] = appendHistoryRow(file, rows[2]) ? "failed" : "ok";
        report["allRows"] = readHistory(file).rows == rows ? "yes" : "no";
        return report;
    });
    ASSERT_TRUE(exitedNormally(child));
    if (child.report.count("skip") != 0) {
        GTEST_SKIP() << child.report.at("skip");
    }
    EXPECT_EQ(child.report.at("firstAppend"), "ok");
    EXPECT_EQ(child.report.at("secondAppend"), "ok");
    EXPECT_EQ(child.report.at("largeCode"),
              std::to_string(static_cast<int>(HistoryErrorCode::DiskFull)));
    EXPECT_EQ(child.report.at("largeMessage"), appendMessage(file, "il disco è pieno"));
    EXPECT_EQ(child.report.at("largeSizeKept"), "yes");
    EXPECT_EQ(child.report.at("bytesKept"), "yes");
    EXPECT_EQ(child.report.at("rowsKept"), "yes");
    EXPECT_EQ(child.report.at("skippedAfterFull"), "0");
    EXPECT_EQ(child.report.at("nextAppend"), "ok");
    EXPECT_EQ(child.report.at("allRows"), "yes");
}

TEST(FailedAppend, TheFirstRowOnAFullDiskLeavesAnEmptyFile) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const ChildResult child = runInChild([&] {
        Report report;
        if (!mountPrivateTmpfs(dir.path(), "size=64k,mode=0700", report)) {
            return report;
        }
        // Fill the disk, leaving less room than a header and a row need.
        {
            std::ofstream filler(dir.file("filler"), std::ios::binary);
            const std::string block(1024, 'x');
            while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
            }
        }
        test::writeBytes(file, "");
        reportAppend(report, file, someRows(1)[0], "first");
        report["size"] = std::to_string(fs::file_size(file));
        const HistoryReadResult read = readHistory(file);
        report["rows"] = std::to_string(read.rows.size());
        report["readError"] = read.error ? read.error->message : "";
        return report;
    });
    ASSERT_TRUE(exitedNormally(child));
    if (child.report.count("skip") != 0) {
        GTEST_SKIP() << child.report.at("skip");
    }
    EXPECT_EQ(child.report.at("firstCode"),
              std::to_string(static_cast<int>(HistoryErrorCode::DiskFull)));
    EXPECT_EQ(child.report.at("size"), "0");
    EXPECT_EQ(child.report.at("rows"), "0");
    EXPECT_EQ(child.report.at("readError"), "");
}

TEST(FailedAppend, OnAReadOnlyDiskIsReportedAsSuch) {
    TempDir dir;
    const fs::path file = dir.file("training-history.csv");
    const HistoryRow row = someRows(1)[0];
    const ChildResult child = runInChild([&] {
        Report report;
        if (!mountPrivateTmpfs(dir.path(), "size=64k,mode=0700", report)) {
            return report;
        }
        report["firstAppend"] = appendHistoryRow(file, row) ? "failed" : "ok";
        if (::mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            report["skip"] = std::string("cannot remount read-only: ") + std::strerror(errno);
            return report;
        }
        reportAppend(report, file, row, "second");
        report["rows"] = std::to_string(readHistory(file).rows.size());
        return report;
    });
    ASSERT_TRUE(exitedNormally(child));
    if (child.report.count("skip") != 0) {
        GTEST_SKIP() << child.report.at("skip");
    }
    EXPECT_EQ(child.report.at("firstAppend"), "ok");
    EXPECT_EQ(child.report.at("secondCode"),
              std::to_string(static_cast<int>(HistoryErrorCode::ReadOnly)));
    EXPECT_EQ(child.report.at("secondMessage"), appendMessage(file, "il disco è in sola lettura"));
    EXPECT_EQ(child.report.at("rows"), "1");
}

// --- An append killed while it writes ---------------------------------------------------------

// Forks a child that appends `row` to `file` once it has told the parent it starts; returns
// its process id once it has.
pid_t startAppendInChild(const fs::path& file, const HistoryRow& row) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        const char go = 'g';
        [[maybe_unused]] const auto written = ::write(ready[1], &go, 1);
        appendHistoryRow(file, row);
        ::_exit(0);
    }
    ::close(ready[1]);
    char go = 0;
    [[maybe_unused]] const auto got = ::read(ready[0], &go, 1);
    ::close(ready[0]);
    return pid;
}

// The moments at which to kill an append of `row`, from the time a child takes for the whole
// append on this machine: spread from the start to a little after the end, most of them in its
// second half, where the write is (the row is formatted first).
std::vector<double> killMoments(const HistoryRow& row) {
    TempDir scratch;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = startAppendInChild(scratch.file("training-history.csv"), row);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double appendMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::cout << "an append in a child: " << appendMs << " ms\n";
    std::vector<double> moments;
    for (int k = 0; k < 3; ++k) {
        moments.push_back(appendMs * 0.5 * k / 3);
    }
    for (int k = 0; k <= 13; ++k) {
        moments.push_back(appendMs * (0.5 + 0.65 * k / 13));
    }
    return moments;
}

// A child appends a row of about 4 MB and is killed at a range of moments: before, during and
// after its write. Whatever the moment, the earlier rows read back whole, the killed row is
// either whole or skipped, and the next append is read back.
TEST(KilledAppend, LeavesTheEarlierRowsAndTheNextAppendStartsCleanly) {
    const HistoryRow large = largeRow(4'000'000);
    const auto rows = someRows(3);
    int torn = 0;
    int untouched = 0;
    int whole = 0;
    for (const double moment : killMoments(large)) {
        SCOPED_TRACE(moment);
        TempDir dir;
        const fs::path file = dir.file("training-history.csv");
        ASSERT_EQ(appendHistoryRow(file, rows[0]), std::nullopt);
        ASSERT_EQ(appendHistoryRow(file, rows[1]), std::nullopt);
        const std::string before = fileBytes(file);

        const pid_t pid = startAppendInChild(file, large);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(moment));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        const std::string afterKill = fileBytes(file);
        ASSERT_EQ(afterKill.substr(0, before.size()), before);
        const HistoryReadResult read = readHistory(file);
        ASSERT_GE(read.rows.size(), 2U);
        EXPECT_EQ(read.rows[0], rows[0]);
        EXPECT_EQ(read.rows[1], rows[1]);
        const bool largeKept = read.rows.size() == 3;
        if (afterKill.size() == before.size()) {
            ++untouched;
        } else if (largeKept) {
            ++whole;
        } else {
            ++torn;
        }
        EXPECT_EQ(read.skipped, largeKept || afterKill.size() == before.size() ? 0 : 1);

        ASSERT_EQ(appendHistoryRow(file, rows[2]), std::nullopt);
        const HistoryReadResult next = readHistory(file);
        ASSERT_EQ(next.rows.size(), largeKept ? 4U : 3U);
        EXPECT_EQ(next.rows[0], rows[0]);
        EXPECT_EQ(next.rows[1], rows[1]);
        EXPECT_TRUE(!largeKept || next.rows[2] == large);
        EXPECT_EQ(next.rows.back(), rows[2]);
        EXPECT_EQ(next.skipped, read.skipped);
    }
    // Which moments the kills hit depends on the machine; shown for the record.
    std::cout << "killed appends: " << untouched << " before the write, " << torn << " torn, "
              << whole << " whole\n";
    RecordProperty("torn", torn);
}

}  // namespace
}  // namespace dittix::persistence
