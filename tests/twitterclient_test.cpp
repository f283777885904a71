#include "twitterclient.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "eventually.h"
#include "sandbox_test_support.h"
#include "test_support.h"
#include "urlencode.h"

using nlohmann::json;

namespace {

const char ERROR_PREFIX[] = "{\"errors\":[{";

std::string response(twitterClient& c) {
    std::string out;
    c.getLastWebResponse(out);
    return out;
}

std::string curlError(twitterClient& c) {
    std::string out;
    c.getLastCurlError(out);
    return out;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        sandbox().configure(client);
    }

    static json requests() { return serviceRequests(); }

    static json lastRequest() {
        const json all = requests();
        return all.empty() ? json() : all.back();
    }

    twitterClient client;
};

const std::string API = "/1.1/";

struct CallCase {
    std::string name;
    std::function<bool(twitterClient&)> call;
    std::string method, path, body;
};

std::vector<std::string> numberedNames(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) names.push_back("user" + std::to_string(i));
    return names;
}

std::string joinedNames(int n) {
    std::string out;
    for (const auto& name : numberedNames(n)) out += (out.empty() ? "" : "%2C") + name;
    return out;
}

}  // namespace

// Each call's method, URL and body as the sandbox received them, and its signature accepted.
TEST_F(ClientTest, EveryRestCallSendsItsRequest) {
    using C = twitterClient;
    const std::string filler = "text=dummy";
    const CallCase cases[] = {
        {"search", [](C& c) { return c.search("%23live%20set", "15"); }, "GET",
         "search/tweets.json?q=%23live%20set&count=15", ""},
        {"search without count", [](C& c) { return c.search("dj"); }, "GET",
         "search/tweets.json?q=dj", ""},
        {"search count with reserved characters", [](C& c) { return c.search("dj", "5&x=1 /"); },
         "GET", "search/tweets.json?q=dj&count=5%26x%3D1%20%2F", ""},
        {"statusUpdate", [](C& c) { return c.statusUpdate("a b&c"); }, "POST",
         "statuses/update.json", "status=a%20b%26c"},
        {"statusUpdate reply", [](C& c) { return c.statusUpdate("hi", "12345"); }, "POST",
         "statuses/update.json", "status=hi&in_reply_to_status_id=12345"},
        {"statusShowById", [](C& c) { return c.statusShowById("42"); }, "GET",
         "statuses/show/42.json", ""},
        {"statusDestroyById", [](C& c) { return c.statusDestroyById("42"); }, "DELETE",
         "statuses/destroy/42.json", ""},
        {"retweetById", [](C& c) { return c.retweetById("42"); }, "POST",
         "statuses/retweet/42.json", filler},
        {"timelineHomeGet", [](C& c) { return c.timelineHomeGet("7"); }, "GET",
         "statuses/home_timeline.json?since_id=7", ""},
        {"timelineHomeGet all", [](C& c) { return c.timelineHomeGet(); }, "GET",
         "statuses/home_timeline.json", ""},
        {"timelinePublicGet", [](C& c) { return c.timelinePublicGet(); }, "GET",
         "statuses/public_timeline.json", ""},
        {"featuredUsersGet", [](C& c) { return c.featuredUsersGet(); }, "GET",
         "statuses/featured.json", ""},
        {"timelineFriendsGet", [](C& c) { return c.timelineFriendsGet(); }, "GET",
         "statuses/friends_timeline.json", ""},
        {"mentionsGet", [](C& c) { return c.mentionsGet("9"); }, "GET",
         "statuses/mentions_timeline.json?since_id=9", ""},
        {"timelineUserGet all options",
         [](C& c) { return c.timelineUserGet(true, true, 500, "abc"); }, "GET",
         "statuses/user_timeline.json?screen_name=abc&count=200&include_rts=true&trim_user=true",
         ""},
        {"timelineUserGet bare", [](C& c) { return c.timelineUserGet(false, false, 0); }, "GET",
         "statuses/user_timeline.json?", ""},
        {"timelineUserGet 199", [](C& c) { return c.timelineUserGet(false, false, 199); }, "GET",
         "statuses/user_timeline.json?&count=199", ""},
        {"timelineUserGet 200", [](C& c) { return c.timelineUserGet(false, false, 200); }, "GET",
         "statuses/user_timeline.json?&count=200", ""},
        {"timelineUserGet user id",
         [](C& c) { return c.timelineUserGet(false, true, 5, "12", true); }, "GET",
         "statuses/user_timeline.json?user_id=12&count=5&include_rts=true", ""},
        {"userLookup",
         [](C& c) {
             return c.userLookup({"a", "b"});
         },
         "POST", "users/lookup.json", "screen_name=a%2Cb"},
        {"userLookup caps at 100", [](C& c) { return c.userLookup(numberedNames(150), true); },
         "POST", "users/lookup.json", "user_id=" + joinedNames(100)},
        {"userGet", [](C& c) { return c.userGet("djsandbox"); }, "GET",
         "users/show.json?screen_name=djsandbox", ""},
        {"friendsGet", [](C& c) { return c.friendsGet("100001", true); }, "GET",
         "statuses/friends.json?user_id=100001", ""},
        {"followersGet", [](C& c) { return c.followersGet(); }, "GET", "statuses/followers.json",
         ""},
        {"directMessageGet", [](C& c) { return c.directMessageGet(); }, "GET",
         "direct_messages.json", ""},
        {"directMessageSend", [](C& c) { return c.directMessageSend("friend", "see you at 10!"); },
         "POST", "direct_messages/new.json?screen_name=friend", "text=see%20you%20at%2010%21"},
        {"directMessageGetSent", [](C& c) { return c.directMessageGetSent(); }, "GET",
         "direct_messages/sent.json", ""},
        {"directMessageDestroyById", [](C& c) { return c.directMessageDestroyById("5"); }, "DELETE",
         "direct_messages/destroy/5.json", ""},
        {"friendshipCreate", [](C& c) { return c.friendshipCreate("friend"); }, "POST",
         "friendships/create.json?screen_name=friend", filler},
        {"friendshipDestroy", [](C& c) { return c.friendshipDestroy("77", true); }, "DELETE",
         "friendships/destroy.json?user_id=77", ""},
        {"friendshipShow", [](C& c) { return c.friendshipShow("friend"); }, "GET",
         "friendships/show.json?target_screen_name=friend", ""},
        {"friendshipShow id", [](C& c) { return c.friendshipShow("77", true); }, "GET",
         "friendships/show.json?target_id=77", ""},
        {"friendshipShow no user", [](C& c) { return c.friendshipShow(""); }, "GET",
         "friendships/show.json", ""},
        {"friendsIdsGet", [](C& c) { return c.friendsIdsGet("3", "friend"); }, "GET",
         "friends/ids.json?screen_name=friend&cursor=3", ""},
        {"friendsIdsGet cursor only", [](C& c) { return c.friendsIdsGet("3", ""); }, "GET",
         "friends/ids.json?cursor=3", ""},
        {"followersIdsGet", [](C& c) { return c.followersIdsGet("", "77", true); }, "GET",
         "followers/ids.json?user_id=77", ""},
        {"accountRateLimitGet", [](C& c) { return c.accountRateLimitGet(); }, "GET",
         "account/rate_limit_status.json", ""},
        {"accountVerifyCredGet", [](C& c) { return c.accountVerifyCredGet(); }, "GET",
         "account/verify_credentials.json", ""},
        {"favoriteGet", [](C& c) { return c.favoriteGet(); }, "GET", "favorites.json", ""},
        {"favoriteCreate", [](C& c) { return c.favoriteCreate("42"); }, "POST",
         "favorites/create/42.json", filler},
        {"favoriteDestroy", [](C& c) { return c.favoriteDestroy("42"); }, "DELETE",
         "favorites/destroy/42.json", ""},
        {"blockCreate", [](C& c) { return c.blockCreate("troll"); }, "POST",
         "blocks/create/troll.json", filler},
        {"blockDestroy", [](C& c) { return c.blockDestroy("troll"); }, "DELETE",
         "blocks/destroy/troll.json", ""},
        {"blockListGet bare", [](C& c) { return c.blockListGet("", false, false); }, "GET",
         "blocks/list.json", ""},
        {"blockListGet", [](C& c) { return c.blockListGet("7", false, true); }, "GET",
         "blocks/list.json?skip_status=true&cursor=7", ""},
        {"blockListGet all", [](C& c) { return c.blockListGet("7", true, true); }, "GET",
         "blocks/list.json?include_entities=true&skip_status=true&cursor=7", ""},
        {"blockIdsGet", [](C& c) { return c.blockIdsGet("", true); }, "GET",
         "blocks/ids.json?stringify_ids=true", ""},
        {"blockIdsGet cursor", [](C& c) { return c.blockIdsGet("8", true); }, "GET",
         "blocks/ids.json?stringify_ids=true&cursor=8", ""},
        {"savedSearchGet", [](C& c) { return c.savedSearchGet(); }, "GET", "saved_searches.json",
         ""},
        {"savedSearchShow", [](C& c) { return c.savedSearchShow("3"); }, "GET",
         "saved_searches/show/3.json", ""},
        {"savedSearchCreate", [](C& c) { return c.savedSearchCreate("#live set"); }, "POST",
         "saved_searches/create.json", "query=%23live%20set"},
        {"savedSearchDestroy", [](C& c) { return c.savedSearchDestroy("3"); }, "DELETE",
         "saved_searches/destroy/3.json", ""},
        {"trendsGet", [](C& c) { return c.trendsGet(); }, "GET", "trends.json", ""},
        {"trendsDailyGet", [](C& c) { return c.trendsDailyGet(); }, "GET", "trends/daily.json", ""},
        {"trendsWeeklyGet", [](C& c) { return c.trendsWeeklyGet(); }, "GET", "trends/weekly.json",
         ""},
        {"trendsCurrentGet", [](C& c) { return c.trendsCurrentGet(); }, "GET",
         "trends/current.json", ""},
        {"trendsAvailableGet", [](C& c) { return c.trendsAvailableGet(); }, "GET",
         "trends/available.json", ""},
    };

    size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.call(client)) << curlError(client);
        const json all = requests();
        ASSERT_EQ(all.size(), seen + 1) << "exactly one request per call";
        seen = all.size();
        const json& got = all.back();
        EXPECT_EQ(got.at("method"), c.method);
        EXPECT_EQ(got.at("path"), API + c.path);
        EXPECT_EQ(got.at("body"), c.body);
        EXPECT_NE(got.at("status"), 401) << got.at("verdict") << ": " << response(client);
        EXPECT_FALSE(startsWith(response(client), "{\"errors\":[{\"code\":32"));
    }
}

