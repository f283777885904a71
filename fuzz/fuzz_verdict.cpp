// The verdicts on service answers for any HTTP status and any body. The input is the status in
// decimal, one separating byte, then the body.
#include <algorithm>
#include <limits>

#include "AnswerVerdict.h"
#include "fuzz_support.h"

namespace {

const char ERROR_PREFIX[] = "{\"errors\":[{";

// Leading decimal digits with an optional minus; ends clamped to the range of a long.
long readStatus(const std::string& input, size_t& at) {
    const bool negative = at < input.size() && input[at] == '-';
    if (negative) ++at;
    const long most = std::numeric_limits<long>::max();
    long status = 0;
    for (; at < input.size() && input[at] >= '0' && input[at] <= '9'; ++at) {
        const int digit = input[at] - '0';
        status = status > (most - digit) / 10 ? most : status * 10 + digit;
    }
    return negative ? -status : status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    const long status = readStatus(input, at);
    const std::string body = input.substr(std::min(at + 1, input.size()));

    const bool refused = answerRefused(status, body);
    const bool deniesV1 = answerDeniesV1(status, body);
    const bool v2Refused = v2AnswerRefused(status, body);

    FUZZ_CHECK(refused == (status >= 400 || body.rfind(ERROR_PREFIX, 0) == 0));
    // Code 453 is a kind of refusal, and only a body that names it can give it.
    if (deniesV1) FUZZ_CHECK(refused && body.find("453") != std::string::npos);
    // v2 accepts only a 2xx answer with data in it.
    if (!v2Refused)
        FUZZ_CHECK(status >= 200 && status < 300 && body.find("\"data\"") != std::string::npos);

    // What a post's answer means agrees with the verdicts, and a limit never waits past a day.
    FUZZ_CHECK((postResult(status, body, false) == PostResult::Accepted) == !refused);
    FUZZ_CHECK((postResult(status, body, true) == PostResult::Accepted) == !v2Refused);
    const std::string detail = answerDetail(body);
    FUZZ_CHECK(detail.size() <= body.size());
    const HeaderLookup everyHeader = [&](const char*, std::string& value) {
        value = body;
        return true;
    };
    const std::int64_t wait = limitWaitMillis(everyHeader, status);
    FUZZ_CHECK(wait >= 0 && wait <= LONGEST_LIMIT_SECONDS * 1000);
    return 0;
}
