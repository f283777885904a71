// What the Bluesky servers' answers to a post mean for its text, over the answers they give.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BlueskyVerdict.h"
#include "web_answers.h"

namespace {

std::string xrpcError(const std::string& name, const std::string& message) {
    return R"({"error":")" + name + R"(","message":")" + message + R"("})";
}

const char PUT[] =
    R"({"uri":"at://did:plc:sandboxdj7x2kq4mfw3ntlpbv/app.bsky.feed.post/3jzfcijpj2z2a","cid":"bafyreibjifzpqj6o6wcq3hejh7y4z4z2vmiklkvykc57tw3pcbx3kxifpm","commit":{"cid":"bafyreigdp3tanjasdpmm2ywnlnnykxcrfhbfcmm6wjfhqxemqamv4cbfya","rev":"3lcnhgkp5mz2k"},"validationStatus":"valid"})";
const std::int64_t RESET = 1796972700;  // 2026-12-11T07:05:00Z

}  // namespace

TEST(BlueskyVerdict, AnswersOfTheServers) {
    const Fields limits = {{"ratelimit-limit", "5000"},
                           {"ratelimit-remaining", "0"},
                           {"ratelimit-reset", std::to_string(RESET)},
                           {"ratelimit-policy", "5000;w=3600"}};
    using R = PostResult;
    const struct {
        const char* name;
        WebAnswer answer;
        PostResult result;
        bool refresh;
    } cases[] = {
        {"put", answer(200, PUT, limits), R::Accepted, false},
        {"put, nothing more than the uri",
         answer(200, R"({"uri":"at://did:plc:x/app.bsky.feed.post/3k"})"), R::Accepted, false},
        {"2xx without a uri", answer(200, R"({"cid":"bafyrei"})"), R::Failed, false},
        {"2xx whose uri is no record", answer(200, R"({"uri":"https://bsky.app/profile/x"})"),
         R::Failed, false},
        {"2xx whose uri is no string", answer(200, R"({"uri":42})"), R::Failed, false},
        {"2xx naming an error", answer(200, xrpcError("InvalidRecord", "x")), R::Failed, false},
        {"2xx garbage", answer(200, "\xff\xfe<html>"), R::Failed, false},
        {"2xx empty", answer(200, ""), R::Failed, false},
        {"access token expired", answer(400, xrpcError("ExpiredToken", "Token has expired")),
         R::LoginInvalid, true},
        {"expired, as a 401", answer(401, xrpcError("ExpiredToken", "Token has expired")),
         R::LoginInvalid, true},
        {"token revoked", answer(400, xrpcError("ExpiredToken", "Token has been revoked")),
         R::LoginInvalid, true},
        {"token unknown", answer(400, xrpcError("InvalidToken", "Token could not be verified")),
         R::LoginInvalid, false},
        {"refresh token given as access",
         answer(400, xrpcError("InvalidToken", "Invalid token type")), R::LoginInvalid, false},
        {"no token", answer(401, xrpcError("AuthenticationRequired", "Authentication Required")),
         R::LoginInvalid, false},
        {"wrong password",
         answer(401, xrpcError("AuthenticationRequired", "Invalid identifier or password")),
         R::LoginInvalid, false},
        {"a 401 without words", answer(401, ""), R::LoginInvalid, false},
        {"taken down, as a post's answer",
         answer(400, xrpcError("AccountTakedown", "Account has been taken down")),
         R::AccountBlocked, false},
        {"taken down, as a session's answer",
         answer(401, xrpcError("AccountTakedown", "Account has been taken down")),
         R::AccountBlocked, false},
        {"deactivated", answer(400, xrpcError("AccountDeactivated", "Account is deactivated")),
         R::AccountBlocked, false},
        {"suspended", answer(400, xrpcError("AccountSuspended", "Account is suspended")),
         R::AccountBlocked, false},
        {"forbidden", answer(403, "<html>Forbidden</html>"), R::AccountBlocked, false},
        {"rate limited", answer(429, xrpcError("RateLimitExceeded", "Rate Limit Exceeded"), limits),
         R::RateLimited, false},
        {"rate limited, no body", answer(429, ""), R::RateLimited, false},
        {"record refused",
         answer(400, xrpcError("InvalidRecord",
                               "Invalid app.bsky.feed.post record: Record/text must not be "
                               "longer than 300 graphemes")),
         R::Refused, false},
        {"request refused",
         answer(400, xrpcError("InvalidRequest", "Write records at the account's PDS")), R::Refused,
         false},
        {"too large", answer(413, xrpcError("PayloadTooLarge", "request entity too large")),
         R::Refused, false},
        {"not found", answer(404, xrpcError("XRPCNotSupported", "XRPCNotSupported")), R::Refused,
         false},
        {"internal error", answer(500, xrpcError("InternalServerError", "Internal Server Error")),
         R::ServerError, false},
        {"bad gateway", answer(502, "<html><h1>502 Bad Gateway</h1></html>"), R::ServerError,
         false},
        {"unavailable", answer(503, xrpcError("UpstreamFailure", "Upstream Failure")),
         R::ServerError, false},
        {"a redirect not followed", answer(301, ""), R::ServerError, false},
        {"time-out", notCarriedOut("Operation too slow"), R::Failed, false},
        {"cut short", notCarriedOut("transfer closed with 1000 bytes remaining to read"), R::Failed,
         false},
        {"aborted", notCarriedOut("transfer aborted"), R::Failed, false},
    };
    for (const auto& c : cases) {
        const BlueskyVerdict verdict = blueskyVerdict(c.answer);
        EXPECT_EQ(verdict.result, c.result) << c.name;
        EXPECT_EQ(verdict.refresh, c.refresh) << c.name;
    }
}

TEST(BlueskyVerdict, LimitEndsWhenTheRateLimitedAnswerSays) {
    const auto limited = [](Fields headers) {
        return answer(429, xrpcError("RateLimitExceeded", "Rate Limit Exceeded"),
                      std::move(headers));
    };
    const auto dated = [](WebAnswer a, std::int64_t seconds) {
        a.hasDate = true;
        a.dateSeconds = seconds;
        return a;
    };
    const std::string reset = std::to_string(RESET);
    // Our clock 30.5 s before the reset.
    const std::int64_t wall = RESET * 1000 - 30'500;
    const std::int64_t day = 24 * 3600 * 1000;
    const struct {
        const char* name;
        WebAnswer answer;
        std::int64_t endsAt;
    } cases[] = {
        {"counted from the server's Date, our clock off",
         dated(limited({{"ratelimit-reset", reset}}), RESET - 10), wall + 10'000},
        {"no Date: our clock", limited({{"ratelimit-reset", reset}}), RESET * 1000},
        {"the reset rather than Retry-After",
         dated(limited({{"ratelimit-reset", reset}, {"retry-after", "600"}}), RESET - 10),
         wall + 10'000},
        {"a reset already past waits a second",
         dated(limited({{"ratelimit-reset", reset}}), RESET + 60), wall + 1000},
        {"a reset this very second waits a second",
         dated(limited({{"ratelimit-reset", reset}}), RESET), wall + 1000},
        {"one further than a day waits a day",
         dated(limited({{"ratelimit-reset", std::to_string(RESET + 90'000)}}), RESET), wall + day},
        {"the largest reset read", limited({{"ratelimit-reset", "999999999999"}}), wall + day},
        {"a Date too far off is none",
         dated(limited({{"ratelimit-reset", reset}}), 999'999'999'999), RESET * 1000},
        {"only Retry-After", limited({{"retry-after", "30"}}), wall + 30'000},
        {"Retry-After 0 waits a second", limited({{"retry-after", "0"}}), wall + 1000},
        {"Retry-After of two days", limited({{"retry-after", "172800"}}), wall + day},
        {"an unreadable reset, then Retry-After",
         limited({{"ratelimit-reset", "soon"}, {"retry-after", "30"}}), wall + 30'000},
        {"a reset of 0, then Retry-After",
         limited({{"ratelimit-reset", "0"}, {"retry-after", "30"}}), wall + 30'000},
        {"neither", limited({{"ratelimit-remaining", "0"}}), 0},
        {"Retry-After as an HTTP date", limited({{"retry-after", "Fri, 11 Dec 2026 07:05:00 GMT"}}),
         0},
        {"negative", limited({{"ratelimit-reset", "-5"}, {"retry-after", "-5"}}), 0},
        {"fractional", limited({{"retry-after", "1.5"}}), 0},
        {"too many digits", limited({{"ratelimit-reset", "9999999999999"}}), 0},
        {"an RFC 3339 reset, as Mastodon gives it",
         limited({{"ratelimit-reset", "2026-12-11T07:05:00Z"}}), 0},
        {"not rate limited", answer(200, PUT, {{"ratelimit-reset", reset}}), 0},
        {"a 503 with Retry-After", answer(503, "", {{"retry-after", "30"}}), 0},
        {"not carried out", notCarriedOut("Operation too slow"), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(blueskyLimitEndsAt(c.answer, wall), c.endsAt) << c.name;
}
