// Waiting in tests for what another thread or process does in its own time.
#ifndef TRACKPOST_TESTS_EVENTUALLY_H
#define TRACKPOST_TESTS_EVENTUALLY_H

#include <chrono>
#include <thread>

// Polls `happened` every `poll` until it holds or `limit` passes; its result at the end.
template <typename Condition>
bool eventually(Condition happened, std::chrono::milliseconds limit = std::chrono::seconds(30),
                std::chrono::milliseconds poll = std::chrono::milliseconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!happened()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

#endif
