#include "AnswerVerdict.h"

namespace {
const char ERROR_PREFIX[] = "{\"errors\":[{";
}

bool answerRefused(long httpStatus, const std::string& body) {
    return httpStatus >= 400 || body.compare(0, sizeof ERROR_PREFIX - 1, ERROR_PREFIX) == 0;
}
