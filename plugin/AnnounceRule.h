#ifndef TRACKPOST_ANNOUNCE_RULE_H
#define TRACKPOST_ANNOUNCE_RULE_H

#include <cstdint>
#include <string>

// Decides when the track on the active deck is announced: once per change of the loaded file's
// identity, after it has played without a stop for the history delay. Fed one poll at a time;
// knows nothing of the host or the clock.
class AnnounceRule {
  public:
    // One poll at `now` (whole seconds). True when the track is to be announced now.
    bool poll(std::int64_t now, const std::string& identity, bool playing, double delaySeconds);

    // The history delay as whole seconds: truncated toward zero, clamped to 32 bits; a delay
    // the host can't express as a number counts as the default.
    static std::int32_t wholeSeconds(double delaySeconds);

    static constexpr double DEFAULT_DELAY_SECONDS = 45.0;

  private:
    std::string lastTrack_;  // identity of the track seen last; empty at first
    bool pending_ = false;
    std::int64_t startTime_ = 0;
};

#endif
