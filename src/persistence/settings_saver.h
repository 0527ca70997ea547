// The settings file's saves, made one after the other on a thread of their own, so that the
// windows that ask for them never wait for the disk.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "persistence/ordered_jobs.h"
#include "persistence/settings_writer.h"

namespace dittix::persistence {

// Every save reads the file, changes its own keys and writes the file back, so two at once would
// lose one's keys: all saves of one file go through one SettingsSaver, which makes them in the
// order they were asked for.
class SettingsSaver {
  public:
    using Failed = SaveFailed;
    // Makes one save; saveEntries but for tests, which hold or watch the saves.
    using Writer = std::function<std::optional<SaveError>(const std::filesystem::path&,
                                                          std::span<const SettingEntry>)>;

    explicit SettingsSaver(std::filesystem::path file, Writer writer = {});
    // Makes every save still waiting, then ends the thread (OrderedJobs' destructor).
    ~SettingsSaver() = default;
    SettingsSaver(const SettingsSaver&) = delete;
    SettingsSaver& operator=(const SettingsSaver&) = delete;

    // Queues a save of `entries` (the keys' text is copied) and returns at once. When the save
    // fails, `failed` (if any) is called on the saver's thread, before the next save.
    void save(std::span<const SettingEntry> entries, Failed failed = {});

    // Returns once every save asked for before the call is made and its failure handled.
    void finish();

    const std::filesystem::path& file() const { return m_file; }

  private:
    struct Job {
        std::vector<std::string> keys;
        std::vector<std::string> values;
        Failed failed;
    };

    std::optional<SaveError> write(const Job& job) const;

    const std::filesystem::path m_file;
    const Writer m_writer;
    OrderedJobs m_jobs;  // last: its thread ends before the members above go
};

}  // namespace dittix::persistence
