// The OAuth PIN flow: request and access tokens, and the authorize and PIN pages read for a
// client that logs in with a stored user name and password.
#include "clientparams.h"
#include "twitterclient.h"
#include "urlencode.h"

using namespace twitterClientDefaults;
using namespace oAuthLibDefaults;
using namespace oAuthTwitterApiUrls;

namespace {

// Appends a Unicode code point as UTF-8; false for one that no text may hold.
bool appendUtf8(std::string& out, unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return true;
}

// Appends what the character reference "&name;" stands for: one of the named references that
// HTML writers use for markup characters, or a decimal or hexadecimal one.
bool appendReference(std::string& out, const std::string& name) {
    static const std::pair<const char*, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& n : named) {
        if (name == n.first) {
            out += n.second;
            return true;
        }
    }
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 7 ||
        digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    return appendUtf8(out, std::stoul(digits, nullptr, hex ? 16 : 10));
}

// Resolves the character references of HTML text or an attribute value; an "&" that starts
// none is kept as it is.
std::string htmlUnescape(const std::string& s) {
    const size_t LONGEST_REFERENCE = 10;  // "&#x10FFFF;"
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            const size_t length = s.substr(i, LONGEST_REFERENCE).find(';');
            if (length != std::string::npos && appendReference(out, s.substr(i + 1, length - 1))) {
                i += length;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The text of an HTML page between the first startMarker and the next endMarker after it, with
// its character references resolved.
bool pageTextBetween(const std::string& page, const std::string& startMarker,
                     const std::string& endMarker, std::string& out) {
    const size_t start = page.find(startMarker);
    if (start == std::string::npos) return false;
    const size_t from = start + startMarker.size();
    const size_t end = page.find(endMarker, from);
    if (end == std::string::npos) return false;
    out = htmlUnescape(page.substr(from, end - from));
    return true;
}

}  // namespace

bool authorizePageFields(const std::string& page, std::string& authenticityToken,
                         std::string& oauthToken) {
    return pageTextBetween(page, OAUTHLIB_AUTHENTICITY_TOKEN_TWITTER_RESP_KEY,
                           OAUTHLIB_TOKEN_END_TAG_TWITTER_RESP, authenticityToken) &&
           pageTextBetween(page, OAUTHLIB_TOKEN_TWITTER_RESP_KEY,
                           OAUTHLIB_TOKEN_END_TAG_TWITTER_RESP, oauthToken);
}

bool pinPageCode(const std::string& page, std::string& pin) {
    return pageTextBetween(page, OAUTHLIB_PIN_TWITTER_RESP_KEY, OAUTHLIB_PIN_END_TAG_TWITTER_RESP,
                           pin);
}
// ---------------------------------------------------------------------------------------------
// OAuth PIN flow

bool twitterClient::requestTokenAnswer(const std::string& url, bool includeVerifier) {
    std::string header;
    if (!oAuthObj.getOAuthHeader(eOAuthRequestGet, url, "", header, includeVerifier)) return false;
    if (!performGetInternal(url, header)) return false;
    oAuthObj.extractOAuthTokenKeySecret(callbackData);
    return true;
}

bool twitterClient::oAuthRequestToken(std::string& authorizeUrl) {
    if (!curlHandle) return false;
    authorizeUrl.clear();
    if (!requestTokenAnswer(TWITTER_PROTOCOLS[protocolType] + OAUTHLIB_TWITTER_REQUEST_TOKEN_URL,
                            false))
        return false;

    std::string tokenKey;
    oAuthObj.getOAuthTokenKey(tokenKey);
    authorizeUrl = TWITTER_PROTOCOLS[protocolType] + OAUTHLIB_TWITTER_AUTHORIZE_URL + tokenKey;
    return true;
}

bool twitterClient::oAuthAccessToken() {
    if (!curlHandle) return false;
    return requestTokenAnswer(TWITTER_PROTOCOLS[protocolType] + OAUTHLIB_TWITTER_ACCESS_TOKEN_URL,
                              true);
}

bool twitterClient::oAuthHandlePIN(const std::string& authorizeUrl) {
    if (!curlHandle) return false;

    // The authorize page, with the cookie engine on so that its session cookie is kept.
    curl_easy_setopt(curlHandle, CURLOPT_COOKIELIST, "");
    if (!performSigned(eOAuthRequestGet, authorizeUrl, "")) return false;

    std::string authenticityToken, oauthToken;
    if (!authorizePageFields(callbackData, authenticityToken, oauthToken)) return false;

    // The login form, every value form-encoded, with the page's cookies.
    curl_slist* cookies = nullptr;
    curl_easy_getinfo(curlHandle, CURLINFO_COOKIELIST, &cookies);
    for (curl_slist* cookie = cookies; cookie; cookie = cookie->next)
        curl_easy_setopt(curlHandle, CURLOPT_COOKIELIST, cookie->data);
    curl_slist_free_all(cookies);
    const std::pair<const std::string&, const std::string&> fields[] = {
        {OAUTHLIB_TOKEN_KEY, oauthToken},
        {OAUTHLIB_AUTHENTICITY_TOKEN_KEY, authenticityToken},
        {OAUTHLIB_SESSIONUSERNAME_KEY, twitterUsername},
        {OAUTHLIB_SESSIONPASSWORD_KEY, twitterPassword},
    };
    std::string form;
    for (const auto& field : fields) appendParam(form, field.first + "=" + urlencode(field.second));

    std::string pin;
    if (!performSigned(eOAuthRequestPost, authorizeUrl, form) || !pinPageCode(callbackData, pin))
        return false;
    oAuthObj.setOAuthPin(pin);
    return true;
}
