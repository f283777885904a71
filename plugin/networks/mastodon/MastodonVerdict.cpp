#include "MastodonVerdict.h"

#include <nlohmann/json.hpp>
#include <string>

#include "LimitEnd.h"
#include "MastodonClient.h"

namespace {

bool isStatus(const std::string& body) {
    const nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
    if (!value.is_object()) return false;
    const auto id = value.find("id");
    return id != value.end() && id->is_string() && !id->get_ref<const std::string&>().empty();
}

}  // namespace

PostResult mastodonVerdict(const WebAnswer& answer) {
    if (!answer.carriedOut) return PostResult::Failed;
    const long status = answer.status;
    if (status >= 200 && status < 300)
        return isStatus(answer.body) ? PostResult::Accepted : PostResult::Failed;
    if (status == 401) return PostResult::LoginInvalid;
    if (status == 403) return PostResult::AccountBlocked;
    if (status == 429) return PostResult::RateLimited;
    if (status >= 400 && status < 500) return PostResult::Refused;
    // 5xx, and what no server answers a post with (1xx, a redirect that is not followed): the
    // server's trouble, retried a few times before the text is dropped.
    return PostResult::ServerError;
}

std::int64_t mastodonLimitEndsAt(const WebAnswer& answer, std::int64_t wallMs) {
    std::string reset;
    std::int64_t millis = 0;
    if (!answer.carriedOut || answer.status != 429 || !answer.header("X-RateLimit-Reset", reset) ||
        !parseIsoTimeMillis(reset, millis) || millis <= 0)
        return 0;
    // A reset is bounded by its parser, so the difference never overflows.
    return limitEndsAfter(millis - answeredAtMillis(answer, wallMs), wallMs);
}
