// The saver's thread: one job at a time, in the order queued.
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
                        })),
      m_thread([this] { run(); }) {}

SettingsSaver::~SettingsSaver() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

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
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
        ++m_asked;
    }
    m_wake.notify_one();
}

void SettingsSaver::finish() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t asked = m_asked;
    m_done.wait(lock, [this, asked] { return m_made >= asked; });
}

void SettingsSaver::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        // The queue is emptied before the saver ends: nothing asked for is lost.
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_ending; });
        if (m_queue.empty()) {
            return;
        }
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        if (const auto error = write(job); error && job.failed) {
            try {
                job.failed(*error);
            } catch (...) {
                // A handler that cannot report must not end the program with the saves after.
            }
        }
        lock.lock();
        ++m_made;
        m_done.notify_all();
    }
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
