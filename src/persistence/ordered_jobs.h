// Jobs run one after the other, in the order they were posted, on a thread of their own, so
// that the interface thread never waits for the disk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace dittix::persistence {

class OrderedJobs {
  public:
    OrderedJobs();
    // Runs every job still queued, then ends the thread: nothing posted is dropped.
    ~OrderedJobs();
    OrderedJobs(const OrderedJobs&) = delete;
    OrderedJobs& operator=(const OrderedJobs&) = delete;

    // Queues `job` and returns at once. A job that throws ends alone; the jobs after it run.
    void post(std::function<void()> job);
    // Returns once every job posted before the call has run.
    void finish();

  private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;  // a job was queued, or the thread ends
    std::condition_variable m_done;  // a job has run
    std::deque<std::function<void()>> m_queue;
    std::uint64_t m_posted = 0;  // jobs queued so far
    std::uint64_t m_ran = 0;     // jobs run so far
    bool m_ending = false;
    std::thread m_thread;  // last: started once everything above is ready
};

}  // namespace dittix::persistence
