// The client's REST calls, v1.1 and the two v2 calls: each builds its address and body and hands
// them to the transport (twitterclient.cpp).
#include <nlohmann/json.hpp>

#include "clientparams.h"
#include "twitterclient.h"
#include "urlencode.h"

using namespace twitterClientDefaults;
using namespace twitterDefaults;

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
}  // namespace

void utilMakeUrlForUser(std::string& outUrl, const std::string& baseUrl,
                        const std::string& userInfo, const bool isUserId) {
    outUrl = baseUrl;
    if (userInfo.empty()) return;
    outUrl += TWITTER_URL_SEP_QUES;
    outUrl += isUserId ? TWITTER_USERID : TWITTER_SCREENNAME;
    outUrl += userInfo;
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
