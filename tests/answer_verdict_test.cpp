// What the service's answers mean for a post, read from their status, body and headers, with the
// bodies the service sends.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "AnswerVerdict.h"

namespace {

const char V1_DUPLICATE[] = R"({"errors":[{"code":187,"message":"Status is a duplicate."}]})";
const char V1_RATE[] = R"({"errors":[{"message":"Rate limit exceeded","code":88}]})";
const char V1_EXPIRED[] = R"({"errors":[{"message":"Invalid or expired token.","code":89}]})";
const char V1_CLOCK[] = R"({"errors":[{"code":135,"message":"Timestamp out of bounds."}]})";
const char V1_SUSPENDED[] =
    R"({"errors":[{"code":64,"message":"Your account is suspended and is not permitted to access this feature."}]})";
const char V1_TOO_LONG[] =
    R"({"errors":[{"code":186,"message":"Status is over 280 characters."}]})";
const char V1_OVER_CAPACITY[] = R"({"errors":[{"message":"Over capacity","code":130}]})";
const char V2_DUPLICATE[] =
    R"({"detail":"You are not allowed to create a Tweet with duplicate content.","type":"about:blank","title":"Forbidden","status":403})";
const char V2_RATE[] =
    R"({"title":"Too Many Requests","detail":"Too Many Requests","type":"about:blank","status":429})";
const char V2_UNAUTHORIZED[] =
    R"({"title":"Unauthorized","type":"about:blank","status":401,"detail":"Unauthorized"})";
const char V2_CREDITS[] =
    R"({"title":"CreditsDepleted","detail":"Your enrolled account does not have any credits to fulfill this request.","type":"https://api.twitter.com/2/problems/credits","status":402})";
const char V2_SUSPENDED[] =
    R"({"title":"Forbidden","detail":"Your account is suspended and is not permitted to access this feature.","type":"about:blank","status":403})";
const char V2_OTHER_FORBIDDEN[] =
    R"({"title":"Forbidden","detail":"You are not permitted to perform this action.","type":"about:blank","status":403})";
const char V2_CREATED[] = R"({"data":{"id":"1","text":"hi"}})";

TEST(PostResultOfAnAnswer, EveryKindOfAnswer) {
    struct Case {
        const char* name;
        bool v2;
        long status;
        const char* body;
        PostResult expected;
    };
    const Case cases[] = {
        {"v1.1 stored", false, 200, R"({"id_str":"1"})", PostResult::Accepted},
        {"v1.1 garbage at 200", false, 200, "\x01\x02", PostResult::Accepted},
        {"v1.1 error object at 200", false, 200, V1_TOO_LONG, PostResult::Refused},
        {"v1.1 duplicate", false, 403, V1_DUPLICATE, PostResult::Duplicate},
        {"v1.1 too long", false, 403, V1_TOO_LONG, PostResult::Refused},
        {"v1.1 rate limit", false, 429, V1_RATE, PostResult::RateLimited},
        {"v1.1 code 88 at another status", false, 420, V1_RATE, PostResult::RateLimited},
        {"v1.1 revoked token", false, 401, V1_EXPIRED, PostResult::LoginInvalid},
        {"v1.1 suspended", false, 403, V1_SUSPENDED, PostResult::AccountBlocked},
        {"v1.1 no credits", false, 402, "{}", PostResult::AccountBlocked},
        {"v1.1 over capacity", false, 503, V1_OVER_CAPACITY, PostResult::ServerError},
        {"v1.1 HTML 500 page", false, 500, "<html>oops</html>", PostResult::ServerError},
        {"v1.1 404", false, 404, "", PostResult::Refused},
        {"v2 created", true, 201, V2_CREATED, PostResult::Accepted},
        {"v2 2xx without data", true, 200, "{}", PostResult::Refused},
        {"v2 duplicate", true, 403, V2_DUPLICATE, PostResult::Duplicate},
        {"v2 too many requests", true, 429, V2_RATE, PostResult::RateLimited},
        {"v2 unauthorized", true, 401, V2_UNAUTHORIZED, PostResult::LoginInvalid},
        {"v2 credits depleted", true, 402, V2_CREDITS, PostResult::AccountBlocked},
        {"v2 suspended", true, 403, V2_SUSPENDED, PostResult::AccountBlocked},
        {"v2 other 403", true, 403, V2_OTHER_FORBIDDEN, PostResult::Refused},
        {"v2 503", true, 503, "", PostResult::ServerError},
        {"v2 400", true, 400, R"({"title":"Invalid Request"})", PostResult::Refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(postResult(c.status, c.body, c.v2), c.expected);
    }
}

TEST(AnswerDetail, TheServicesOwnWords) {
    EXPECT_EQ(answerDetail(V2_CREDITS),
              "Your enrolled account does not have any credits to fulfill this request.");
    EXPECT_EQ(answerDetail(V1_SUSPENDED),
              "Your account is suspended and is not permitted to access this feature.");
    for (const char* none : {"", "<html>", "{}", R"({"errors":[]})", R"({"errors":[7]})", "[1]"})
        EXPECT_EQ(answerDetail(none), "") << none;
}

TEST(AnswerRefusesTimestamp, Code135OrA401WhoseDateIsFarFromTheSignature) {
    struct Case {
        const char* name;
        long status;
        const char* body;
        bool haveDate;
        std::int64_t serviceTime;
        bool expected;
    };
    const std::int64_t signedAt = 1'800'000'000;
    const Case cases[] = {
        {"code 135", 401, V1_CLOCK, false, 0, true},
        {"v2 401, Date 10 min ahead", 401, V2_UNAUTHORIZED, true, signedAt + 600, true},
        {"v2 401, Date 10 min behind", 401, V2_UNAUTHORIZED, true, signedAt - 600, true},
        {"v2 401, Date 60 s ahead: within", 401, V2_UNAUTHORIZED, true, signedAt + 60, false},
        {"v2 401 without Date", 401, V2_UNAUTHORIZED, false, 0, false},
        {"revoked token, clocks agree", 401, V1_EXPIRED, true, signedAt + 2, false},
        {"403 with a far Date", 403, V1_DUPLICATE, true, signedAt + 9999, false},
        {"code 135 in an accepted body is no refusal", 200, R"({"code":135})", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerRefusesTimestamp(c.status, c.body, c.haveDate, c.serviceTime, signedAt),
                  c.expected);
    }
}

// The wait runs from the service's time in milliseconds to the reset second, so it ends at the
// reset and never before it.
TEST(LimitWaitMillis, UntilTheLatestResetThatApplies) {
    const std::int64_t now = 1'800'000'000;
    const std::int64_t nowMs = now * 1000 + 970;  // late in the service's second
    const auto at = [&](std::int64_t seconds) { return std::to_string(now + seconds); };
    struct Case {
        const char* name;
        std::map<std::string, std::string> headers;
        std::int64_t expected;  // ms
    };
    const Case cases[] = {
        {"none", {}, 0},
        {"window reset", {{"x-rate-limit-reset", at(16)}}, 16'000 - 970},
        {"the next second", {{"x-rate-limit-reset", at(1)}}, 30},
        {"24-hour user cap used up",
         {{"x-rate-limit-reset", at(120)},
          {"x-user-limit-24hour-remaining", "0"},
          {"x-user-limit-24hour-reset", at(5000)}},
         5'000'000 - 970},
        {"24-hour user cap not used up",
         {{"x-rate-limit-reset", at(120)},
          {"x-user-limit-24hour-remaining", "3"},
          {"x-user-limit-24hour-reset", at(5000)}},
         120'000 - 970},
        {"24-hour app cap used up",
         {{"x-app-limit-24hour-remaining", "0"}, {"x-app-limit-24hour-reset", at(700)}},
         700'000 - 970},
        {"reset this very second", {{"x-rate-limit-reset", at(0)}}, PAST_LIMIT_WAIT_MS},
        {"reset already past", {{"x-rate-limit-reset", at(-30)}}, PAST_LIMIT_WAIT_MS},
        {"wild reset", {{"x-rate-limit-reset", "99999999999999"}}, LONGEST_LIMIT_SECONDS * 1000},
        {"a day and a second",
         {{"x-rate-limit-reset", at(LONGEST_LIMIT_SECONDS + 1)}},
         LONGEST_LIMIT_SECONDS * 1000},
        {"not a number", {{"x-rate-limit-reset", "soon"}}, 0},
        {"trailing junk", {{"x-rate-limit-reset", at(10) + "x"}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HeaderLookup lookup = [&](const char* name, std::string& value) {
            const auto found = c.headers.find(name);
            if (found == c.headers.end()) return false;
            value = found->second;
            return true;
        };
        EXPECT_EQ(limitWaitMillis(lookup, nowMs), c.expected);
    }
}

}  // namespace
