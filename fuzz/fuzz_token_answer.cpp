// The token answers of the OAuth endpoints: any text read without harm, and tokens sent
// form-encoded come back exactly.
#include "fuzz_support.h"
#include "oauthlib.h"
#include "urlencode.h"

using fuzzsupport::FieldReader;

namespace {

struct Tokens {
    std::string key, secret, screenName;
};

Tokens tokensOf(oAuth& signer) {
    Tokens t;
    signer.getOAuthTokenKey(t.key);
    signer.getOAuthTokenSecret(t.secret);
    signer.getOAuthScreenName(t.screenName);
    return t;
}

// Percent-encoded, with spaces as "+" when asked: both are form encodings.
std::string formEncode(const std::string& value, bool plusForSpace) {
    const std::string encoded = urlencode(value);
    if (!plusForSpace) return encoded;
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded.compare(i, 3, "%20") == 0) {
            out += '+';
            i += 2;
        } else {
            out += encoded[i];
        }
    }
    return out;
}

void readsAnyAnswer(const std::string& answer) {
    oAuth signer;
    signer.setOAuthTokenKey("key");
    signer.setOAuthTokenSecret("secret");
    signer.setOAuthScreenName("name");
    FUZZ_CHECK(signer.extractOAuthTokenKeySecret(answer) == !answer.empty());
    // A value changes only where its name stands in the answer.
    const Tokens after = tokensOf(signer);
    if (answer.find("oauth_token=") == std::string::npos) FUZZ_CHECK(after.key == "key");
    if (answer.find("oauth_token_secret=") == std::string::npos)
        FUZZ_CHECK(after.secret == "secret");
    if (answer.find("screen_name=") == std::string::npos) FUZZ_CHECK(after.screenName == "name");
}

void encodedTokensComeBack(FieldReader& in) {
    const uint8_t flags = in.byte();
    Tokens sent;
    sent.key = in.field();
    sent.secret = in.field();
    sent.screenName = in.field();
    const std::string other = in.rest();
    const bool plus = flags & 1;
    const std::string items[] = {
        "oauth_token=" + formEncode(sent.key, plus),
        "oauth_token_secret=" + formEncode(sent.secret, plus),
        "screen_name=" + formEncode(sent.screenName, plus),
        "user_id=" + formEncode(other, plus),
    };
    // The names in one of four orders.
    std::string answer;
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0) answer += '&';
        answer += items[(i + (flags >> 1)) % 4];
    }
    oAuth signer;
    FUZZ_CHECK(signer.extractOAuthTokenKeySecret(answer));
    const Tokens got = tokensOf(signer);
    FUZZ_CHECK(got.key == sent.key);
    FUZZ_CHECK(got.secret == sent.secret);
    FUZZ_CHECK(got.screenName == sent.screenName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readsAnyAnswer(std::string(reinterpret_cast<const char*>(data), size));
    FieldReader in(data, size);
    encodedTokensComeBack(in);
    return 0;
}
