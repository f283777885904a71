// The OAuth header line for any method, address, body and credentials: never a crash, and a line
// that is one well-formed header whatever the values hold.
#include <map>

#include "base64.h"
#include "fuzz_support.h"
#include "oauthlib.h"
#include "urlencode.h"

using fuzzsupport::FieldReader;

namespace {

const std::string PREFIX = "Authorization: OAuth ";

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Unreserved characters and %XY escapes with upper-case hex, nothing else.
bool isPercentEncoded(const std::string& value) {
    for (size_t i = 0; i < value.size(); ++i) {
        if (isUnreserved(value[i])) continue;
        if (value[i] != '%' || i + 2 >= value.size() || !isHex(value[i + 1]) ||
            !isHex(value[i + 2]))
            return false;
        i += 2;
    }
    return true;
}

std::string percentDecode(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%') {
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// The items name="value" of the line after its prefix, in order; every check on the way.
std::map<std::string, std::string> headerItems(const std::string& header) {
    FUZZ_CHECK(header.compare(0, PREFIX.size(), PREFIX) == 0);
    for (const char c : header) FUZZ_CHECK(c >= 0x20 && c < 0x7F);  // no CR, LF or other control

    std::map<std::string, std::string> items;
    std::string previous;
    size_t at = PREFIX.size();
    while (true) {
        size_t comma = header.find(',', at);
        if (comma == std::string::npos) comma = header.size();
        const std::string item = header.substr(at, comma - at);
        const size_t eq = item.find("=\"");
        FUZZ_CHECK(eq != std::string::npos && eq > 0);
        FUZZ_CHECK(item.size() >= eq + 3 && item.back() == '"');
        const std::string name = item.substr(0, eq);
        const std::string value = item.substr(eq + 2, item.size() - eq - 3);
        FUZZ_CHECK(isPercentEncoded(value));
        FUZZ_CHECK(items.emplace(name, value).second);
        FUZZ_CHECK(previous < item);  // sorted as whole items
        previous = item;
        if (comma == header.size()) break;
        at = comma + 1;
    }
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FieldReader in(data, size);
    const uint8_t flags = in.byte();
    // 0 is not a method the signer knows; every value is within the enumeration's range.
    const auto method = static_cast<eOAuthHttpRequestType>(flags & 3);
    const bool withPin = flags & 4;
    const std::string url = in.field(), body = in.field();
    const std::string consumerKey = in.field(), consumerSecret = in.field();
    const std::string token = in.field(), tokenSecret = in.field(), pin = in.rest();

    oAuth signer;
    signer.setConsumerKey(consumerKey);
    signer.setConsumerSecret(consumerSecret);
    signer.setOAuthTokenKey(token);
    signer.setOAuthTokenSecret(tokenSecret);
    signer.setOAuthPin(pin);

    std::string header = "stale";
    const bool signedOk = signer.getOAuthHeader(method, url, body, header, withPin);
    if (method == 0) {
        FUZZ_CHECK(!signedOk && header.empty());
        return 0;
    }
    FUZZ_CHECK(signedOk);

    const auto items = headerItems(header);
    const auto value = [&items](const char* name) {
        const auto found = items.find(name);
        return found == items.end() ? std::string("(absent)") : found->second;
    };
    FUZZ_CHECK(value("oauth_consumer_key") == urlencode(consumerKey));
    FUZZ_CHECK(value("oauth_signature_method") == "HMAC-SHA1");
    FUZZ_CHECK(value("oauth_version") == "1.0");
    FUZZ_CHECK(value("oauth_nonce").size() == 32);
    const std::string timestamp = value("oauth_timestamp");
    FUZZ_CHECK(!timestamp.empty() &&
               timestamp.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(value("oauth_token") == (token.empty() ? "(absent)" : urlencode(token)));
    FUZZ_CHECK(value("oauth_verifier") == (withPin && !pin.empty() ? urlencode(pin) : "(absent)"));
    // The signature: an HMAC-SHA1 digest in Base64.
    const std::string signature = percentDecode(value("oauth_signature"));
    FUZZ_CHECK(signature.size() == 28 && base64_decode(signature).size() == 20);
    FUZZ_CHECK(items.size() == 6u + !token.empty() + (withPin && !pin.empty()));
    return 0;
}