TEST_F(ClientTest, GuardsRefuseWithoutARequest) {
    ASSERT_TRUE(client.accountVerifyCredGet());
    const std::string before = response(client);
    const size_t count = requests().size();

    const std::function<bool(twitterClient&)> guarded[] = {
        [](twitterClient& c) { return c.statusUpdate(""); },
        [](twitterClient& c) { return c.statusShowById(""); },
        [](twitterClient& c) { return c.statusDestroyById(""); },
        [](twitterClient& c) { return c.retweetById(""); },
        [](twitterClient& c) { return c.userLookup({}); },
        [](twitterClient& c) { return c.userGet(""); },
        [](twitterClient& c) { return c.directMessageSend("", "text"); },
        [](twitterClient& c) { return c.directMessageSend("friend", ""); },
        [](twitterClient& c) { return c.directMessageDestroyById(""); },
        [](twitterClient& c) { return c.friendshipCreate(""); },
        [](twitterClient& c) { return c.friendshipDestroy(""); },
        [](twitterClient& c) { return c.tweetCreate(""); },
        [](twitterClient& c) { return c.tweetCreate("", "12"); },
    };
    for (size_t i = 0; i < std::size(guarded); ++i) {
        EXPECT_FALSE(guarded[i](client)) << "guard " << i;
        EXPECT_EQ(response(client), before) << "guard " << i;
    }
    EXPECT_EQ(requests().size(), count);
}

