#include "twitterclient.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>

#include "urlencode.h"

using namespace twitterClientDefaults;
using namespace twitterDefaults;
using namespace oAuthLibDefaults;
using namespace oAuthTwitterApiUrls;

namespace {

const char FILLER_WORD[] = "dummy";
const char TRUE_VALUE[] = "true";
const char LIST_SEPARATOR[] = ",";
const size_t USER_LOOKUP_LIMIT = 100;
const unsigned int TWEET_COUNT_LIMIT = 200;

// The body of calls that need one but carry no data of their own.
std::string fillerBody() {
    return TWITTER_TEXTSTRING + urlencode(FILLER_WORD);
}

// "?since_id=ID", or nothing without an id.
std::string sinceQuery(const std::string& sinceId) {
    return sinceId.empty() ? std::string() : TWITTER_URL_SEP_QUES + TWITTER_SINCEID + sinceId;
}

// Adds "name=value" to a parameter text, after an "&" when the text is not empty.
void appendParam(std::string& params, const std::string& item) {
    if (!params.empty()) params += TWITTER_URL_SEP_AMP;
    params += item;
}

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

void utilMakeCurlParams(std::string& outStr, const std::string& inParam1,
                        const std::string& inParam2) {
    outStr = inParam1 + TWITTER_COLON + inParam2;
}

void utilMakeUrlForUser(std::string& outUrl, const std::string& baseUrl,
                        const std::string& userInfo, const bool isUserId) {
    outUrl = baseUrl;
    if (userInfo.empty()) return;
    outUrl += TWITTER_URL_SEP_QUES;
    outUrl += isUserId ? TWITTER_USERID : TWITTER_SCREENNAME;
    outUrl += userInfo;
}

// ---------------------------------------------------------------------------------------------
// Construction and settings

twitterClient::twitterClient()
    : curlHandle(nullptr),
      errorBuffer(nullptr),
      lastHttpStatus(0),
      aborted(false),
      proxyParamsSet(false),
      loginParamsSet(false),
      callbackParamsSet(false),
      interfaceParamsSet(false),
      caInfoParamsSet(false),
      apiFormatType(0),
      protocolType(0) {
    errorBuffer = static_cast<char*>(std::malloc(CURL_ERROR_BUFFER_SIZE));
    if (errorBuffer) std::memset(errorBuffer, 0, CURL_ERROR_BUFFER_SIZE);

    curlHandle = curl_easy_init();
    if (curlHandle) {
        // Peer and host verification stay on. A dead or stalled connection must fail in
        // bounded time, without signals, since the host runs us on its own threads.
        curl_easy_setopt(curlHandle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
        curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_TIME, STALL_LIMIT_SECONDS);
        // Called about once a second even while nothing arrives, so an abort is seen in time.
        curl_easy_setopt(curlHandle, CURLOPT_XFERINFOFUNCTION, &twitterClient::progressCallback);
        curl_easy_setopt(curlHandle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 0L);
        // HTTPS only, redirects included: an address handed to us must not read a local file or
        // talk plain text. The proxy's own scheme is not restricted by this.
        curl_easy_setopt(curlHandle, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(curlHandle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    }
}

twitterClient::~twitterClient() {
    if (curlHandle) {
        curl_easy_cleanup(curlHandle);
        curlHandle = nullptr;
    }
    std::free(errorBuffer);
    errorBuffer = nullptr;
}

twitterClient* twitterClient::clone() {
    twitterClient* copy = new (std::nothrow) twitterClient();
    if (!copy) return nullptr;
    copy->setProxyServerIp(proxyServerIp);
    copy->setProxyServerPort(proxyServerPort);
    copy->setProxyUserName(proxyUserName);
    copy->setProxyPassword(proxyPassword);
    copy->setTwitterUsername(twitterUsername);
    copy->setTwitterPassword(twitterPassword);
    copy->setCaInfo(caInfo);
    copy->oAuthObj = oAuthObj.clone();
    return copy;
}

void twitterClient::abortTransfers() {
    aborted = true;
}
void twitterClient::allowTransfers() {
    aborted = false;
}

int twitterClient::progressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<twitterClient*>(client)->aborted ? 1 : 0;
}

bool twitterClient::isCurlInit() {
    return curlHandle != nullptr;
}

std::string& twitterClient::getProxyServerIp() {
    return proxyServerIp;
}
std::string& twitterClient::getProxyServerPort() {
    return proxyServerPort;
}
std::string& twitterClient::getProxyUserName() {
    return proxyUserName;
}
std::string& twitterClient::getProxyPassword() {
    return proxyPassword;
}
std::string& twitterClient::getTwitterUsername() {
    return twitterUsername;
}
std::string& twitterClient::getTwitterPassword() {
    return twitterPassword;
}
std::string& twitterClient::getInterface() {
    return interfaceName;
}
std::string& twitterClient::getCaInfo() {
    return caInfo;
}

namespace {

// Stores a non-empty value and marks its option group for pushing at the next request.
void storeSetting(std::string& field, bool& pushedFlag, const std::string& value) {
    if (value.empty()) return;
    field = value;
    pushedFlag = false;
}

}  // namespace

void twitterClient::setProxyServerIp(const std::string& v) {
    storeSetting(proxyServerIp, proxyParamsSet, v);
}
void twitterClient::setProxyServerPort(const std::string& v) {
    storeSetting(proxyServerPort, proxyParamsSet, v);
}
void twitterClient::setProxyUserName(const std::string& v) {
    storeSetting(proxyUserName, proxyParamsSet, v);
}
void twitterClient::setProxyPassword(const std::string& v) {
    storeSetting(proxyPassword, proxyParamsSet, v);
}
void twitterClient::setTwitterUsername(const std::string& v) {
    storeSetting(twitterUsername, loginParamsSet, v);
}
void twitterClient::setTwitterPassword(const std::string& v) {
    storeSetting(twitterPassword, loginParamsSet, v);
}
void twitterClient::setInterface(const std::string& v) {
    storeSetting(interfaceName, interfaceParamsSet, v);
}
void twitterClient::setCaInfo(const std::string& v) {
    storeSetting(caInfo, caInfoParamsSet, v);
}

oAuth& twitterClient::getOAuth() {
    return oAuthObj;
}

void twitterClient::getLastWebResponse(std::string& outWebResp) {
    outWebResp = callbackData;
}

void twitterClient::getLastCurlError(std::string& outErrResp) {
    if (!errorBuffer) {
        outErrResp.clear();
        return;
    }
    errorBuffer[CURL_ERROR_BUFFER_SIZE - 1] = '\0';
    outErrResp = errorBuffer;
}

// ---------------------------------------------------------------------------------------------
// Transport

long twitterClient::getLastHttpStatus() const {
    return lastHttpStatus;
}

void twitterClient::clearCurlCallbackBuffers() {
    callbackData.clear();
    lastHttpStatus = 0;
    if (errorBuffer) std::memset(errorBuffer, 0, CURL_ERROR_BUFFER_SIZE);
}

void twitterClient::prepareStandardParams() {
    if (!curlHandle) return;
    curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_ACCEPT_ENCODING, "");
    clearCurlCallbackBuffers();
    prepareCurlInterface();
    prepareCurlProxy();
    prepareCurlCallback();
    prepareCurlUserPass();
    prepareCurlCaInfo();
}

void twitterClient::prepareCurlInterface() {
    if (interfaceParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_INTERFACE, static_cast<char*>(nullptr));
    if (!interfaceName.empty())
        curl_easy_setopt(curlHandle, CURLOPT_INTERFACE, interfaceName.c_str());
    interfaceParamsSet = true;
}

void twitterClient::prepareCurlProxy() {
    if (proxyParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_PROXY, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_PROXYUSERPWD, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));

