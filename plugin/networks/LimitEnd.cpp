#include "LimitEnd.h"

#include <algorithm>

#include "AnswerVerdict.h"

std::int64_t answeredAtMillis(const WebAnswer& answer, std::int64_t wallMs) {
    constexpr std::int64_t LATEST_SECONDS = 400'000'000'000;  // the year 14,000 or so
    return answer.hasDate && answer.dateSeconds > 0 && answer.dateSeconds < LATEST_SECONDS
               ? answer.dateSeconds * 1000
               : wallMs;
}

std::int64_t limitEndsAfter(std::int64_t waitMs, std::int64_t wallMs) {
    return wallMs + std::clamp(waitMs, PAST_LIMIT_WAIT_MS, LONGEST_LIMIT_SECONDS * 1000);
}