TEST_F(ClientTest, Utf8StatusArrivesExactlyAsTyped) {
    const std::string text = "Now playing Bj\xC3\xB6rk & Co \xE2\x80\x94 100% #live";
    ASSERT_TRUE(client.statusUpdate(text)) << curlError(client);
    EXPECT_EQ(lastRequest().at("body"),
              "status=Now%20playing%20Bj%C3%B6rk%20%26%20Co%20%E2%80%94%20100%25%20%23live");
    const json tweet = json::parse(response(client));
    EXPECT_EQ(tweet.at("text"), text);
}

// v2: the JSON body goes out with its content type, unsigned, and the next v1.1 POST is a
// plain form POST again.
TEST_F(ClientTest, V2CallsAreSignedAndSendJsonBodies) {
    ASSERT_TRUE(client.usersMeGet()) << curlError(client);
    EXPECT_EQ(client.getLastHttpStatus(), 200) << response(client);
    EXPECT_EQ(json::parse(response(client)).at("data").at("username"),
              SandboxService::credentials().at("screen_name"));

    ASSERT_TRUE(client.tweetCreate("first", "12345")) << curlError(client);
    EXPECT_EQ(client.getLastHttpStatus(), 201) << response(client);
    EXPECT_EQ(json::parse(response(client)).at("data").at("text"), "first");

    ASSERT_TRUE(client.statusUpdate("second"));
    EXPECT_EQ(client.getLastHttpStatus(), 200) << response(client);

    const json all = requests();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].at("method"), "GET");
    EXPECT_EQ(all[0].at("path"), "/2/users/me");
    EXPECT_EQ(all[0].at("body"), "");
    EXPECT_EQ(all[1].at("method"), "POST");
    EXPECT_EQ(all[1].at("path"), "/2/tweets");
    EXPECT_EQ(all[1].at("headers").at("Content-Type"), "application/json");
    EXPECT_EQ(json::parse(all[1].at("body").get<std::string>()),
              json({{"text", "first"}, {"reply", {{"in_reply_to_tweet_id", "12345"}}}}));
    EXPECT_EQ(all[2].at("path"), API + "statuses/update.json");
    EXPECT_EQ(all[2].at("headers").at("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(all[2].at("body"), "status=second");
    for (const auto& r : all) EXPECT_EQ(r.at("verdict"), "ok") << r.dump();
}

// Texts a hand-written JSON body would get wrong arrive exactly as typed.
TEST_F(ClientTest, V2TweetTextsArriveExactlyAsTyped) {
    struct Case {
        const char* name;
        std::string typed;
        std::string stored;  // empty: as typed
    };
    const Case cases[] = {
        {"quotes", "He said \"play it again\"", ""},
        {"backslashes", "C:\\sets\\friday \\n", ""},
        {"control characters", "line one\nline two\ttab \x01\x1f", ""},
        {"non-ASCII", "Bj\xC3\xB6rk \xE2\x80\x94 \xF0\x9F\x8E\xB6 \xE6\x97\xA5", ""},
        {"form and markup characters", "a&b=c+d%20 </script> {\"x\":1}", ""},
        // Not UTF-8: JSON cannot carry the byte, so it arrives as the replacement character.
        {"invalid UTF-8", "caf\xE9 set", "caf\xEF\xBF\xBD set"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(client.tweetCreate(c.typed)) << curlError(client);
        ASSERT_EQ(client.getLastHttpStatus(), 201) << response(client);
        const std::string stored = c.stored.empty() ? c.typed : c.stored;
        EXPECT_EQ(json::parse(lastRequest().at("body").get<std::string>()).at("text"), stored);
        EXPECT_EQ(sandbox().timeline().back().at("text"), stored);
    }
}

TEST_F(ClientTest, PinFlowLogsInAndTheNewTokenIsAccepted) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    const auto& creds = SandboxService::credentials();
    fresh.setTwitterUsername(creds.at("screen_name"));
    fresh.setTwitterPassword(creds.at("password"));

    std::string authorizeUrl;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl)) << curlError(fresh);
    std::string requestToken;
    fresh.getOAuth().getOAuthTokenKey(requestToken);
    ASSERT_FALSE(requestToken.empty());
    EXPECT_EQ(authorizeUrl, "https://api.twitter.com/oauth/authorize?oauth_token=" + requestToken);

    ASSERT_TRUE(fresh.oAuthHandlePIN(authorizeUrl)) << response(fresh);
    std::string pin;
    fresh.getOAuth().getOAuthPin(pin);
    EXPECT_EQ(pin.size(), 7u);

    ASSERT_TRUE(fresh.oAuthAccessToken()) << curlError(fresh);
    std::string token, secret, screenName;
    fresh.getOAuth().getOAuthTokenKey(token);
    fresh.getOAuth().getOAuthTokenSecret(secret);
    fresh.getOAuth().getOAuthScreenName(screenName);
    EXPECT_NE(token, requestToken);
    EXPECT_FALSE(secret.empty());
    EXPECT_EQ(screenName, creds.at("screen_name"));

    ASSERT_TRUE(fresh.accountVerifyCredGet());
    EXPECT_FALSE(startsWith(response(fresh), ERROR_PREFIX)) << response(fresh);
    ASSERT_TRUE(fresh.statusUpdate("First post after login"));
    EXPECT_FALSE(startsWith(response(fresh), ERROR_PREFIX)) << response(fresh);

    // The login form went out with the authorize page's cookie and the header the PIN needs.
    const json all = requests();
    bool sawLogin = false, sawVerifier = false;
    for (const auto& r : all) {
        if (r.at("method") == "POST" && startsWith(r.at("path"), "/oauth/authorize")) {
            sawLogin = true;
            EXPECT_TRUE(r.at("headers").contains("Cookie")) << r.dump();
        }
        if (startsWith(r.at("path"), "/oauth/access_token"))
            sawVerifier =
                r.at("headers").value("Authorization", "").find("oauth_verifier=\"" + pin + "\"") !=
                std::string::npos;
    }
    EXPECT_TRUE(sawLogin);
    EXPECT_TRUE(sawVerifier);
}

