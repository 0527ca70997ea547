// The jobs' thread: one job at a time, in the order posted.
#include "persistence/ordered_jobs.h"

#include <utility>

namespace dittix::persistence {

OrderedJobs::OrderedJobs() : m_thread([this] { run(); }) {}

OrderedJobs::~OrderedJobs() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void OrderedJobs::post(std::function<void()> job) {
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
        ++m_posted;
    }
    m_wake.notify_one();
}

void OrderedJobs::finish() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t posted = m_posted;
    m_done.wait(lock, [this, posted] { return m_ran >= posted; });
}

void OrderedJobs::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        // The queue is emptied before the thread ends.
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_ending; });
        if (m_queue.empty()) {
            return;
        }
        std::function<void()> job = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job that cannot finish must not end the program, nor the jobs after it.
        }
        job = nullptr;  // what the job holds goes before it counts as run
        lock.lock();
        ++m_ran;
        m_done.notify_all();
    }
}

}  // namespace dittix::persistence
