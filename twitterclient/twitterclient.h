#ifndef TRACKPOST_TWITTERCLIENT_H
#define TRACKPOST_TWITTERCLIENT_H

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "oauthlib.h"
#include "twitterclienturls.h"

// Sets out to first + ":" + second (host and port, user and password).
void utilMakeCurlParams(std::string& outStr, const std::string& inParam1,
                        const std::string& inParam2);
// Appends "?user_id=" or "?screen_name=" and the user to the base URL, unless the user is empty.
void utilMakeUrlForUser(std::string& outUrl, const std::string& baseUrl,
                        const std::string& userInfo, const bool isUserId);

// The login page's hidden authenticity_token and oauth_token values, and the PIN page's code, as
// HTML text with its character references resolved. False when a marker is missing.
bool authorizePageFields(const std::string& page, std::string& authenticityToken,
                         std::string& oauthToken);
bool pinPageCode(const std::string& page, std::string& pin);

// Client of the service's REST API v1.1 and its OAuth PIN flow, over one libcurl handle.
// Every call returns true when the transfer was carried out, whatever the service answered;
// the answer body and libcurl's error text are fetched afterwards. One request at a time.
class twitterClient {
  public:
    twitterClient();
    ~twitterClient();
    twitterClient(const twitterClient&) = delete;
    twitterClient& operator=(const twitterClient&) = delete;

    // A new client with this one's proxy, credentials, CA file and OAuth fields; not its
    // interface, response or error text. The caller owns it.
    twitterClient* clone();

    bool isCurlInit();

    // Settings: an empty value is ignored; a new one is pushed to the handle at the next request.
    std::string& getProxyServerIp();
    std::string& getProxyServerPort();
    std::string& getProxyUserName();
    std::string& getProxyPassword();
    std::string& getTwitterUsername();
    std::string& getTwitterPassword();
    std::string& getInterface();
    std::string& getCaInfo();
    void setProxyServerIp(const std::string& proxyServerIp);
    void setProxyServerPort(const std::string& proxyServerPort);
    void setProxyUserName(const std::string& proxyUserName);
    void setProxyPassword(const std::string& proxyPassword);
    void setTwitterUsername(const std::string& userName);
    void setTwitterPassword(const std::string& passWord);
    void setInterface(const std::string& interfaceName);
    // CA certificates to verify the service with; unset means the system's trust store.
    void setCaInfo(const std::string& caInfoPath);
    // How long a transfer may move less than 1 byte/s before it fails (from the next request on;
    // STALL_LIMIT_SECONDS until set). At least 1 s.
    void setStallLimit(long seconds);
    long getStallLimit() const;

    oAuth& getOAuth();

    void getLastWebResponse(std::string& outWebResp);
    void getLastCurlError(std::string& outErrResp);
    // The HTTP status of the last answer; 0 when no answer came.
    long getLastHttpStatus() const;
    // A header field of the last answer (not a proxy's): its value without the blanks around it;
    // the last one of a repeated name. The name in any case. False when the answer had none, and
    // after a transfer that failed: no field of a proxy or an earlier answer is ever read.
    bool getLastResponseHeader(const std::string& name, std::string& value) const;
    // The last answer's Date, in seconds since the epoch; false when absent or unreadable.
    bool getLastAnswerDate(std::int64_t& epochSeconds) const;

    // From any thread: the transfer under way ends within about a second, as not carried out,
    // and so does every later one until allowTransfers(). For an owner that must stop without
    // waiting out a stall.
    void abortTransfers();
    void allowTransfers();

    // REST API v1.1
    bool search(const std::string& searchQuery, const std::string& resultCount = "");
    bool statusUpdate(const std::string& newStatus, const std::string& statusId = "");
    bool statusShowById(const std::string& statusId);
    bool statusDestroyById(const std::string& statusId);
    bool retweetById(const std::string& statusId);
    bool timelineHomeGet(const std::string& sinceId = "");
    bool timelinePublicGet();
    bool featuredUsersGet();
    bool timelineFriendsGet();
    bool mentionsGet(const std::string& sinceId = "");
    bool timelineUserGet(const bool trimUser, const bool includeRetweets,
                         const unsigned int tweetCount, const std::string& userInfo = "",
                         const bool isUserId = false);
    bool userLookup(const std::vector<std::string>& userInfo, const bool isUserId = false);
    bool userGet(const std::string& userInfo, const bool isUserId = false);
    bool friendsGet(const std::string& userInfo = "", const bool isUserId = false);
    bool followersGet(const std::string& userInfo = "", const bool isUserId = false);
    bool directMessageGet(const std::string& sinceId = "");
    bool directMessageSend(const std::string& userInfo, const std::string& dMsg,
                           const bool isUserId = false);
    bool directMessageGetSent();
    bool directMessageDestroyById(const std::string& dMsgId);
    bool friendshipCreate(const std::string& userInfo, const bool isUserId = false);
    bool friendshipDestroy(const std::string& userInfo, const bool isUserId = false);
    bool friendshipShow(const std::string& userInfo, const bool isUserId = false);
    bool friendsIdsGet(const std::string& nextCursor, const std::string& userInfo,
                       const bool isUserId = false);
    bool followersIdsGet(const std::string& nextCursor, const std::string& userInfo,
                         const bool isUserId = false);
    bool accountRateLimitGet();
    bool accountVerifyCredGet();
    bool favoriteGet();
    bool favoriteCreate(const std::string& statusId);
    bool favoriteDestroy(const std::string& statusId);
    bool blockCreate(const std::string& userInfo);
    bool blockDestroy(const std::string& userInfo);
    bool blockListGet(const std::string& nextCursor = "", const bool includeEntities = false,
                      const bool skipStatus = false);
    bool blockIdsGet(const std::string& nextCursor = "", const bool stringifyIds = false);
    bool savedSearchGet();
    bool savedSearchShow(const std::string& searchId);
    bool savedSearchCreate(const std::string& query);
    bool savedSearchDestroy(const std::string& searchId);
    bool trendsGet();
    bool trendsDailyGet();
    bool trendsWeeklyGet();
    bool trendsCurrentGet();
    bool trendsAvailableGet();

