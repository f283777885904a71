#include "twitterclienturls.h"

namespace twitterClientDefaults {
const std::string TWITTER_COLON = ":";
const std::string TWITTER_STATUSSTRING = "status=";
const std::string TWITTER_TEXTSTRING = "text=";
const std::string TWITTER_QUERYSTRING = "query=";
const std::string TWITTER_SEARCHQUERYSTRING = "q=";
const std::string TWITTER_SCREENNAME = "screen_name=";
const std::string TWITTER_USERID = "user_id=";
const std::string TWITTER_EXTENSIONFORMATS[2] = {".json", ".xml"};
const std::string TWITTER_PROTOCOLS[2] = {"https://", "http://"};
const std::string TWITTER_TARGETSCREENNAME = "target_screen_name=";
const std::string TWITTER_TARGETUSERID = "target_id=";
const std::string TWITTER_SINCEID = "since_id=";
const std::string TWITTER_TRIMUSER = "trim_user=true";
const std::string TWITTER_INCRETWEETS = "include_rts=true";
const std::string TWITTER_COUNT = "count=";
const std::string TWITTER_NEXT_CURSOR = "cursor=";
const std::string TWITTER_SKIP_STATUS = "skip_status=";
const std::string TWITTER_INCLUDE_ENTITIES = "include_entities=";
const std::string TWITTER_STRINGIFY_IDS = "stringify_ids=";
const std::string TWITTER_INREPLYTOSTATUSID = "in_reply_to_status_id=";
const std::string TWITTER_URL_SEP_AMP = "&";
const std::string TWITTER_URL_SEP_QUES = "?";
}  // namespace twitterClientDefaults

#define TWITTER_BASE TWITTER_API_HOST "/1.1/"

namespace twitterDefaults {
const std::string TWITTER_BASE_URL = TWITTER_BASE;
const std::string TWITTER_SEARCH_URL = TWITTER_BASE "search/tweets";
const std::string TWITTER_STATUSUPDATE_URL = TWITTER_BASE "statuses/update";
const std::string TWITTER_STATUSSHOW_URL = TWITTER_BASE "statuses/show/";
const std::string TWITTER_STATUDESTROY_URL = TWITTER_BASE "statuses/destroy/";
const std::string TWITTER_RETWEET_URL = TWITTER_BASE "statuses/retweet/";
const std::string TWITTER_HOME_TIMELINE_URL = TWITTER_BASE "statuses/home_timeline";
const std::string TWITTER_PUBLIC_TIMELINE_URL = TWITTER_BASE "statuses/public_timeline";
const std::string TWITTER_FEATURED_USERS_URL = TWITTER_BASE "statuses/featured";
const std::string TWITTER_FRIENDS_TIMELINE_URL = TWITTER_BASE "statuses/friends_timeline";
const std::string TWITTER_MENTIONS_URL = TWITTER_BASE "statuses/mentions_timeline";
const std::string TWITTER_USERTIMELINE_URL = TWITTER_BASE "statuses/user_timeline";
const std::string TWITTER_LOOKUPUSERS_URL = TWITTER_BASE "users/lookup";
const std::string TWITTER_SHOWUSERS_URL = TWITTER_BASE "users/show";
const std::string TWITTER_SHOWFRIENDS_URL = TWITTER_BASE "statuses/friends";
const std::string TWITTER_SHOWFOLLOWERS_URL = TWITTER_BASE "statuses/followers";
const std::string TWITTER_DIRECTMESSAGES_URL = TWITTER_BASE "direct_messages";
const std::string TWITTER_DIRECTMESSAGENEW_URL = TWITTER_BASE "direct_messages/new";
const std::string TWITTER_DIRECTMESSAGESSENT_URL = TWITTER_BASE "direct_messages/sent";
const std::string TWITTER_DIRECTMESSAGEDESTROY_URL = TWITTER_BASE "direct_messages/destroy/";
const std::string TWITTER_FRIENDSHIPSCREATE_URL = TWITTER_BASE "friendships/create";
const std::string TWITTER_FRIENDSHIPSDESTROY_URL = TWITTER_BASE "friendships/destroy";
const std::string TWITTER_FRIENDSHIPSSHOW_URL = TWITTER_BASE "friendships/show";
const std::string TWITTER_FRIENDSIDS_URL = TWITTER_BASE "friends/ids";
const std::string TWITTER_FOLLOWERSIDS_URL = TWITTER_BASE "followers/ids";
const std::string TWITTER_ACCOUNTRATELIMIT_URL = TWITTER_BASE "account/rate_limit_status";
const std::string TWITTER_ACCOUNTVERIFYCRED_URL = TWITTER_BASE "account/verify_credentials";
const std::string TWITTER_FAVORITESGET_URL = TWITTER_BASE "favorites";
const std::string TWITTER_FAVORITECREATE_URL = TWITTER_BASE "favorites/create/";
const std::string TWITTER_FAVORITEDESTROY_URL = TWITTER_BASE "favorites/destroy/";
const std::string TWITTER_BLOCKSCREATE_URL = TWITTER_BASE "blocks/create/";
const std::string TWITTER_BLOCKSDESTROY_URL = TWITTER_BASE "blocks/destroy/";
const std::string TWITTER_BLOCKSLIST_URL = TWITTER_BASE "blocks/list";
const std::string TWITTER_BLOCKSIDS_URL = TWITTER_BASE "blocks/ids";
const std::string TWITTER_SAVEDSEARCHGET_URL = TWITTER_BASE "saved_searches";
const std::string TWITTER_SAVEDSEARCHSHOW_URL = TWITTER_BASE "saved_searches/show/";
const std::string TWITTER_SAVEDSEARCHCREATE_URL = TWITTER_BASE "saved_searches/create";
const std::string TWITTER_SAVEDSEARCHDESTROY_URL = TWITTER_BASE "saved_searches/destroy/";
const std::string TWITTER_TRENDS_URL = TWITTER_BASE "trends";
const std::string TWITTER_TRENDSDAILY_URL = TWITTER_BASE "trends/daily";
const std::string TWITTER_TRENDSWEEKLY_URL = TWITTER_BASE "trends/weekly";
const std::string TWITTER_TRENDSCURRENT_URL = TWITTER_BASE "trends/current";
const std::string TWITTER_TRENDSAVAILABLE_URL = TWITTER_BASE "trends/available";
const std::string TWITTER_V2_USERSME_URL = TWITTER_API_HOST "/2/users/me";
const std::string TWITTER_V2_TWEETS_URL = TWITTER_API_HOST "/2/tweets";
}  // namespace twitterDefaults