    // An empty proxy text switches proxies off, those of the environment included.
    std::string proxy;
    if (!proxyServerIp.empty()) utilMakeCurlParams(proxy, proxyServerIp, proxyServerPort);
    curl_easy_setopt(curlHandle, CURLOPT_PROXY, proxy.c_str());

    if (!proxyUserName.empty() && !proxyPassword.empty()) {
        std::string userPass;
        utilMakeCurlParams(userPass, proxyUserName, proxyPassword);
        curl_easy_setopt(curlHandle, CURLOPT_PROXYUSERPWD, userPass.c_str());
    }
    proxyParamsSet = true;
}

void twitterClient::prepareCurlCallback() {
    if (callbackParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, curlCallback);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, this);
    callbackParamsSet = true;
}

void twitterClient::prepareCurlUserPass() {
    if (loginParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_USERPWD, "");
    if (!twitterUsername.empty()) {
        std::string userPass;
        utilMakeCurlParams(userPass, twitterUsername, twitterPassword);
        curl_easy_setopt(curlHandle, CURLOPT_USERPWD, userPass.c_str());
    }
    loginParamsSet = true;
}

void twitterClient::prepareCurlCaInfo() {
    if (caInfoParamsSet) return;
    if (!caInfo.empty()) curl_easy_setopt(curlHandle, CURLOPT_CAINFO, caInfo.c_str());
    caInfoParamsSet = true;
}

