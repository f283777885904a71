// Tweet composition from any template and any host answers: token replacement against a plain
// reference, a template without tokens unchanged, and a query only for a token present.
#include <set>

#include "TweetComposer.h"
#include "fuzz_support.h"

using fuzzsupport::FieldReader;

namespace {

const char* const TOKENS[] = {"%TITLE%", "%ARTIST%", "%REMIX%", "%COMMENT%",
                              "%ALBUM%", "%GENRE%",  "%YEAR%"};
const size_t TOKEN_COUNT = sizeof TOKENS / sizeof TOKENS[0];

// Left to right, one position at a time.
std::string referenceReplace(const std::string& text, const std::string& token,
                             const std::string& value) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, token.size(), token) == 0) {
            out += value;
            i += token.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The token a host query asks for: the query's quoted field name, upper-cased, in percent signs.
std::string tokenOfQuery(const std::string& query) {
    const size_t open = query.find('\'');
    const size_t close = query.rfind('\'');
    FUZZ_CHECK(open != std::string::npos && close > open);
    std::string token = "%";
    for (size_t i = open + 1; i < close; ++i) token += static_cast<char>(query[i] - 'a' + 'A');
    return token + "%";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FieldReader in(data, size);
    const std::string text = in.field(), token = in.field(), value = in.field();
    std::string answers[TOKEN_COUNT];
    for (auto& answer : answers) answer = in.field();
    const std::string tweetTemplate = in.rest();

    if (!token.empty()) {
        FUZZ_CHECK(replaceAll(text, token, value) == referenceReplace(text, token, value));
        FUZZ_CHECK(replaceAll(text, token, token) == text);
    }

    // Answers from the input: a query stands for a known token and comes once at most.
    std::multiset<std::string> asked;
    const std::string composed = composeTweet(tweetTemplate, [&](const char* query) {
        const std::string wanted = tokenOfQuery(query);
        asked.insert(wanted);
        for (size_t i = 0; i < TOKEN_COUNT; ++i)
            if (wanted == TOKENS[i]) return answers[i];
        FUZZ_CHECK(!"a query for no known token");
        return std::string();
    });
    for (const auto& wanted : asked) FUZZ_CHECK(asked.count(wanted) == 1);
    if (tweetTemplate.find('%') == std::string::npos) {
        FUZZ_CHECK(composed == tweetTemplate);
        FUZZ_CHECK(asked.empty());
    }

    // Each token answered by itself: the template comes back, after a query per token in it.
    std::set<std::string> askedForItself;
    const std::string same = composeTweet(tweetTemplate, [&](const char* query) {
        const std::string wanted = tokenOfQuery(query);
        askedForItself.insert(wanted);
        return wanted;
    });
    FUZZ_CHECK(same == tweetTemplate);
    for (const char* wanted : TOKENS)
        FUZZ_CHECK(askedForItself.count(wanted) ==
                   (tweetTemplate.find(wanted) != std::string::npos ? 1u : 0u));
    return 0;
}