    // REST API v2, for accounts the service no longer serves v1.1. tweetCreate sends a JSON body,
    // which carries no signed parameters.
    bool usersMeGet();
    bool tweetCreate(const std::string& text, const std::string& replyToId = "");

    // OAuth PIN flow: request token and authorize URL, the user's PIN (or oAuthHandlePIN with
    // the stored user name and password), then the access token.
    bool oAuthRequestToken(std::string& authorizeUrl);
    bool oAuthAccessToken();
    bool oAuthHandlePIN(const std::string& authorizeUrl);

    static constexpr size_t MAX_RESPONSE_BYTES = 16 * 1024 * 1024;
    static constexpr size_t MAX_HEADER_BYTES = 64 * 1024;  // fields beyond it are not kept
    static constexpr long CONNECT_TIMEOUT_SECONDS = 15;
    static constexpr long STALL_LIMIT_SECONDS = 30;  // abort below 1 byte/s for this long

  private:
    friend class twitterClientTestAccess;

    enum { CURL_ERROR_BUFFER_SIZE = 1024 };

    bool performGet(const std::string& getUrl);
    bool performGetInternal(const std::string& getUrl, const std::string& oAuthHttpHeader);
    bool performDelete(const std::string& deleteUrl);
    bool performPost(const std::string& postUrl, std::string dataStr = "");
    // Signs the request, performs it with the header list and releases the list. A JSON body is
    // sent with its content type and left out of the signature.
    bool performSigned(eOAuthHttpRequestType type, const std::string& url, const std::string& body,
                       bool jsonBody = false);
    bool performWithHeader(const std::string& oAuthHttpHeader, const char* contentType = nullptr);
    // A signed GET of an OAuth token endpoint; its answer's tokens go into the signer.
    bool requestTokenAnswer(const std::string& url, bool includeVerifier);

    void prepareStandardParams();
    void prepareCurlProxy();
    void prepareCurlCallback();
    void prepareCurlUserPass();
    void prepareCurlInterface();
    void prepareCurlCaInfo();
    // Every transfer begins with the buffers of the last answer empty.
    void clearCurlCallbackBuffers();
    void forgetLastHeaders();

    static size_t curlCallback(char* data, size_t size, size_t nmemb, void* userData);
    static size_t headerCallback(char* data, size_t size, size_t nmemb, void* userData);
    void saveHeaderLine(const std::string& line);
    static int progressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    int saveLastWebResponse(char*& data, size_t size);

    // The scheme, the path constant and the format extension.
    std::string apiUrl(const std::string& path) const;
    // The scheme and the path constant (v2 has no format extension).
    std::string apiV2Url(const std::string& path) const;
    std::string apiUrl(const std::string& path, const std::string& id) const;

    CURL* curlHandle;
    char* errorBuffer;
    std::string callbackData;
    std::vector<std::pair<std::string, std::string>> lastHeaders;  // names in lower case
    size_t lastHeaderBytes;
    long lastHttpStatus;
    long stallLimitSeconds;
    std::atomic<bool> aborted;

    bool proxyParamsSet;
    bool loginParamsSet;
    bool callbackParamsSet;
    bool interfaceParamsSet;
    bool caInfoParamsSet;

    std::string proxyServerIp;
    std::string proxyServerPort;
    std::string proxyUserName;
    std::string proxyPassword;
    std::string interfaceName;
    std::string twitterUsername;
    std::string twitterPassword;
    std::string caInfo;

    unsigned int apiFormatType;
    unsigned int protocolType;

    oAuth oAuthObj;
};

#endif
