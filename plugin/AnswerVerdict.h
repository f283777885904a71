#ifndef TRACKPOST_ANSWER_VERDICT_H
#define TRACKPOST_ANSWER_VERDICT_H

#include <cstdint>
#include <functional>
#include <string>

#include "Outbox.h"

// The service's verdicts on a request that was carried out, from its HTTP status and body.

// v1.1: refused when the status is 400 or above, or when the body begins with the service's
// error prefix {"errors":[{ whatever the status.
bool answerRefused(long httpStatus, const std::string& body);

// v1.1 refused with code 453: the account has no v1.1 access, and the service did not act on the
// request, so the same step may be taken through v2.
bool answerDeniesV1(long httpStatus, const std::string& body);

// v2: accepted only with a 2xx status and a JSON object whose "data" is an object; a problem
// object, an error list without data or anything else is a refusal.
bool v2AnswerRefused(long httpStatus, const std::string& body);

// What the answer to a carried-out post means for its text: accepted, a duplicate, refused for
// good, a passing server error, a rate limit, a login no longer valid, or an account whose every
// post will be refused (no credits left, suspended). v1.1 and v2 answers alike; a v2 answer is
// accepted only as v2AnswerRefused says.
PostResult postResult(long httpStatus, const std::string& body, bool v2);

// The service's own words on a refusal: v2's "detail", or the first v1.1 error's "message";
// empty when the body has neither.
std::string answerDetail(const std::string& body);

// The service refused the request for its time stamp: v1.1 code 135, or a 401 whose Date header
// (serviceTime, when the answer had one) is more than CLOCK_TOLERANCE_SECONDS from the time the
// request was signed with.
bool answerRefusesTimestamp(long httpStatus, const std::string& body, bool haveDate,
                            std::int64_t serviceTime, std::int64_t signedTime);
constexpr std::int64_t CLOCK_TOLERANCE_SECONDS = 60;

// How long a rate-limited answer asks to wait, in milliseconds: until the latest of
// x-rate-limit-reset and, where their -remaining is 0, x-user-limit-24hour-reset and
// x-app-limit-24hour-reset (epoch seconds on the service's clock), from `serviceNowMs` on that
// clock. A reset already past waits a moment (1 s), a wild one a day; 0 when no header tells.
using HeaderLookup = std::function<bool(const char* name, std::string& value)>;
std::int64_t limitWaitMillis(const HeaderLookup& header, std::int64_t serviceNowMs);
constexpr std::int64_t LONGEST_LIMIT_SECONDS = 24 * 60 * 60;
constexpr std::int64_t PAST_LIMIT_WAIT_MS = 1000;

#endif