TEST_F(ClientTest, WrongPinIsAnsweredButChangesNoToken) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    std::string authorizeUrl, requestToken, requestSecret;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    fresh.getOAuth().getOAuthTokenKey(requestToken);
    fresh.getOAuth().getOAuthTokenSecret(requestSecret);

    fresh.getOAuth().setOAuthPin("0000000");
    ASSERT_TRUE(fresh.oAuthAccessToken()) << "an error answer is a completed transfer";
    EXPECT_TRUE(startsWith(response(fresh), ERROR_PREFIX)) << response(fresh);
    std::string token, secret;
    fresh.getOAuth().getOAuthTokenKey(token);
    fresh.getOAuth().getOAuthTokenSecret(secret);
    EXPECT_EQ(token, requestToken);
    EXPECT_EQ(secret, requestSecret);
}

TEST_F(ClientTest, RequestTokenAnswerWithoutATokenGivesAnEmptyAuthorizeToken) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    ASSERT_TRUE(sandbox().queueFault(
        {{"path", "request_token"}, {"status", 500}, {"body", "Internal error"}}));
    std::string authorizeUrl = "stale";
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    EXPECT_EQ(authorizeUrl, "https://api.twitter.com/oauth/authorize?oauth_token=");
}

TEST_F(ClientTest, FailedRequestTokenTransferLeavesNoUrlOfAnEarlierCall) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    std::string authorizeUrl;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    ASSERT_FALSE(authorizeUrl.empty());

    fresh.getOAuth().setOAuthTokenKey("");  // logged out again, as a caller does first
    fresh.getOAuth().setOAuthTokenSecret("");
    ASSERT_TRUE(sandbox().queueFault({{"path", "request_token"}, {"truncate", true}}));
    EXPECT_FALSE(fresh.oAuthRequestToken(authorizeUrl));
    EXPECT_EQ(authorizeUrl, "");
}

