#include "AnswerVerdict.h"

#include <nlohmann/json.hpp>

namespace {

const char ERROR_PREFIX[] = "{\"errors\":[{";
const int NO_V1_ACCESS_CODE = 453;

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
