#include "AnswerVerdict.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace {

const char ERROR_PREFIX[] = "{\"errors\":[{";
const int NO_V1_ACCESS_CODE = 453;
const int RATE_LIMIT_CODE = 88;
const int SUSPENDED_CODE = 64;
const int TIMESTAMP_CODE = 135;
const int DUPLICATE_CODE = 187;
const char V2_DUPLICATE_WORDS[] = "duplicate content";
const char SUSPENDED_WORDS[] = "suspended";

// The body as JSON; discarded (never an exception) when it is not.
nlohmann::json parsed(const std::string& body) {
    return nlohmann::json::parse(body, nullptr, false);
}

bool holdsErrorCode(const nlohmann::json& answer, int code) {
    if (!answer.is_object()) return false;
    const auto errors = answer.find("errors");
    if (errors == answer.end() || !errors->is_array()) return false;
    for (const auto& error : *errors) {
        if (!error.is_object()) continue;
        const auto found = error.find("code");
        if (found != error.end() && found->is_number_integer() && *found == code) return true;
    }
    return false;
}

// The first string among the members `names` of a JSON object, or empty.
std::string firstText(const nlohmann::json& object, std::initializer_list<const char*> names) {
    if (!object.is_object()) return {};
    for (const char* name : names) {
        const auto found = object.find(name);
        if (found != object.end() && found->is_string()) return found->get<std::string>();
    }
    return {};
}

// A v2 problem object's words on it, any case.
bool problemSays(const nlohmann::json& answer, const char* words) {
    std::string text = firstText(answer, {"detail"}) + " " + firstText(answer, {"title"}) + " " +
                       firstText(answer, {"type"});
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find(words) != std::string::npos;
}

// The reset time a header gives, when it holds a number.
bool headerTime(const HeaderLookup& header, const char* name, std::int64_t& time) {
    std::string value;
    if (!header(name, value) || value.empty()) return false;
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0') return false;
    time = number;
    return true;
}

bool headerIsZero(const HeaderLookup& header, const char* name) {
    std::int64_t value = -1;
    return headerTime(header, name, value) && value == 0;
}

}  // namespace

bool answerRefused(long httpStatus, const std::string& body) {
    return httpStatus >= 400 || body.compare(0, sizeof ERROR_PREFIX - 1, ERROR_PREFIX) == 0;
}

bool answerDeniesV1(long httpStatus, const std::string& body) {
    return answerRefused(httpStatus, body) && holdsErrorCode(parsed(body), NO_V1_ACCESS_CODE);
}

bool v2AnswerRefused(long httpStatus, const std::string& body) {
    if (httpStatus < 200 || httpStatus >= 300) return true;
    const nlohmann::json answer = parsed(body);
    if (!answer.is_object()) return true;
    const auto data = answer.find("data");
    return data == answer.end() || !data->is_object();
}

PostResult postResult(long httpStatus, const std::string& body, bool v2) {
    const bool refused = v2 ? v2AnswerRefused(httpStatus, body) : answerRefused(httpStatus, body);
    if (!refused) return PostResult::Accepted;
    if (httpStatus >= 500 && httpStatus <= 599) return PostResult::ServerError;
    const nlohmann::json answer = parsed(body);
    if (httpStatus == 429 || holdsErrorCode(answer, RATE_LIMIT_CODE))
        return PostResult::RateLimited;
    if (httpStatus == 401) return PostResult::LoginInvalid;
    if (httpStatus == 402 || holdsErrorCode(answer, SUSPENDED_CODE) ||
        (v2 && httpStatus == 403 && problemSays(answer, SUSPENDED_WORDS)))
        return PostResult::AccountBlocked;
    if (holdsErrorCode(answer, DUPLICATE_CODE) ||
        (v2 && httpStatus == 403 && problemSays(answer, V2_DUPLICATE_WORDS)))
        return PostResult::Duplicate;
    return PostResult::Refused;
}

std::string answerDetail(const std::string& body) {
    const nlohmann::json answer = parsed(body);
    std::string detail = firstText(answer, {"detail"});
    if (!detail.empty() || !answer.is_object()) return detail;
    const auto errors = answer.find("errors");
    if (errors != answer.end() && errors->is_array() && !errors->empty())
        detail = firstText(errors->front(), {"message", "detail"});
    return detail;
}

bool answerRefusesTimestamp(long httpStatus, const std::string& body, bool haveDate,
                            std::int64_t serviceTime, std::int64_t signedTime) {
    if (answerRefused(httpStatus, body) && holdsErrorCode(parsed(body), TIMESTAMP_CODE))
        return true;
    const std::int64_t apart =
        serviceTime > signedTime ? serviceTime - signedTime : signedTime - serviceTime;
    return httpStatus == 401 && haveDate && apart > CLOCK_TOLERANCE_SECONDS;
}

std::int64_t limitWaitMillis(const HeaderLookup& header, std::int64_t serviceNowMs) {
    // Whole seconds first, so that wild values never overflow the milliseconds.
    const std::int64_t rest = serviceNowMs % 1000;
    const std::int64_t nowSeconds = serviceNowMs / 1000 - (rest < 0 ? 1 : 0);
    const std::int64_t pastMs = rest < 0 ? rest + 1000 : rest;  // into the second: 0..999
    bool told = false;
    std::int64_t until = nowSeconds;
    const auto consider = [&](const char* resetName, const char* remainingName) {
        std::int64_t reset = 0;
        if (remainingName != nullptr && !headerIsZero(header, remainingName)) return;
        if (!headerTime(header, resetName, reset)) return;
        told = true;
        until = std::max(until, reset);
    };
    consider("x-rate-limit-reset", nullptr);
    consider("x-user-limit-24hour-reset", "x-user-limit-24hour-remaining");
    consider("x-app-limit-24hour-reset", "x-app-limit-24hour-remaining");
    if (!told) return 0;
    // until >= nowSeconds: the difference fits unsigned even for wild values.
    const std::uint64_t ahead =
        static_cast<std::uint64_t>(until) - static_cast<std::uint64_t>(nowSeconds);
    if (ahead == 0) return PAST_LIMIT_WAIT_MS;  // clocks apart: still wait a moment
    if (ahead > static_cast<std::uint64_t>(LONGEST_LIMIT_SECONDS))
        return LONGEST_LIMIT_SECONDS * 1000;
    return static_cast<std::int64_t>(ahead) * 1000 - pastMs;
}
