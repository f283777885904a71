// What the Mastodon servers' answers to a post mean for its text, over the answers they give.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "MastodonVerdict.h"
#include "web_answers.h"

namespace {

const char STATUS[] =
    R"({"id":"103254962155278888","created_at":"2019-12-05T11:34:47.196Z","content":"<p>test content</p>","visibility":"public","application":{"name":"test app","website":null}})";
const char RESET[] = "2026-12-11T07:05:00.123456Z";
const std::int64_t RESET_MS = 1796972700123;

}  // namespace

TEST(MastodonVerdict, AnswersOfTheServers) {
    const Fields limits = {
        {"x-ratelimit-limit", "300"}, {"x-ratelimit-remaining", "0"}, {"x-ratelimit-reset", RESET}};
    const struct {
        const char* name;
        WebAnswer answer;
        PostResult result;
    } cases[] = {
        {"posted", answer(200, STATUS, limits), PostResult::Accepted},
        {"a scheduled status",
         answer(200, R"({"id":"3221","scheduled_at":"2019-12-05T12:33:01.000Z"})"),
         PostResult::Accepted},
        {"2xx but no status", answer(200, "{}"), PostResult::Failed},
        {"2xx with an id that is no status id", answer(200, R"({"id":103254962155278888})"),
         PostResult::Failed},
        {"2xx that is not JSON", answer(200, "\xff\xfe garbage"), PostResult::Failed},
        {"2xx empty", answer(204, ""), PostResult::Failed},
        {"invalid token", answer(401, R"({"error":"The access token is invalid"})"),
         PostResult::LoginInvalid},
        {"login disabled", answer(403, R"({"error":"Your login is currently disabled"})"),
         PostResult::AccountBlocked},
        {"e-mail not confirmed",
         answer(403, R"({"error":"Your login is missing a confirmed e-mail address"})"),
         PostResult::AccountBlocked},
        {"token without the right to post",
         answer(403, R"({"error":"This action is outside the authorized scopes"})"),
         PostResult::AccountBlocked},
        {"too long",
         answer(422, R"({"error":"Validation failed: Text character limit of 500 exceeded"})"),
         PostResult::Refused},
        {"blank", answer(422, R"({"error":"Validation failed: Text can't be blank"})"),
         PostResult::Refused},
        {"not found", answer(404, R"({"error":"Record not found"})"), PostResult::Refused},
        {"gone", answer(410, ""), PostResult::Refused},
        {"rate limited", answer(429, R"({"error":"Too many requests"})", limits),
         PostResult::RateLimited},
        {"internal error", answer(500, R"({"error":"We're sorry, but something went wrong."})"),
         PostResult::ServerError},
        {"bad gateway", answer(502, "<html><h1>502 Bad Gateway</h1></html>"),
         PostResult::ServerError},
        {"unavailable", answer(503, R"({"error":"Remote data could not be fetched"})"),
         PostResult::ServerError},
        {"a redirect not followed", answer(301, ""), PostResult::ServerError},
        {"time-out", notCarriedOut("Operation too slow"), PostResult::Failed},
        {"cut short", notCarriedOut("transfer closed with 1000 bytes remaining to read"),
         PostResult::Failed},
        {"aborted", notCarriedOut("transfer aborted"), PostResult::Failed},
    };
    for (const auto& c : cases) EXPECT_EQ(mastodonVerdict(c.answer), c.result) << c.name;
}

TEST(MastodonVerdict, LimitEndsWhenTheRateLimitedAnswerSays) {
    const std::string tooMany = R"({"error":"Too many requests"})";
    const auto limited = [&](Fields headers) { return answer(429, tooMany, std::move(headers)); };
    // Our clock 30 s before the reset; a server whose Date says 10 s before it.
    const std::int64_t wall = RESET_MS - 30'000;
    const auto dated = [&](WebAnswer a, std::int64_t seconds) {
        a.hasDate = true;
        a.dateSeconds = seconds;
        return a;
    };
    const struct {
        const char* name;
        WebAnswer answer;
        std::int64_t endsAt;
    } cases[] = {
        {"counted from the server's Date, our clock off",
         dated(limited({{"x-ratelimit-reset", RESET}}), (RESET_MS - 10'123) / 1000), wall + 10'123},
        {"a reset already past waits a second",
         dated(limited({{"x-ratelimit-reset", RESET}}), RESET_MS / 1000 + 60), wall + 1000},
        {"one further than a day waits a day",
         limited({{"x-ratelimit-reset", "2027-12-11T07:05:00Z"}}), wall + 24 * 3600 * 1000},
        {"reset in UTC", limited({{"x-ratelimit-reset", RESET}}), RESET_MS},
        {"reset with an offset", limited({{"x-ratelimit-reset", "2026-12-11T08:05:00.123+01:00"}}),
         RESET_MS},
        {"the last of two",
         limited({{"x-ratelimit-reset", "2020-01-01T00:00:00Z"}, {"x-ratelimit-reset", RESET}}),
         RESET_MS},
        {"no reset", limited({{"x-ratelimit-remaining", "0"}}), 0},
        {"unreadable", limited({{"x-ratelimit-reset", "soon"}}), 0},
        {"epoch seconds, as X gives them", limited({{"x-ratelimit-reset", "1796972700"}}), 0},
        {"before the epoch", limited({{"x-ratelimit-reset", "1969-12-31T23:59:59Z"}}), 0},
        {"not rate limited", answer(200, STATUS, {{"x-ratelimit-reset", RESET}}), 0},
        {"not carried out", notCarriedOut("Operation too slow"), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(mastodonLimitEndsAt(c.answer, wall), c.endsAt) << c.name;
}
