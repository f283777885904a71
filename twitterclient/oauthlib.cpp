#include "oauthlib.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <random>
#include <vector>

#include "HMAC_SHA1.h"
#include "base64.h"
#include "twitterclienturls.h"
#include "urlencode.h"

namespace oAuthLibDefaults {
const std::string OAUTHLIB_CONSUMERKEY_KEY = "oauth_consumer_key";
const std::string OAUTHLIB_VERSION_KEY = "oauth_version";
const std::string OAUTHLIB_SIGNATUREMETHOD_KEY = "oauth_signature_method";
const std::string OAUTHLIB_SIGNATURE_KEY = "oauth_signature";
const std::string OAUTHLIB_TIMESTAMP_KEY = "oauth_timestamp";
const std::string OAUTHLIB_NONCE_KEY = "oauth_nonce";
const std::string OAUTHLIB_TOKEN_KEY = "oauth_token";
const std::string OAUTHLIB_TOKENSECRET_KEY = "oauth_token_secret";
const std::string OAUTHLIB_VERIFIER_KEY = "oauth_verifier";
const std::string OAUTHLIB_SCREENNAME_KEY = "screen_name";
const std::string OAUTHLIB_AUTHENTICITY_TOKEN_KEY = "authenticity_token";
const std::string OAUTHLIB_SESSIONUSERNAME_KEY = "session[username_or_email]";
const std::string OAUTHLIB_SESSIONPASSWORD_KEY = "session[password]";
const std::string OAUTHLIB_AUTHENTICITY_TOKEN_TWITTER_RESP_KEY =
    "authenticity_token\" type=\"hidden\" value=\"";
const std::string OAUTHLIB_TOKEN_TWITTER_RESP_KEY = "oauth_token\" type=\"hidden\" value=\"";
const std::string OAUTHLIB_PIN_TWITTER_RESP_KEY = "code-desc\"><code>";
const std::string OAUTHLIB_TOKEN_END_TAG_TWITTER_RESP = "\">";
const std::string OAUTHLIB_PIN_END_TAG_TWITTER_RESP = "</code>";
const std::string OAUTHLIB_AUTHHEADER_STRING = "Authorization: OAuth ";
}  // namespace oAuthLibDefaults

namespace oAuthTwitterApiUrls {
const std::string OAUTHLIB_TWITTER_REQUEST_TOKEN_URL = TWITTER_API_HOST "/oauth/request_token";
const std::string OAUTHLIB_TWITTER_AUTHORIZE_URL = TWITTER_API_HOST "/oauth/authorize?oauth_token=";
const std::string OAUTHLIB_TWITTER_ACCESS_TOKEN_URL = TWITTER_API_HOST "/oauth/access_token";
}  // namespace oAuthTwitterApiUrls

using namespace oAuthLibDefaults;

namespace {

const char SIGNATURE_METHOD[] = "HMAC-SHA1";
const char OAUTH_VERSION[] = "1.0";
const size_t NONCE_LENGTH = 32;

// Nonces come from a generator of our own, seeded once per thread: the host's rand() state is
// never touched, and nonces differ within one second and between clients.
std::mt19937_64& nonceGenerator() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return generator;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads a form or query component: "+" is a space and "%XY" a byte. A "%" that does not start
// a valid escape is kept as it is.
std::string formDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 &&
                   hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

using FormPairs = std::vector<std::pair<std::string, std::string>>;

// The name=value pieces of "&"-joined data, in order, neither decoded. A piece without "="
// (an empty one too) is skipped; further "=" stay in the value.
FormPairs formPairs(const std::string& data) {
    FormPairs pairs;
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('&', start);
        if (end == std::string::npos) end = data.size();
        const auto eq = std::find(data.begin() + start, data.begin() + end, '=');
        if (eq != data.begin() + end) {
            const size_t at = eq - data.begin();
            pairs.emplace_back(data.substr(start, at - start), data.substr(at + 1, end - at - 1));
        }
        start = end + 1;
    }
    return pairs;
}

}  // namespace

