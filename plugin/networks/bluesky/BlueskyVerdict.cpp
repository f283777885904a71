#include "BlueskyVerdict.h"

#include <nlohmann/json.hpp>
#include <string>

#include "BlueskyClient.h"
#include "LimitEnd.h"

namespace {

bool namesRecord(const std::string& body) {
    const nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
    if (!value.is_object()) return false;
    const auto uri = value.find("uri");
    return uri != value.end() && uri->is_string() &&
           uri->get_ref<const std::string&>().rfind("at://", 0) == 0;
}

// A count of seconds as the rate-limit fields give it: digits only, at most twelve of them (a
// bound that keeps milliseconds far from overflow); false for anything else.
bool readSeconds(const WebAnswer& answer, const char* name, std::int64_t& seconds) {
    std::string text;
    if (!answer.header(name, text) || text.empty() || text.size() > 12) return false;
    seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        seconds = seconds * 10 + (c - '0');
    }
    return true;
}

}  // namespace

BlueskyVerdict blueskyVerdict(const WebAnswer& answer) {
    if (!answer.carriedOut) return {PostResult::Failed, false};
    const long status = answer.status;
    if (status >= 200 && status < 300)
        return {namesRecord(answer.body) ? PostResult::Accepted : PostResult::Failed, false};
    // The servers answer an expired or unknown token with 400, not 401: the name tells first.
    const std::string error = parseError(answer.body).error;
    if (error == "ExpiredToken") return {PostResult::LoginInvalid, true};
    if (error == "InvalidToken" || error == "AuthenticationRequired")
        return {PostResult::LoginInvalid, false};
    if (error == "AccountTakedown" || error == "AccountDeactivated" || error == "AccountSuspended")
        return {PostResult::AccountBlocked, false};
    if (status == 401) return {PostResult::LoginInvalid, false};
    if (status == 403) return {PostResult::AccountBlocked, false};
    if (status == 429) return {PostResult::RateLimited, false};
    if (status >= 400 && status < 500) return {PostResult::Refused, false};
    // 5xx, and what no server answers a post with (1xx, a redirect that is not followed): the
    // server's trouble, retried a few times before the text is dropped.
    return {PostResult::ServerError, false};
}

std::int64_t blueskyLimitEndsAt(const WebAnswer& answer, std::int64_t wallMs) {
    if (!answer.carriedOut || answer.status != 429) return 0;
    std::int64_t seconds = 0;
    if (readSeconds(answer, "RateLimit-Reset", seconds) && seconds > 0)
        return limitEndsAfter(seconds * 1000 - answeredAtMillis(answer, wallMs), wallMs);
    if (readSeconds(answer, "Retry-After", seconds)) return limitEndsAfter(seconds * 1000, wallMs);
    return 0;
}
