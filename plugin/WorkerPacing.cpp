#include "WorkerPacing.h"

#include <chrono>

std::int64_t SteadyPacing::now() {
    // Monotonic, so a change of the wall clock neither delays nor hurries an announcement.
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SteadyPacing::wallMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SteadyPacing::pause(const std::atomic<bool>& running) {
    std::unique_lock<std::mutex> guard(lock_);
    woken_.wait_for(guard, std::chrono::milliseconds(PAUSE_MS),
                    [&] { return wakeRequested_ || !running; });
    wakeRequested_ = false;
}

void SteadyPacing::wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        wakeRequested_ = true;
    }
    woken_.notify_one();
}