oAuth oAuth::clone() {
    oAuth copy;
    copy.consumerKey = consumerKey;
    copy.consumerSecret = consumerSecret;
    copy.oAuthTokenKey = oAuthTokenKey;
    copy.oAuthTokenSecret = oAuthTokenSecret;
    copy.oAuthPin = oAuthPin;
    copy.nonce = nonce;
    copy.timeStamp = timeStamp;
    copy.clockOffset = clockOffset;
    copy.oAuthScreenName = oAuthScreenName;
    return copy;
}

void oAuth::getConsumerKey(std::string& out) {
    out = consumerKey;
}
void oAuth::setConsumerKey(const std::string& in) {
    consumerKey = in;
}
void oAuth::getConsumerSecret(std::string& out) {
    out = consumerSecret;
}
void oAuth::setConsumerSecret(const std::string& in) {
    consumerSecret = in;
}
void oAuth::getOAuthTokenKey(std::string& out) {
    out = oAuthTokenKey;
}
void oAuth::setOAuthTokenKey(const std::string& in) {
    oAuthTokenKey = in;
}
void oAuth::getOAuthTokenSecret(std::string& out) {
    out = oAuthTokenSecret;
}
void oAuth::setOAuthTokenSecret(const std::string& in) {
    oAuthTokenSecret = in;
}
void oAuth::getOAuthPin(std::string& out) {
    out = oAuthPin;
}
void oAuth::setOAuthPin(const std::string& in) {
    oAuthPin = in;
}
void oAuth::getOAuthScreenName(std::string& out) {
    out = oAuthScreenName;
}
void oAuth::setOAuthScreenName(const std::string& in) {
    oAuthScreenName = in;
}

std::int64_t oAuth::getClockOffset() const {
    return clockOffset;
}
void oAuth::setClockOffset(std::int64_t seconds) {
    clockOffset = seconds;
}

void oAuth::generateNonceTimeStamp() {
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
    auto& generator = nonceGenerator();
    nonce.assign(NONCE_LENGTH, '0');
    for (char& c : nonce) c = alphabet[pick(generator)];
    timeStamp = std::to_string(static_cast<long long>(std::time(nullptr) + clockOffset));
}

void oAuth::buildOAuthRawDataKeyValPairs(const std::string& rawData, bool urlencodeData,
                                         oAuthKeyValuePairs& rawDataKeyValuePairs) {
    for (auto& [name, value] : formPairs(rawData)) {
        if (urlencodeData) {
            // Query text is read as a URL carries it, then names and values are encoded once.
            name = urlencode(formDecode(name));
            value = urlencode(formDecode(value));
        }
        rawDataKeyValuePairs[name] = std::move(value);
    }
}

bool oAuth::buildOAuthTokenKeyValuePairs(const bool includeOAuthVerifierPin,
                                         const std::string& oauthSignature,
                                         oAuthKeyValuePairs& keyValueMap,
                                         const bool generateTimestamp) {
    if (generateTimestamp) generateNonceTimeStamp();

    // Values are stored percent-encoded, as the header line carries them and as the base string
    // normalises them: a token or PIN can't break the line. The signature comes encoded already.
    auto put = [&keyValueMap](const std::string& name, const std::string& value) {
        keyValueMap[name] = urlencode(value);
    };
    put(OAUTHLIB_CONSUMERKEY_KEY, consumerKey);
    put(OAUTHLIB_NONCE_KEY, nonce);
    if (!oauthSignature.empty()) keyValueMap[OAUTHLIB_SIGNATURE_KEY] = oauthSignature;
    put(OAUTHLIB_SIGNATUREMETHOD_KEY, SIGNATURE_METHOD);
    put(OAUTHLIB_TIMESTAMP_KEY, timeStamp);
    if (!oAuthTokenKey.empty()) put(OAUTHLIB_TOKEN_KEY, oAuthTokenKey);
    if (includeOAuthVerifierPin && !oAuthPin.empty()) put(OAUTHLIB_VERIFIER_KEY, oAuthPin);
    put(OAUTHLIB_VERSION_KEY, OAUTH_VERSION);
    return !keyValueMap.empty();
}

