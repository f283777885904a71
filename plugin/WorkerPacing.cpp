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
    idle(running, PAUSE_MS);
}

void SteadyPacing::idle(const std::atomic<bool>& running, std::int64_t ms) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto woken = [&] { return wakeRequested_ || !running; };
    if (ms < 0)
        woken_.wait(guard, woken);
    else
        woken_.wait_for(guard, std::chrono::milliseconds(ms), woken);
    wakeRequested_ = false;
}

void SteadyPacing::wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        wakeRequested_ = true;
    }
    woken_.notify_one();
}

std::unique_ptr<WorkerPacing> SteadyPacing::lane() {
    return std::make_unique<SteadyPacing>();
}