size_t twitterClient::curlCallback(char* data, size_t size, size_t nmemb, void* userData) {
    if (!data || !userData) return 0;
    const size_t n = size * nmemb;
    if (n == 0) return 0;
    return static_cast<size_t>(static_cast<twitterClient*>(userData)->saveLastWebResponse(data, n));
}

int twitterClient::saveLastWebResponse(char*& data, size_t size) {
    if (!data || size == 0) return 0;
    // Refusing the chunk ends the transfer with a write error: no endless body is collected.
    if (size > MAX_RESPONSE_BYTES - callbackData.size()) return 0;
    callbackData.append(data, size);
    return static_cast<int>(size);
}

namespace {

const char JSON_CONTENT_TYPE[] = "application/json";

// Appends a non-empty header line; false when out of memory.
bool appendHeader(curl_slist*& list, const std::string& line) {
    if (line.empty()) return true;
    curl_slist* longer = curl_slist_append(list, line.c_str());
    if (!longer) return false;
    list = longer;
    return true;
}

}  // namespace

bool twitterClient::performWithHeader(const std::string& oAuthHttpHeader, const char* contentType) {
    curl_slist* headerList = nullptr;
    if (!appendHeader(headerList, oAuthHttpHeader) ||
        (contentType && !appendHeader(headerList, std::string("Content-Type: ") + contentType))) {
        // Never sent without the headers it was built with.
        curl_slist_free_all(headerList);
        return false;
    }
    if (headerList) curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, headerList);
    const CURLcode result = curl_easy_perform(curlHandle);
    if (curl_easy_getinfo(curlHandle, CURLINFO_RESPONSE_CODE, &lastHttpStatus) != CURLE_OK)
        lastHttpStatus = 0;
    // The handle must never point at a freed list.
    curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_slist_free_all(headerList);
    return result == CURLE_OK;
}

bool twitterClient::performSigned(eOAuthHttpRequestType type, const std::string& url,
                                  const std::string& body, bool jsonBody) {
    if (!curlHandle) return false;
    prepareStandardParams();

    std::string header;
    if (!oAuthObj.getOAuthHeader(type, url, jsonBody ? std::string() : body, header, false))
        return false;  // not sent unsigned

    switch (type) {
        case eOAuthRequestGet:
            curl_easy_setopt(curlHandle, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            break;
        case eOAuthRequestPost:
            curl_easy_setopt(curlHandle, CURLOPT_POST, 1L);
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            // Always a body, even an empty one: without it libcurl would read one from stdin.
            curl_easy_setopt(curlHandle, CURLOPT_COPYPOSTFIELDS, body.c_str());
            break;
        case eOAuthRequestDelete:
            curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, "DELETE");
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curlHandle, CURLOPT_COPYPOSTFIELDS, "");
            break;
    }
    return performWithHeader(header, jsonBody ? JSON_CONTENT_TYPE : nullptr);
}

bool twitterClient::performGet(const std::string& getUrl) {
    return performSigned(eOAuthRequestGet, getUrl, "");
}

bool twitterClient::performPost(const std::string& postUrl, std::string dataStr) {
    return performSigned(eOAuthRequestPost, postUrl, dataStr);
}

bool twitterClient::performDelete(const std::string& deleteUrl) {
    return performSigned(eOAuthRequestDelete, deleteUrl, "");
}

