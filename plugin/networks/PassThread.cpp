#include "PassThread.h"

#include <exception>
#include <utility>

void PassThread::start(WorkerPacing& pacing, const std::atomic<bool>& running,
                       std::function<std::int64_t()> pass) {
    std::promise<void> ended;
    ended_ = ended.get_future();
    thread_ = std::thread(
        [&pacing, &running, pass = std::move(pass), ended = std::move(ended)]() mutable {
            pacing.begin(running);
            while (running) {
                std::int64_t idleMs = POLL;
                try {
                    idleMs = pass();
                } catch (const std::exception&) {
                    // Out of memory during one pass: drop that pass's work, never the host.
                }
                if (idleMs == POLL)
                    pacing.pause(running);
                else
                    pacing.idle(running, idleMs);
            }
            ended.set_value();
        });
}

bool PassThread::endedBy(std::chrono::steady_clock::time_point deadline) const {
    return !ended_.valid() || ended_.wait_until(deadline) == std::future_status::ready;
}

void PassThread::join() {
    if (thread_.joinable()) thread_.join();
}
