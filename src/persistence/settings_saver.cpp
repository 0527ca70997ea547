// The settings saves, each a job of the saver's own thread.
#include "persistence/settings_saver.h"

#include <exception>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

#include "persistence/operator_messages.h"

namespace dittix::persistence {

SettingsSaver::SettingsSaver(std::filesystem::path file, Writer writer)
    : m_file(std::move(file)),
      m_writer(writer ? std::move(writer)
                      : Writer([](const std::filesystem::path& f,
                                  std::span<const SettingEntry> entries) {
                            return saveEntries(f, entries);
                        })) {}

void SettingsSaver::save(std::span<const SettingEntry> entries, Failed failed) {
    // The keys are copied too: a caller's key need not outlive the call.
    Job job;
    job.keys.reserve(entries.size());
    job.values.reserve(entries.size());
    for (const SettingEntry& entry : entries) {
        job.keys.emplace_back(entry.key);
        job.values.push_back(entry.value);
    }
    job.failed = std::move(failed);
    m_jobs.post([this, job = std::move(job)] {
        if (const auto error = write(job); error && job.failed) {
            try {
                job.failed(*error);
            } catch (...) {
                // A handler that cannot report must not end the program with the saves after.
            }
        }
    });
}

void SettingsSaver::finish() {
    m_jobs.finish();
}

std::optional<SaveError> SettingsSaver::write(const Job& job) const {
    std::vector<SettingEntry> entries;
    entries.reserve(job.keys.size());
    for (std::size_t i = 0; i < job.keys.size(); ++i) {
        entries.push_back({std::string_view(job.keys[i]), job.values[i]});
    }
    // An exception must not end the thread (and the program): it fails this save alone.
    std::error_code cause;
    try {
        return m_writer(m_file, entries);
    } catch (const std::bad_alloc&) {
        cause = std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::system_error& e) {
        cause = e.code();
    } catch (...) {
        cause = std::make_error_code(std::errc::io_error);
    }
    return SaveError{SaveErrorCode::CannotWrite, saveFailureSentence(m_file, systemReason(cause)),
                     cause};
}

}  // namespace dittix::persistence