bool twitterClient::performGetInternal(const std::string& getUrl,
                                       const std::string& oAuthHttpHeader) {
    if (!curlHandle) return false;
    prepareStandardParams();
    curl_easy_setopt(curlHandle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_URL, getUrl.c_str());
    return performWithHeader(oAuthHttpHeader);
}

// ---------------------------------------------------------------------------------------------
// REST API v1.1

std::string twitterClient::apiUrl(const std::string& path) const {
    return TWITTER_PROTOCOLS[protocolType] + path + TWITTER_EXTENSIONFORMATS[apiFormatType];
}

std::string twitterClient::apiUrl(const std::string& path, const std::string& id) const {
    return TWITTER_PROTOCOLS[protocolType] + path + id + TWITTER_EXTENSIONFORMATS[apiFormatType];
}

bool twitterClient::search(const std::string& searchQuery, const std::string& resultCount) {
    // The query is expected percent-encoded already; the count is encoded here.
    std::string url =
        apiUrl(TWITTER_SEARCH_URL) + TWITTER_URL_SEP_QUES + TWITTER_SEARCHQUERYSTRING + searchQuery;
    if (!resultCount.empty()) url += TWITTER_URL_SEP_AMP + TWITTER_COUNT + urlencode(resultCount);
    return performGet(url);
}

bool twitterClient::statusUpdate(const std::string& newStatus, const std::string& statusId) {
    if (newStatus.empty()) return false;
    std::string body = TWITTER_STATUSSTRING + urlencode(newStatus);
    if (!statusId.empty())
        body += TWITTER_URL_SEP_AMP + TWITTER_INREPLYTOSTATUSID + urlencode(statusId);
    return performPost(apiUrl(TWITTER_STATUSUPDATE_URL), body);
}

bool twitterClient::statusShowById(const std::string& statusId) {
    if (statusId.empty()) return false;
    return performGet(apiUrl(TWITTER_STATUSSHOW_URL, statusId));
}

bool twitterClient::statusDestroyById(const std::string& statusId) {
    if (statusId.empty()) return false;
    return performDelete(apiUrl(TWITTER_STATUDESTROY_URL, statusId));
}

bool twitterClient::retweetById(const std::string& statusId) {
    if (statusId.empty()) return false;
    return performPost(apiUrl(TWITTER_RETWEET_URL, statusId), fillerBody());
}

bool twitterClient::timelineHomeGet(const std::string& sinceId) {
    return performGet(apiUrl(TWITTER_HOME_TIMELINE_URL) + sinceQuery(sinceId));
}

bool twitterClient::timelinePublicGet() {
    return performGet(apiUrl(TWITTER_PUBLIC_TIMELINE_URL));
}

bool twitterClient::featuredUsersGet() {
    return performGet(apiUrl(TWITTER_FEATURED_USERS_URL));
}

bool twitterClient::timelineFriendsGet() {
    return performGet(apiUrl(TWITTER_FRIENDS_TIMELINE_URL));
}

bool twitterClient::mentionsGet(const std::string& sinceId) {
    return performGet(apiUrl(TWITTER_MENTIONS_URL) + sinceQuery(sinceId));
}

bool twitterClient::timelineUserGet(const bool trimUser, const bool includeRetweets,
                                    const unsigned int tweetCount, const std::string& userInfo,
                                    const bool isUserId) {
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_USERTIMELINE_URL), userInfo, isUserId);
    // The URL always ends in a query that the parameters below extend with "&".
    if (userInfo.empty()) url += TWITTER_URL_SEP_QUES;
    if (tweetCount != 0)
        url += TWITTER_URL_SEP_AMP + TWITTER_COUNT +
               std::to_string(std::min(tweetCount, TWEET_COUNT_LIMIT));
    if (includeRetweets) url += TWITTER_URL_SEP_AMP + TWITTER_INCRETWEETS;
    if (trimUser) url += TWITTER_URL_SEP_AMP + TWITTER_TRIMUSER;
    return performGet(url);
}

bool twitterClient::userLookup(const std::vector<std::string>& userInfo, const bool isUserId) {
    if (userInfo.empty()) return false;
    std::string joined;
    const size_t count = std::min(userInfo.size(), USER_LOOKUP_LIMIT);
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) joined += LIST_SEPARATOR;
        joined += userInfo[i];
    }
    const std::string body = (isUserId ? TWITTER_USERID : TWITTER_SCREENNAME) + urlencode(joined);
    return performPost(apiUrl(TWITTER_LOOKUPUSERS_URL), body);
}

