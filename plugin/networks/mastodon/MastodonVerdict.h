#ifndef TRACKPOST_MASTODON_VERDICT_H
#define TRACKPOST_MASTODON_VERDICT_H

#include <cstdint>

#include "Outbox.h"
#include "WebClient.h"

// What a Mastodon server's answer to a post means for its text:
// not carried out -> Failed; 2xx with a status -> Accepted; 401 -> LoginInvalid (token invalid or
// revoked); 403 -> AccountBlocked (login disabled, or a token without the right to post: every
// post would be refused); 429 -> RateLimited; 422 (too long, blank, any validation) and the other
// 4xx -> Refused; 5xx -> ServerError.
// A 2xx whose body is not a status (an id) is Failed: nothing says the post was stored, and the
// retry carries the same Idempotency-Key, so it can't post twice.
PostResult mastodonVerdict(const WebAnswer& answer);

// When the limit of a 429 ends on our wall clock, whose time is `wallMs` (milliseconds since the
// epoch): its X-RateLimit-Reset, a time of the server's clock, counted from the answer's Date
// (whole seconds, never ahead of the server, so the wait is never short), else from our clock.
// A reset already past waits a second, one further than a day a day. 0 for any other answer,
// and when the field is absent or unreadable.
std::int64_t mastodonLimitEndsAt(const WebAnswer& answer, std::int64_t wallMs);

#endif