TEST_F(ClientTest, AuthorizePageWithoutItsMarkersGivesNoPinAndNoPost) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    std::string authorizeUrl;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    fresh.getOAuth().setOAuthPin("keep");

    const std::string pages[] = {
        "<input name=\"authenticity_token\" type=\"hidden\" value=\"abc\">",  // no oauth_token
        "<input name=\"authenticity_token\" type=\"hidden\" value=\"abc",     // no end tag
        "<html>Maintenance</html>",
    };
    for (const auto& page : pages) {
        ASSERT_TRUE(
            sandbox().queueFault({{"path", "/oauth/authorize"}, {"status", 200}, {"body", page}}));
        EXPECT_FALSE(fresh.oAuthHandlePIN(authorizeUrl)) << page;
        std::string pin;
        fresh.getOAuth().getOAuthPin(pin);
        EXPECT_EQ(pin, "keep");
    }
    for (const auto& r : requests()) EXPECT_NE(r.at("method"), "POST") << r.at("path");
}

TEST_F(ClientTest, LoginWithAWrongPasswordGivesNoPin) {
    struct Case {
        std::string password, formValue;
    };
    const Case cases[] = {
        {"wrong&password=1", "wrong%26password%3D1"},
        {":/?#[]@!$&'()*+,;= %", "%3A%2F%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D%20%25"},
        {"x&session[password]=spin-the-decks", "x%26session%5Bpassword%5D%3Dspin-the-decks"},
    };
    twitterClient fresh;
    sandbox().configure(fresh, false);
    fresh.setTwitterUsername("djsandbox");
    std::string authorizeUrl;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        fresh.setTwitterPassword(c.password);
        EXPECT_FALSE(fresh.oAuthHandlePIN(authorizeUrl));
        const json login = lastRequest();
        EXPECT_EQ(login.at("verdict"), "error bad-login") << "the session and tokens arrived";
        const std::string body = login.at("body");
        const std::string last = "&session[password]=" + c.formValue;
        EXPECT_EQ(body.substr(body.size() - std::min(body.size(), last.size())), last) << body;
    }
}