bool twitterClient::userGet(const std::string& userInfo, const bool isUserId) {
    if (userInfo.empty()) return false;
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_SHOWUSERS_URL), userInfo, isUserId);
    return performGet(url);
}

bool twitterClient::friendsGet(const std::string& userInfo, const bool isUserId) {
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_SHOWFRIENDS_URL), userInfo, isUserId);
    return performGet(url);
}

bool twitterClient::followersGet(const std::string& userInfo, const bool isUserId) {
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_SHOWFOLLOWERS_URL), userInfo, isUserId);
    return performGet(url);
}

bool twitterClient::directMessageGet(const std::string& sinceId) {
    return performGet(apiUrl(TWITTER_DIRECTMESSAGES_URL) + sinceQuery(sinceId));
}

bool twitterClient::directMessageSend(const std::string& userInfo, const std::string& dMsg,
                                      const bool isUserId) {
    if (userInfo.empty() || dMsg.empty()) return false;
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_DIRECTMESSAGENEW_URL), userInfo, isUserId);
    return performPost(url, TWITTER_TEXTSTRING + urlencode(dMsg));
}

bool twitterClient::directMessageGetSent() {
    return performGet(apiUrl(TWITTER_DIRECTMESSAGESSENT_URL));
}

bool twitterClient::directMessageDestroyById(const std::string& dMsgId) {
    if (dMsgId.empty()) return false;
    return performDelete(apiUrl(TWITTER_DIRECTMESSAGEDESTROY_URL, dMsgId));
}

bool twitterClient::friendshipCreate(const std::string& userInfo, const bool isUserId) {
    if (userInfo.empty()) return false;
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_FRIENDSHIPSCREATE_URL), userInfo, isUserId);
    return performPost(url, fillerBody());
}

bool twitterClient::friendshipDestroy(const std::string& userInfo, const bool isUserId) {
    if (userInfo.empty()) return false;
    std::string url;
    utilMakeUrlForUser(url, apiUrl(TWITTER_FRIENDSHIPSDESTROY_URL), userInfo, isUserId);
    return performDelete(url);
}

bool twitterClient::friendshipShow(const std::string& userInfo, const bool isUserId) {
    std::string url = apiUrl(TWITTER_FRIENDSHIPSSHOW_URL);
    if (!userInfo.empty())
        url += TWITTER_URL_SEP_QUES + (isUserId ? TWITTER_TARGETUSERID : TWITTER_TARGETSCREENNAME) +
               userInfo;
    return performGet(url);
}

namespace {

// The user query, then the cursor; the cursor opens the query when there is no user.
std::string idsUrl(const std::string& base, const std::string& nextCursor,
                   const std::string& userInfo, const bool isUserId) {
    std::string url;
    utilMakeUrlForUser(url, base, userInfo, isUserId);
    if (!nextCursor.empty())
        url += (userInfo.empty() ? TWITTER_URL_SEP_QUES : TWITTER_URL_SEP_AMP) +
               TWITTER_NEXT_CURSOR + nextCursor;
    return url;
}

}  // namespace

bool twitterClient::friendsIdsGet(const std::string& nextCursor, const std::string& userInfo,
                                  const bool isUserId) {
    return performGet(idsUrl(apiUrl(TWITTER_FRIENDSIDS_URL), nextCursor, userInfo, isUserId));
}

bool twitterClient::followersIdsGet(const std::string& nextCursor, const std::string& userInfo,
                                    const bool isUserId) {
    return performGet(idsUrl(apiUrl(TWITTER_FOLLOWERSIDS_URL), nextCursor, userInfo, isUserId));
}

bool twitterClient::accountRateLimitGet() {
    return performGet(apiUrl(TWITTER_ACCOUNTRATELIMIT_URL));
}

bool twitterClient::accountVerifyCredGet() {
    return performGet(apiUrl(TWITTER_ACCOUNTVERIFYCRED_URL));
}

bool twitterClient::favoriteGet() {
    return performGet(apiUrl(TWITTER_FAVORITESGET_URL));
}

