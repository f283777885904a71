#ifndef TRACKPOST_NETWORKS_PASS_THREAD_H
#define TRACKPOST_NETWORKS_PASS_THREAD_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include "WorkerPacing.h"

// A worker thread: passes of its work, each followed by its pacing's pause, while `running`.
// A pass that runs out of memory is dropped, never the host.
class PassThread {
  public:
    // What a pass returns: how long its worker may idle, in milliseconds (negative: until woken),
    // or POLL for the pacing's own short pause.
    static constexpr std::int64_t POLL = std::numeric_limits<std::int64_t>::min();

    PassThread() = default;
    PassThread(const PassThread&) = delete;
    PassThread& operator=(const PassThread&) = delete;
    ~PassThread() { join(); }

    // `pacing` and `running` outlive the thread.
    void start(WorkerPacing& pacing, const std::atomic<bool>& running,
               std::function<std::int64_t()> pass);
    // Whether the thread's work has returned by `deadline` (true when never started).
    bool endedBy(std::chrono::steady_clock::time_point deadline) const;
    void join();
    bool started() const { return thread_.joinable(); }

  private:
    std::thread thread_;
    std::future<void> ended_;
};

#endif
