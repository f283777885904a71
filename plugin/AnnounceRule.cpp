#include "AnnounceRule.h"

#include <cmath>
#include <limits>

std::int32_t AnnounceRule::wholeSeconds(double delaySeconds) {
    if (std::isnan(delaySeconds)) delaySeconds = DEFAULT_DELAY_SECONDS;
    const double t = std::trunc(delaySeconds);
    // Converting an out-of-range double is undefined, so clamp first.
    if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (t <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(t);
}

bool AnnounceRule::poll(std::int64_t now, const std::string& identity, bool playing,
                        double delaySeconds) {
    if (identity != lastTrack_) {
        lastTrack_ = identity;
        pending_ = true;
        startTime_ = now;
    }
    // Every poll that finds the deck stopped restarts the wait in full.
    if (!playing) startTime_ = now;
    if (!pending_ || now - startTime_ < wholeSeconds(delaySeconds)) return false;
    pending_ = false;
    return true;
}