// The page's values are read as HTML text, and every value of the form is form-encoded.
TEST_F(ClientTest, AuthorizePageValuesAreUnescapedAndFormEncoded) {
    twitterClient fresh;
    sandbox().configure(fresh, false);
    fresh.setTwitterUsername("dj sandbox");
    fresh.setTwitterPassword("p+w");
    std::string authorizeUrl;
    ASSERT_TRUE(fresh.oAuthRequestToken(authorizeUrl));
    const std::string page =
        "<input name=\"authenticity_token\" type=\"hidden\" "
        "value=\"a+b/c=&amp;d&quot;e&#39;f&#x2F;&lt;&bogus;\">"
        "<input name=\"oauth_token\" type=\"hidden\" value=\"T&amp;1\">";
    const std::string pinPage = "<p id=\"code-desc\"><code>7&amp;6&#x3c;5</code>";
    for (const auto& answer : {page, pinPage})  // the GET, then the login POST
        ASSERT_TRUE(sandbox().queueFault(
            {{"path", "/oauth/authorize"}, {"status", 200}, {"body", answer}}));
    ASSERT_TRUE(fresh.oAuthHandlePIN(authorizeUrl)) << response(fresh);
    std::string pin;
    fresh.getOAuth().getOAuthPin(pin);
    EXPECT_EQ(pin, "7&6<5");
    const json login = lastRequest();
    ASSERT_EQ(login.at("method"), "POST");
    EXPECT_EQ(login.at("body"),
              "oauth_token=T%261&authenticity_token=a%2Bb%2Fc%3D%26d%22e%27f%2F%3C%26bogus%3B"
              "&session[username_or_email]=dj%20sandbox&session[password]=p%2Bw");
}

// An address handed to the client is fetched over HTTPS or not at all: never a local file, never
// plain HTTP, even through the proxy.
TEST_F(ClientTest, OnlyHttpsAddressesAreFetched) {
    const testsupport::TempFolder folder("trackpost-page-");
    ASSERT_FALSE(folder.path().empty());
    const std::string pagePath = (folder.path() / "authorize.html").string();
    std::ofstream(pagePath) << "<input name=\"authenticity_token\" type=\"hidden\" value=\"a\">"
                               "<input name=\"oauth_token\" type=\"hidden\" value=\"t\">"
                               "<p id=\"code-desc\"><code>1234567</code>";
    const std::string addresses[] = {
        "file://" + pagePath,
        "http://api.twitter.com/oauth/authorize?oauth_token=t",
    };
    const size_t logged = sandbox().log().size();
    for (const auto& address : addresses) {
        SCOPED_TRACE(address);
        client.getOAuth().setOAuthPin("keep");
        EXPECT_FALSE(client.oAuthHandlePIN(address));
        std::string pin;
        client.getOAuth().getOAuthPin(pin);
        EXPECT_EQ(pin, "keep");
        EXPECT_EQ(response(client), "");
        EXPECT_NE(curlError(client).find("disabled"), std::string::npos) << curlError(client);
    }
    EXPECT_EQ(sandbox().log().size(), logged) << "nothing reached the sandbox";
}

TEST_F(ClientTest, AnErrorAnswerIsACompletedTransfer) {
    client.getOAuth().setConsumerSecret("not-the-secret");
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_TRUE(startsWith(response(client), "{\"errors\":[{\"code\":32")) << response(client);
    EXPECT_EQ(lastRequest().at("status"), 401);
    EXPECT_EQ(curlError(client), "");
}

// The last answer's header fields are the service's own, not the proxy's CONNECT answer's,
// read in any case; a transfer that gets no answer leaves none.
TEST_F(ClientTest, TheLastAnswersHeadersAreKept) {
    ASSERT_TRUE(sandbox().setMode({{"rate_limit", {{"posts", 5}, {"window", 60}}}}));
    ASSERT_TRUE(client.statusUpdate("with limit headers"));
    std::string value;
    for (const char* name : {"Content-Type", "content-type", "CONTENT-TYPE"}) {
        ASSERT_TRUE(client.getLastResponseHeader(name, value)) << name;
        EXPECT_EQ(value, "application/json; charset=utf-8");
    }
    ASSERT_TRUE(client.getLastResponseHeader("x-rate-limit-remaining", value));
    EXPECT_EQ(value, "4") << "trimmed of blanks and the line end";
    EXPECT_FALSE(client.getLastResponseHeader("Proxy-Agent", value));
    std::int64_t date = 0;
    ASSERT_TRUE(client.getLastAnswerDate(date));
    EXPECT_LE(std::llabs(date - static_cast<std::int64_t>(std::time(nullptr))), 5);

    // The next answer's fields replace them all.
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_FALSE(client.getLastResponseHeader("x-rate-limit-remaining", value));
    ASSERT_TRUE(sandbox().queueFault({{"reset", true}}));
    ASSERT_TRUE(sandbox().queueFault({{"reset", true}}));
    EXPECT_FALSE(client.accountVerifyCredGet());
    EXPECT_FALSE(client.getLastResponseHeader("Content-Type", value));
    EXPECT_FALSE(client.getLastAnswerDate(date));

    // Transfers that fail after the proxy answered, or in the middle of an answer, leave none of
    // the proxy's fields nor the answer's.
    ASSERT_TRUE(client.accountVerifyCredGet());
    std::unique_ptr<twitterClient> otherCa(client.clone());
    otherCa->setCaInfo(std::string(TRACKPOST_TESTS_DIR) + "/data/unrelated-ca.pem");
    EXPECT_FALSE(otherCa->accountVerifyCredGet());
    ASSERT_TRUE(sandbox().queueFault({{"truncate", true}}));
    EXPECT_FALSE(client.accountVerifyCredGet());
    for (twitterClient* failed : {otherCa.get(), &client})
        for (const char* name : {"Proxy-Agent", "Content-Type", "Date"})
            EXPECT_FALSE(failed->getLastResponseHeader(name, value)) << name << ": " << value;
}

