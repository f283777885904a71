#ifndef TRACKPOST_TWITTERCLIENTURLS_H
#define TRACKPOST_TWITTERCLIENTURLS_H

#include <string>

// The service's API host; every URL of the client is built on it.
#define TWITTER_API_HOST "api.twitter.com"

namespace twitterClientDefaults {
extern const std::string TWITTER_COLON;
extern const std::string TWITTER_STATUSSTRING;
extern const std::string TWITTER_TEXTSTRING;
extern const std::string TWITTER_QUERYSTRING;
extern const std::string TWITTER_SEARCHQUERYSTRING;
extern const std::string TWITTER_SCREENNAME;
extern const std::string TWITTER_USERID;
extern const std::string TWITTER_EXTENSIONFORMATS[2];
extern const std::string TWITTER_PROTOCOLS[2];
extern const std::string TWITTER_TARGETSCREENNAME;
extern const std::string TWITTER_TARGETUSERID;
extern const std::string TWITTER_SINCEID;
extern const std::string TWITTER_TRIMUSER;
extern const std::string TWITTER_INCRETWEETS;
extern const std::string TWITTER_COUNT;
extern const std::string TWITTER_NEXT_CURSOR;
extern const std::string TWITTER_SKIP_STATUS;
extern const std::string TWITTER_INCLUDE_ENTITIES;
extern const std::string TWITTER_STRINGIFY_IDS;
extern const std::string TWITTER_INREPLYTOSTATUSID;
extern const std::string TWITTER_URL_SEP_AMP;
extern const std::string TWITTER_URL_SEP_QUES;
}  // namespace twitterClientDefaults

namespace twitterDefaults {
extern const std::string TWITTER_BASE_URL;
extern const std::string TWITTER_SEARCH_URL;
extern const std::string TWITTER_STATUSUPDATE_URL;
extern const std::string TWITTER_STATUSSHOW_URL;
extern const std::string TWITTER_STATUDESTROY_URL;
extern const std::string TWITTER_RETWEET_URL;
extern const std::string TWITTER_HOME_TIMELINE_URL;
extern const std::string TWITTER_PUBLIC_TIMELINE_URL;
extern const std::string TWITTER_FEATURED_USERS_URL;
extern const std::string TWITTER_FRIENDS_TIMELINE_URL;
extern const std::string TWITTER_MENTIONS_URL;
extern const std::string TWITTER_USERTIMELINE_URL;
extern const std::string TWITTER_LOOKUPUSERS_URL;
extern const std::string TWITTER_SHOWUSERS_URL;
extern const std::string TWITTER_SHOWFRIENDS_URL;
extern const std::string TWITTER_SHOWFOLLOWERS_URL;
extern const std::string TWITTER_DIRECTMESSAGES_URL;
extern const std::string TWITTER_DIRECTMESSAGENEW_URL;
extern const std::string TWITTER_DIRECTMESSAGESSENT_URL;
extern const std::string TWITTER_DIRECTMESSAGEDESTROY_URL;
extern const std::string TWITTER_FRIENDSHIPSCREATE_URL;
extern const std::string TWITTER_FRIENDSHIPSDESTROY_URL;
extern const std::string TWITTER_FRIENDSHIPSSHOW_URL;
extern const std::string TWITTER_FRIENDSIDS_URL;
extern const std::string TWITTER_FOLLOWERSIDS_URL;
extern const std::string TWITTER_ACCOUNTRATELIMIT_URL;
extern const std::string TWITTER_ACCOUNTVERIFYCRED_URL;
extern const std::string TWITTER_FAVORITESGET_URL;
extern const std::string TWITTER_FAVORITECREATE_URL;
extern const std::string TWITTER_FAVORITEDESTROY_URL;
extern const std::string TWITTER_BLOCKSCREATE_URL;
extern const std::string TWITTER_BLOCKSDESTROY_URL;
extern const std::string TWITTER_BLOCKSLIST_URL;
extern const std::string TWITTER_BLOCKSIDS_URL;
extern const std::string TWITTER_SAVEDSEARCHGET_URL;
extern const std::string TWITTER_SAVEDSEARCHSHOW_URL;
extern const std::string TWITTER_SAVEDSEARCHCREATE_URL;
extern const std::string TWITTER_SAVEDSEARCHDESTROY_URL;
extern const std::string TWITTER_TRENDS_URL;
extern const std::string TWITTER_TRENDSDAILY_URL;
extern const std::string TWITTER_TRENDSWEEKLY_URL;
extern const std::string TWITTER_TRENDSCURRENT_URL;
extern const std::string TWITTER_TRENDSAVAILABLE_URL;
// REST API v2: no format extension.
extern const std::string TWITTER_V2_USERSME_URL;
extern const std::string TWITTER_V2_TWEETS_URL;
}  // namespace twitterDefaults

#endif
