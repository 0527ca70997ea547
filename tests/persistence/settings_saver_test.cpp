// The settings saver: saves made in the order asked for, on its own thread, none lost, failures
// handed to their handlers; finish() and the destructor wait for what is queued.
#include "persistence/settings_saver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "persistence/settings.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// Holds the saves back until opened, so that the test can queue while nothing is written.
class Gate {
  public:
    void open() {
        {
            const std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// Makes the saves with saveEntries after the gate, and records each one's entries ("key=value"
// joined by ';') in the order made. The saves whose index is in `interrupt` are abandoned before
// the file is replaced.
struct Recorder {
    explicit Recorder(bool gateOpen = true) {
        if (gateOpen) {
            gate.open();
        }
    }
    SettingsSaver::Writer writer() {
        return [this](const std::filesystem::path& file, std::span<const SettingEntry> entries) {
            gate.pass();
            std::string made;
            for (const SettingEntry& entry : entries) {
                made += std::string(entry.key) + "=" + entry.value + ";";
            }
            std::size_t index = 0;
            {
                const std::lock_guard lock(mutex);
                index = writes.size();
                writes.push_back(made);
            }
            const bool abandon = interrupt.count(index) != 0;
            return saveEntries(file, entries, [abandon] { return !abandon; });
        };
    }
    std::vector<std::string> made() {
        const std::lock_guard lock(mutex);
        return writes;
    }

    Gate gate;
    std::set<std::size_t> interrupt;
    std::mutex mutex;
    std::vector<std::string> writes;
};

struct Save {
    const char* key;
    const char* value;
};

std::string joined(const Save& save) {
    return std::string(save.key) + "=" + save.value + ";";
}

struct OrderRow {
    const char* name;
    std::vector<Save> saves;  // one key each, in the order asked for
    const char* file;         // the file afterwards (it starts as "[Settings]\n")
};

class SaverOrderTest : public ::testing::TestWithParam<OrderRow> {};

TEST_P(SaverOrderTest, SavesQueuedTogetherAreMadeInTheOrderAskedFor) {
    const OrderRow& row = GetParam();
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    test::writeBytes(file, "[Settings]\n");
    Recorder recorder(false);
    std::vector<std::string> asked;
    {
        SettingsSaver saver(file, recorder.writer());
        for (const Save& save : row.saves) {
            saver.save(std::vector<SettingEntry>{{save.key, save.value}});
            asked.push_back(joined(save));
        }
        recorder.gate.open();
        saver.finish();
        EXPECT_EQ(readFileBytes(file), row.file);
    }
    EXPECT_EQ(recorder.made(), asked);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SaverOrderTest,
    ::testing::Values(
        OrderRow{"one_save", {{"Size", "41"}}, "[Settings]\nSize=41\n"},
        OrderRow{"same_key_three_times",
                 {{"Size", "30"}, {"Size", "31"}, {"Size", "32"}},
                 "[Settings]\nSize=32\n"},
        OrderRow{"different_keys_all_kept",
                 {{"Size", "30"}, {"CPM", "60"}, {"Tono", "700"}},
                 "[Settings]\nSize=30\nCPM=60\nTono=700\n"},
        OrderRow{"a_key_set_back",
                 {{"Size", "30"}, {"CPM", "60"}, {"Size", "25"}, {"CPM", "61"}, {"Size", "30"}},
                 "[Settings]\nSize=30\nCPM=61\n"}),
    rowName);

// Two threads ask at once: each one's keys end with its last value, each one's saves are made in
// its order, and the key both write ends with the save made last.
TEST(SettingsSaver, SavesFromTwoThreadsKeepEachThreadsOrderAndLoseNothing) {
    constexpr int kSaves = 40;
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    Recorder recorder;
    SettingsSaver saver(file, recorder.writer());
    const auto asker = [&saver](const std::string& who) {
        for (int i = 0; i < kSaves; ++i) {
            saver.save(std::vector<SettingEntry>{{who, std::to_string(i)},
                                                 {"Shared", who + "-" + std::to_string(i)}});
        }
    };
    std::thread first(asker, "A");
    std::thread second(asker, "B");
    first.join();
    second.join();
    saver.finish();

    const std::vector<std::string> made = recorder.made();
    ASSERT_EQ(made.size(), 2u * kSaves);
    std::vector<std::string> fromA;
    std::vector<std::string> fromB;
    for (const std::string& save : made) {
        (save.rfind("A=", 0) == 0 ? fromA : fromB).push_back(save);
    }
    for (int i = 0; i < kSaves; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(fromA[static_cast<std::size_t>(i)], "A=" + n + ";Shared=A-" + n + ";");
        EXPECT_EQ(fromB[static_cast<std::size_t>(i)], "B=" + n + ";Shared=B-" + n + ";");
    }
    const std::string last = made.back().substr(made.back().find("Shared=") + 7);
    const std::string text = readFileBytes(file);
    EXPECT_NE(text.find("A=" + std::to_string(kSaves - 1) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("B=" + std::to_string(kSaves - 1) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Shared=" + last.substr(0, last.size() - 1) + "\n"), std::string::npos)
        << text;
}

struct FailureRow {
    const char* name;
    std::set<std::size_t> interrupted;  // which of the four saves are abandoned
    bool folderInPlace;                 // a folder stands where the file should be
    std::vector<std::size_t> toldFor;   // which saves' handlers were called
    SaveErrorCode code;
    const char* file;  // afterwards; empty when the folder stays
};

class SaverFailureTest : public ::testing::TestWithParam<FailureRow> {};

TEST_P(SaverFailureTest, AFailedSaveIsHandedToItsHandlerAndTheOthersAreMade) {
    const FailureRow& row = GetParam();
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    if (row.folderInPlace) {
        std::filesystem::create_directory(file);
    }
    Recorder recorder;
    recorder.interrupt = row.interrupted;
    std::vector<std::pair<std::size_t, SaveError>> told;  // written on the saver's thread
    {
        SettingsSaver saver(file, recorder.writer());
        for (std::size_t i = 0; i < 4; ++i) {
            saver.save(std::vector<SettingEntry>{{"K" + std::to_string(i), "1"}},
                       [&told, i](const SaveError& error) { told.emplace_back(i, error); });
        }
        saver.finish();
        // The handlers have run by the time finish() returns.
        std::vector<std::size_t> which;
        for (const auto& [index, error] : told) {
            which.push_back(index);
            EXPECT_EQ(error.code, row.code) << index;
            EXPECT_EQ(error.message.rfind("Impossibile salvare le impostazioni in ", 0), 0u);
        }
        EXPECT_EQ(which, row.toldFor);
    }
    if (row.folderInPlace) {
        EXPECT_TRUE(std::filesystem::is_directory(file));
    } else {
        EXPECT_EQ(readFileBytes(file), row.file);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SaverFailureTest,
                         ::testing::Values(FailureRow{"none_fails",
                                                      {},
                                                      false,
                                                      {},
                                                      SaveErrorCode::Interrupted,
                                                      "[Settings]\nK0=1\nK1=1\nK2=1\nK3=1\n"},
                                           FailureRow{"the_first_fails",
                                                      {0},
                                                      false,
                                                      {0},
                                                      SaveErrorCode::Interrupted,
                                                      "[Settings]\nK1=1\nK2=1\nK3=1\n"},
                                           FailureRow{"two_in_the_middle_fail",
                                                      {1, 2},
                                                      false,
                                                      {1, 2},
                                                      SaveErrorCode::Interrupted,
                                                      "[Settings]\nK0=1\nK3=1\n"},
                                           FailureRow{"the_last_fails",
                                                      {3},
                                                      false,
                                                      {3},
                                                      SaveErrorCode::Interrupted,
                                                      "[Settings]\nK0=1\nK1=1\nK2=1\n"},
                                           FailureRow{"a_folder_in_place_fails_them_all",
                                                      {},
                                                      true,
                                                      {0, 1, 2, 3},
                                                      SaveErrorCode::CannotReadCurrent,
                                                      ""}),
                         rowName);

struct ThrowRow {
    const char* name;
    std::function<void()> raise;
    std::errc cause;
    const char* reason;
};

class SaverThrowTest : public ::testing::TestWithParam<ThrowRow> {};

TEST_P(SaverThrowTest, AnExceptionFailsThatSaveAloneAndTheSaverGoesOn) {
    const ThrowRow& row = GetParam();
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    int calls = 0;
    std::vector<SaveError> told;
    SettingsSaver saver(file,
                        [&](const std::filesystem::path& f, std::span<const SettingEntry> entries) {
                            if (++calls == 1) {
                                row.raise();
                            }
                            return saveEntries(f, entries);
                        });
    saver.save(std::vector<SettingEntry>{{"Size", "30"}},
               [&told](const SaveError& error) { told.push_back(error); });
    saver.save(std::vector<SettingEntry>{{"CPM", "60"}},
               [&told](const SaveError& error) { told.push_back(error); });
    saver.finish();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].code, SaveErrorCode::CannotWrite);
    EXPECT_EQ(told[0].cause, std::make_error_code(row.cause));
    EXPECT_EQ(told[0].message,
              "Impossibile salvare le impostazioni in " + file.string() + ": " + row.reason + ".");
    EXPECT_EQ(readFileBytes(file), "[Settings]\nCPM=60\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, SaverThrowTest,
    ::testing::Values(
        ThrowRow{"out_of_memory", [] { throw std::bad_alloc(); }, std::errc::not_enough_memory,
                 "la memoria non basta"},
        ThrowRow{"system_error",
                 [] { throw std::system_error(std::make_error_code(std::errc::io_error)); },
                 std::errc::io_error, "errore di lettura o scrittura sul disco"},
        ThrowRow{"anything_else", [] { throw std::runtime_error("x"); }, std::errc::io_error,
                 "errore di lettura o scrittura sul disco"}),
    rowName);

TEST(SettingsSaver, AThrowingHandlerDoesNotStopTheSavesAfterIt) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    std::filesystem::create_directory(file);
    int handled = 0;
    {
        SettingsSaver saver(file);
        saver.save(std::vector<SettingEntry>{{"Size", "30"}},
                   [](const SaveError&) { throw std::runtime_error("cannot tell"); });
        saver.save(std::vector<SettingEntry>{{"Size", "31"}},
                   [&handled](const SaveError&) { ++handled; });
        saver.finish();
    }
    EXPECT_EQ(handled, 1);
}

// How the saves still queued are waited for: by finish(), or by the destructor.
struct WaitRow {
    const char* name;
    int queued;  // saves queued while the gate is closed
    bool byDestructor;
};

class SaverWaitTest : public ::testing::TestWithParam<WaitRow> {};

TEST_P(SaverWaitTest, EverySaveQueuedBeforeIsMadeWhenTheWaitEnds) {
    const WaitRow& row = GetParam();
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    Recorder recorder(false);
    recorder.interrupt = {static_cast<std::size_t>(std::max(row.queued - 1, 0))};
    int handled = 0;
    std::string expected = "[Settings]\n";
    {
        auto saver = std::make_unique<SettingsSaver>(file, recorder.writer());
        for (int i = 0; i < row.queued; ++i) {
            const bool last = i == row.queued - 1;  // interrupted: told, not written
            saver->save(std::vector<SettingEntry>{{"K" + std::to_string(i), "1"}},
                        [&handled](const SaveError&) { ++handled; });
            if (!last) {
                expected += "K" + std::to_string(i) + "=1\n";
            }
        }
        std::thread opener([&recorder] { recorder.gate.open(); });
        if (row.byDestructor) {
            saver.reset();
        } else {
            saver->finish();
        }
        EXPECT_EQ(recorder.made().size(), static_cast<std::size_t>(row.queued));
        EXPECT_EQ(handled, row.queued > 0 ? 1 : 0);
        opener.join();
    }
    EXPECT_EQ(readFileBytes(file), row.queued > 1 ? expected : std::string());
}

INSTANTIATE_TEST_SUITE_P(Table, SaverWaitTest,
                         ::testing::Values(WaitRow{"finish_with_none", 0, false},
                                           WaitRow{"finish_with_one", 1, false},
                                           WaitRow{"finish_with_two", 2, false},
                                           WaitRow{"finish_with_eight", 8, false},
                                           WaitRow{"destructor_with_none", 0, true},
                                           WaitRow{"destructor_with_one", 1, true},
                                           WaitRow{"destructor_with_two", 2, true},
                                           WaitRow{"destructor_with_eight", 8, true}),
                         rowName);

// finish() waits for the saves asked for before it, not for those asked for later; the saver
// goes on with them afterwards.
TEST(SettingsSaver, SavesAskedForAfterAFinishAreMadeToo) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    SettingsSaver saver(file);
    saver.save(std::vector<SettingEntry>{{"Size", "30"}});
    saver.finish();
    EXPECT_EQ(readFileBytes(file), "[Settings]\nSize=30\n");
    saver.save(std::vector<SettingEntry>{{"Size", "31"}});
    saver.finish();
    EXPECT_EQ(readFileBytes(file), "[Settings]\nSize=31\n");
}

// The keys' text is the saver's own: the caller's strings may change or go before the save.
TEST(SettingsSaver, AQueuedSaveKeepsItsKeysWhenTheCallersTextChanges) {
    test::TempDir dir;
    const auto file = dir.file("settings.ini");
    Recorder recorder(false);
    SettingsSaver saver(file, recorder.writer());
    {
        std::string shortKey = "CPM";
        std::string longKey = "A key long enough to live outside the string";
        saver.save(std::vector<SettingEntry>{{shortKey, "60"}, {longKey, "1"}});
        shortKey.assign("XYZ");
        longKey.assign(longKey.size(), '#');
    }
    recorder.gate.open();
    saver.finish();
    EXPECT_EQ(readFileBytes(file),
              "[Settings]\nCPM=60\nA key long enough to live outside the string=1\n");
}

}  // namespace
}  // namespace dittix::persistence