// A signer whose clock is off is refused for its time stamp; with the offset the answer's Date
// gives, the same call goes through.
TEST_F(ClientTest, AClockOffsetShiftsEveryTimeStamp) {
    client.getOAuth().setClockOffset(1000);
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_EQ(client.getLastHttpStatus(), 401);
    EXPECT_NE(response(client).find("\"code\":135"), std::string::npos) << response(client);
    std::int64_t date = 0;
    ASSERT_TRUE(client.getLastAnswerDate(date));
    client.getOAuth().setClockOffset(date - static_cast<std::int64_t>(std::time(nullptr)));
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_EQ(client.getLastHttpStatus(), 200);

    // Against a service whose clock runs 20 minutes ahead.
    ASSERT_TRUE(sandbox().setMode({{"clock_offset", 1200}}));
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_EQ(client.getLastHttpStatus(), 401);
    ASSERT_TRUE(client.getLastAnswerDate(date));
    const std::int64_t offset = date - static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(offset), 1200.0, 3.0);
    client.getOAuth().setClockOffset(offset);
    ASSERT_TRUE(client.accountVerifyCredGet());
    EXPECT_EQ(client.getLastHttpStatus(), 200);
    std::unique_ptr<twitterClient> copy(client.clone());
    EXPECT_EQ(copy->getOAuth().getClockOffset(), offset) << "a clone signs on the same clock";
}