bool oAuth::getStringFromOAuthKeyValuePairs(const oAuthKeyValuePairs& rawParamMap,
                                            std::string& rawParams,
                                            const std::string& paramsSeperator) {
    rawParams.clear();
    if (rawParamMap.empty()) return false;

    const bool quoted = paramsSeperator == ",";
    std::vector<std::string> items;
    items.reserve(rawParamMap.size());
    for (const auto& kv : rawParamMap)
        items.push_back(quoted ? kv.first + "=\"" + kv.second + "\"" : kv.first + "=" + kv.second);
    // Whole items, byte-wise: std::string compares its chars as unsigned.
    std::sort(items.begin(), items.end());

    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) rawParams += paramsSeperator;
        rawParams += items[i];
    }
    return !rawParams.empty();
}

bool oAuth::getSignature(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                         const oAuthKeyValuePairs& rawKeyValuePairs, std::string& oAuthSignature) {
    oAuthSignature.clear();

    std::string rawParams;
    getStringFromOAuthKeyValuePairs(rawKeyValuePairs, rawParams, "&");

    std::string sigBase;
    switch (eType) {
        case eOAuthRequestGet:
            sigBase = "GET&";
            break;
        case eOAuthRequestPost:
            sigBase = "POST&";
            break;
        case eOAuthRequestDelete:
            sigBase = "DELETE&";
            break;
        default:
            return false;
    }
    sigBase += urlencode(rawUrl);
    sigBase += "&";
    // HMAC_SHA1 takes the text's length as an int: a longer base string is refused, and before
    // it is built.
    if (sigBase.size() + urlencodedLength(rawParams) > static_cast<size_t>(INT_MAX)) return false;
    sigBase += urlencode(rawParams);

    const std::string secretSigningKey = consumerSecret + "&" + oAuthTokenSecret;

    unsigned char digest[20] = {0};
    CHMAC_SHA1 hmac;
    hmac.HMAC_SHA1(reinterpret_cast<const unsigned char*>(sigBase.data()),
                   static_cast<int>(sigBase.size()),
                   reinterpret_cast<const unsigned char*>(secretSigningKey.data()),
                   static_cast<int>(secretSigningKey.size()), digest);

    oAuthSignature = urlencode(base64_encode(digest, sizeof digest));
    return !oAuthSignature.empty();
}

bool oAuth::getOAuthHeader(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                           const std::string& rawData, std::string& oAuthHttpHeader,
                           const bool includeOAuthVerifierPin) {
    return buildOAuthHeader(eType, rawUrl, rawData, oAuthHttpHeader, includeOAuthVerifierPin, true);
}

bool oAuth::buildOAuthHeader(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                             const std::string& rawData, std::string& oAuthHttpHeader,
                             const bool includeOAuthVerifierPin, const bool generateTimestamp) {
    oAuthHttpHeader.clear();
    oAuthKeyValuePairs params;

    std::string baseUrl = rawUrl;
    const size_t question = rawUrl.find('?');
    if (question != std::string::npos) {
        baseUrl = rawUrl.substr(0, question);
        buildOAuthRawDataKeyValPairs(rawUrl.substr(question + 1), true, params);
    }
    buildOAuthRawDataKeyValPairs(rawData, false, params);

    buildOAuthTokenKeyValuePairs(includeOAuthVerifierPin, "", params, generateTimestamp);
    std::string signature;
    if (!getSignature(eType, baseUrl, params, signature)) return false;

    // The header carries only the protocol parameters, with the nonce and timestamp just signed.
    params.clear();
    buildOAuthTokenKeyValuePairs(includeOAuthVerifierPin, signature, params, false);

    std::string joined;
    getStringFromOAuthKeyValuePairs(params, joined, ",");
    oAuthHttpHeader = OAUTHLIB_AUTHHEADER_STRING + joined;
    return !oAuthHttpHeader.empty();
}

bool oAuth::extractOAuthTokenKeySecret(const std::string& requestTokenResponse) {
    if (requestTokenResponse.empty()) return false;
    // A token answer is a form: names in any order, values percent-encoded.
    for (const auto& [name, value] : formPairs(requestTokenResponse)) {
        if (name == OAUTHLIB_TOKEN_KEY)
            oAuthTokenKey = formDecode(value);
        else if (name == OAUTHLIB_TOKENSECRET_KEY)
            oAuthTokenSecret = formDecode(value);
        else if (name == OAUTHLIB_SCREENNAME_KEY)
            oAuthScreenName = formDecode(value);
    }
    return true;
}