bool twitterClient::favoriteCreate(const std::string& statusId) {
    return performPost(apiUrl(TWITTER_FAVORITECREATE_URL, statusId), fillerBody());
}

bool twitterClient::favoriteDestroy(const std::string& statusId) {
    return performDelete(apiUrl(TWITTER_FAVORITEDESTROY_URL, statusId));
}

bool twitterClient::blockCreate(const std::string& userInfo) {
    return performPost(apiUrl(TWITTER_BLOCKSCREATE_URL, userInfo), fillerBody());
}

bool twitterClient::blockDestroy(const std::string& userInfo) {
    return performDelete(apiUrl(TWITTER_BLOCKSDESTROY_URL, userInfo));
}

bool twitterClient::blockListGet(const std::string& nextCursor, const bool includeEntities,
                                 const bool skipStatus) {
    std::string params;
    if (includeEntities) appendParam(params, TWITTER_INCLUDE_ENTITIES + TRUE_VALUE);
    if (skipStatus) appendParam(params, TWITTER_SKIP_STATUS + TRUE_VALUE);
    if (!nextCursor.empty()) appendParam(params, TWITTER_NEXT_CURSOR + nextCursor);
    std::string url = apiUrl(TWITTER_BLOCKSLIST_URL);
    if (!params.empty()) url += TWITTER_URL_SEP_QUES + params;
    return performGet(url);
}

bool twitterClient::blockIdsGet(const std::string& nextCursor, const bool stringifyIds) {
    std::string params;
    if (stringifyIds) appendParam(params, TWITTER_STRINGIFY_IDS + TRUE_VALUE);
    if (!nextCursor.empty()) appendParam(params, TWITTER_NEXT_CURSOR + nextCursor);
    std::string url = apiUrl(TWITTER_BLOCKSIDS_URL);
    if (!params.empty()) url += TWITTER_URL_SEP_QUES + params;
    return performGet(url);
}

bool twitterClient::savedSearchGet() {
    return performGet(apiUrl(TWITTER_SAVEDSEARCHGET_URL));
}

bool twitterClient::savedSearchShow(const std::string& searchId) {
    return performGet(apiUrl(TWITTER_SAVEDSEARCHSHOW_URL, searchId));
}

bool twitterClient::savedSearchCreate(const std::string& query) {
    return performPost(apiUrl(TWITTER_SAVEDSEARCHCREATE_URL),
                       TWITTER_QUERYSTRING + urlencode(query));
}

bool twitterClient::savedSearchDestroy(const std::string& searchId) {
    return performDelete(apiUrl(TWITTER_SAVEDSEARCHDESTROY_URL, searchId));
}

bool twitterClient::trendsGet() {
    return performGet(apiUrl(TWITTER_TRENDS_URL));
}
bool twitterClient::trendsDailyGet() {
    return performGet(apiUrl(TWITTER_TRENDSDAILY_URL));
}
bool twitterClient::trendsWeeklyGet() {
    return performGet(apiUrl(TWITTER_TRENDSWEEKLY_URL));
}
bool twitterClient::trendsCurrentGet() {
    return performGet(apiUrl(TWITTER_TRENDSCURRENT_URL));
}
bool twitterClient::trendsAvailableGet() {
    return performGet(apiUrl(TWITTER_TRENDSAVAILABLE_URL));
}

// ---------------------------------------------------------------------------------------------
// REST API v2

std::string twitterClient::apiV2Url(const std::string& path) const {
    return TWITTER_PROTOCOLS[protocolType] + path;
}

bool twitterClient::usersMeGet() {
    return performGet(apiV2Url(TWITTER_V2_USERSME_URL));
}

bool twitterClient::tweetCreate(const std::string& text, const std::string& replyToId) {
    if (text.empty()) return false;
    nlohmann::json body = {{"text", text}};
    if (!replyToId.empty()) body["reply"] = {{"in_reply_to_tweet_id", replyToId}};
    // Bytes that are not UTF-8 cannot travel in JSON: they become U+FFFD instead of an exception.
    const std::string json = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return performSigned(eOAuthRequestPost, apiV2Url(TWITTER_V2_TWEETS_URL), json, true);
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