TEST_F(ClientTest, TransferFailuresReturnFalseWithLibcurlsMessage) {
    struct Case {
        std::string name;
        std::function<void(twitterClient&)> arrange;
        std::string messagePart;
    };
    const Case cases[] = {
        {"refused connection",
         [](twitterClient& c) { c.setProxyServerPort(std::to_string(closedPort())); }, "onnect"},
        {"untrusted certificate",
         [](twitterClient& c) { c.setCaInfo("/etc/ssl/certs/ca-certificates.crt"); }, "SSL"},
        {"truncated body",
         [](twitterClient&) {
             sandbox().queueFault({{"truncate", true}});
         },
         "transfer closed"},
        {"connection reset",
         [](twitterClient&) {
             sandbox().queueFault({{"reset", true}});
         },
         ""},
        {"endless body",
         [](twitterClient&) {
             sandbox().queueFault({{"large", 20 * 1024 * 1024}});
         },
         "writ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        twitterClient failing;
        sandbox().configure(failing);
        c.arrange(failing);
        EXPECT_FALSE(failing.accountVerifyCredGet());
        const std::string message = curlError(failing);
        EXPECT_FALSE(message.empty());
        EXPECT_LE(message.size(), 1023u);
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        EXPECT_LE(response(failing).size(), twitterClient::MAX_RESPONSE_BYTES);
    }
}

// The default stall limit, and a shorter one set by the owner for its next requests.
TEST_F(ClientTest, StalledAnswerFailsAtTheStallLimit) {
    for (const long limit : {twitterClient::STALL_LIMIT_SECONDS, 3L}) {
        SCOPED_TRACE(limit);
        if (limit != twitterClient::STALL_LIMIT_SECONDS) client.setStallLimit(limit);
        EXPECT_EQ(client.getStallLimit(), limit);
        ASSERT_TRUE(sandbox().queueFault({{"stall", 90}}));
        EXPECT_FALSE(client.accountVerifyCredGet());
        const std::string error = curlError(client);
        EXPECT_NE(error.find("too slow"), std::string::npos) << error;
        EXPECT_NE(error.find("the last " + std::to_string(limit) + " seconds"), std::string::npos)
            << error;
    }
    client.setStallLimit(0);
    EXPECT_EQ(client.getStallLimit(), 1) << "never unlimited";
}

// An owner that must stop aborts a stalled transfer from another thread; later calls fail at once.
TEST_F(ClientTest, AbortEndsAStalledTransferAndEveryLaterOne) {
    ASSERT_TRUE(sandbox().queueFault({{"stall", 90}}));
    std::atomic<bool> done{false};
    bool carriedOut = true;
    std::thread caller([&] {
        carriedOut = client.statusUpdate("stalled");
        done = true;
    });
    ASSERT_TRUE(eventually([] {
        const json all = serviceRequests();
        return !all.empty() && all.back().at("verdict") == "fault stall";
    }));
    client.abortTransfers();
    // Well inside the stall limit.
    const bool ended = eventually([&] { return done.load(); }, std::chrono::seconds(10));
    caller.join();
    ASSERT_TRUE(ended);
    EXPECT_FALSE(carriedOut);
    EXPECT_FALSE(curlError(client).empty());

    const size_t before = serviceRequests().size();
    EXPECT_FALSE(client.accountVerifyCredGet());
    EXPECT_EQ(serviceRequests().size(), before);
}

TEST_F(ClientTest, SettingsStoredBetweenRequestsTakeEffectAtTheNext) {
    const std::string goodPort = std::to_string(sandbox().port());
    client.setProxyServerPort(std::to_string(closedPort()));
    EXPECT_FALSE(client.accountVerifyCredGet());

    client.setProxyServerPort("");  // ignored: the bad port stays
    EXPECT_FALSE(client.accountVerifyCredGet());

    client.setProxyServerPort(goodPort);
    EXPECT_TRUE(client.accountVerifyCredGet()) << curlError(client);
    EXPECT_EQ(client.getProxyServerPort(), goodPort);

    client.setInterface("no-such-if0");
    EXPECT_FALSE(client.accountVerifyCredGet());
    EXPECT_NE(curlError(client).find("no-such-if0"), std::string::npos) << curlError(client);
}

TEST_F(ClientTest, MethodOptionsDoNotLeakIntoTheNextRequest) {
    ASSERT_TRUE(client.statusDestroyById("1"));
    ASSERT_TRUE(client.accountVerifyCredGet());
    ASSERT_TRUE(client.statusUpdate("one post"));
    ASSERT_TRUE(client.trendsGet());
    const json all = requests();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].at("method"), "DELETE");
    for (size_t i : {1u, 3u}) {
        EXPECT_EQ(all[i].at("method"), "GET");
        EXPECT_EQ(all[i].at("body"), "");
        EXPECT_FALSE(all[i].at("headers").contains("Content-Length")) << all[i].dump();
    }
    EXPECT_EQ(all[2].at("method"), "POST");
}

TEST_F(ClientTest, OneConnectionServesManyRequestsAndKeepsOnlyTheLastBody) {
    ASSERT_TRUE(client.accountVerifyCredGet());
    const std::string first = response(client);
    ASSERT_TRUE(client.trendsAvailableGet());
    EXPECT_NE(response(client), first);
    EXPECT_EQ(response(client).find(first), std::string::npos);
    const json all = requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].at("connection"), all[1].at("connection"));
}

TEST_F(ClientTest, CloneKeepsProxyAndTokenButNotTheInterface) {
    client.setInterface("127.0.0.1");
    ASSERT_TRUE(client.accountVerifyCredGet()) << curlError(client);
    const std::string original = response(client);

    std::unique_ptr<twitterClient> copy(client.clone());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isCurlInit());
    EXPECT_EQ(copy->getInterface(), "");
    EXPECT_EQ(copy->getProxyServerIp(), client.getProxyServerIp());
    EXPECT_EQ(copy->getProxyServerPort(), client.getProxyServerPort());
    EXPECT_EQ(response(*copy), "");
    std::string token;
    copy->getOAuth().getOAuthTokenKey(token);
    EXPECT_EQ(token, SandboxService::credentials().at("access_token"));

    ASSERT_TRUE(copy->statusUpdate("from the clone")) << curlError(*copy);
    EXPECT_FALSE(startsWith(response(*copy), ERROR_PREFIX)) << response(*copy);
    EXPECT_EQ(response(client), original);
}
