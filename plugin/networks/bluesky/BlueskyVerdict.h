#ifndef TRACKPOST_BLUESKY_VERDICT_H
#define TRACKPOST_BLUESKY_VERDICT_H

#include <cstdint>

#include "Outbox.h"
#include "WebClient.h"

// What a Bluesky server's answer to a post means for its text.
struct BlueskyVerdict {
    PostResult result;
    // The access token has expired: refresh the session (or make a new one) and send again.
    bool refresh;
};

// Not carried out -> Failed; 2xx with the record's uri -> Accepted, without -> Failed (nothing
// says it was stored; the retry puts the same key, so it can't post twice); ExpiredToken, whatever
// the status -> LoginInvalid with refresh; InvalidToken, AuthenticationRequired or another 401 ->
// LoginInvalid; AccountTakedown, AccountDeactivated, AccountSuspended or a 403 -> AccountBlocked;
// 429 -> RateLimited; 5xx -> ServerError; the other 4xx (InvalidRecord, InvalidRequest, 413) ->
// Refused.
BlueskyVerdict blueskyVerdict(const WebAnswer& answer);

// When the limit of a 429 ends on our wall clock, whose time is `wallMs` (milliseconds since the
// epoch): its RateLimit-Reset, epoch seconds on the server's clock, counted from the answer's
// Date; else its Retry-After, seconds from now. A reset already past waits a second, one further
// than a day a day. 0 for any other answer, and when neither field is readable.
std::int64_t blueskyLimitEndsAt(const WebAnswer& answer, std::int64_t wallMs);

#endif
