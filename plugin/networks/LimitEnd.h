#ifndef TRACKPOST_NETWORKS_LIMIT_END_H
#define TRACKPOST_NETWORKS_LIMIT_END_H

#include <cstdint>

#include "WebClient.h"

// The clock arithmetic of a rate-limited answer, shared by the networks' verdicts.

// The server's time when it answered, in milliseconds since the epoch: the answer's Date (whole
// seconds, never ahead of the server, so a wait counted from it is never short), else `wallMs`,
// our wall clock's time. A Date past the year 14,000 or so is taken for none, so that the
// difference with a bounded time never overflows.
std::int64_t answeredAtMillis(const WebAnswer& answer, std::int64_t wallMs);

// When a limit that asks to wait `waitMs` ends on our wall clock: a wait of less than a second
// (a reset already past, clocks apart) waits a second, one longer than a day a day.
std::int64_t limitEndsAfter(std::int64_t waitMs, std::int64_t wallMs);

#endif
