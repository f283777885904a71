// The Mastodon client: its readings of the servers' answers (bodies from Mastodon's API
// documentation), and its requests as a server receives them.
#include "MastodonClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "eventually.h"
#include "sandbox_test_support.h"

using nlohmann::json;

namespace {

std::string documented(const std::string& name) {
    std::ifstream in(std::string(TRACKPOST_MASTODON_DATA) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

// The documented body with one change.
std::string changed(const std::string& name, const std::function<void(json&)>& change) {
    json body = json::parse(documented(name));
    change(body);
    return body.dump();
}

const char INVALID_TOKEN[] = R"({"error":"The access token is invalid"})";
const char INVALID_GRANT[] =
    R"({"error":"invalid_grant","error_description":"The provided authorization grant is invalid, expired, revoked, does not match the redirection URI used in the authorization request, or was issued to another client."})";

}  // namespace

TEST(ParseIsoTimeMillis, ReadsRfc3339Times) {
    const std::int64_t reset = 1796972700000;  // 2026-12-11T07:05:00Z
    const struct {
        const char* text;
        std::int64_t millis;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-11T07:05:00Z", reset},
        {"2026-12-11T07:05:00.123456Z", reset + 123},  // as the servers send it
        {"2026-12-11T07:05:00.999999999Z", reset + 999},
        {"2026-12-11T07:05:00.1Z", reset + 100},
        {"2026-12-11T07:05:00.12Z", reset + 120},
        {"2026-12-11T07:05:00.000Z", reset},
        {"2026-12-11T08:05:00.123+01:00", reset + 123},
        {"2026-12-11T02:35:00-04:30", reset},
        {"2026-12-11T07:05:00+00:00", reset},
        {"2026-12-11T07:05:00-00:00", reset},
        {"2026-12-12T07:04:00+23:59", reset},
        {"2026-12-11t07:05:00z", reset},
        {"2024-02-29T12:00:00Z", 1709208000000},
        {"2000-02-29T00:00:00Z", 951782400000},
        {"2026-12-31T23:59:60Z", 1798761600000},  // a leap second: the next minute's start
        {"1969-12-31T23:59:59.999Z", -1},
        {"0000-01-01T00:00:00Z", -62167219200000},
        {"9999-12-31T23:59:59.999Z", 253402300799999},
    };
    for (const auto& c : cases) {
        std::int64_t millis = 42;
        EXPECT_TRUE(parseIsoTimeMillis(c.text, millis)) << c.text;
        EXPECT_EQ(millis, c.millis) << c.text;
    }
}

TEST(ParseIsoTimeMillis, RefusesWhatIsNotATimeOrOutOfRange) {
    const char* cases[] = {
        "",
        "soon",
        "1796972700",                     // X's epoch seconds
        "Fri, 11 Dec 2026 07:05:00 GMT",  // an HTTP date
        "2026-12-11",
        "2026-12-11T07:05Z",
        "2026-12-11T07:05:00",  // no zone
        "2026-12-11 07:05:00Z",
        "2026-12-11T07:05:00.Z",
        "2026-12-11T07:05:00,5Z",
        "2026-12-11T07:05:00+0100",
        "2026-12-11T07:05:00+01",
        "2026-12-11T07:05:00ZZ",
        " 2026-12-11T07:05:00Z",
        "2026-12-11T07:05:00Z ",
        "2026-1-11T07:05:00Z",
        "+2026-12-11T07:05:00Z",
        "20261-12-11T07:05:00Z",
        "2026-12-11T07:05:00.12a3Z",
        "\xEF\xBC\x92\x30\x32\x36-12-11T07:05:00Z",  // a full-width digit
        "2026-00-11T07:05:00Z",
        "2026-13-11T07:05:00Z",
        "2026-12-00T07:05:00Z",
        "2026-12-32T07:05:00Z",
        "2026-04-31T07:05:00Z",
        "2026-02-29T07:05:00Z",
        "1900-02-29T07:05:00Z",
        "2026-12-11T24:00:00Z",
        "2026-12-11T07:60:00Z",
        "2026-12-11T07:05:61Z",
        "2026-12-11T07:05:00+24:00",
        "2026-12-11T07:05:00+01:60",
    };
    for (const char* text : cases) {
        std::int64_t millis = 42;
        EXPECT_FALSE(parseIsoTimeMillis(text, millis)) << text;
        EXPECT_EQ(millis, 42) << text;
    }
    std::int64_t millis = 42;
    EXPECT_FALSE(parseIsoTimeMillis(std::string_view("2026-12-11T07:05:00Z\0", 21), millis));
}

TEST(MastodonAnswers, ParseAppReadsTheRegisteredCredentials) {
    MastodonApp app;
    ASSERT_TRUE(parseApp(documented("app.json"), app));
    EXPECT_EQ(app.clientId, "TWhM-tNSuncnqN7DBJmoyeLnk6K3iJJ71KKXxgL1hPM");
    EXPECT_EQ(app.clientSecret, "ZEaFUFmF0umgBX1qKJDjaU99Q31lDkOU8NutzTOoliw");

    const std::string refused[] = {
        "",
        "not json",
        "[]",
        "{}",
        R"({"error":"Validation failed: Redirect URI must be an absolute URI."})",
        changed("app.json", [](json& b) { b.erase("client_secret"); }),
        changed("app.json", [](json& b) { b["client_id"] = ""; }),
        changed("app.json", [](json& b) { b["client_secret"] = 12345; }),
        documented("app.json").substr(0, 200),  // cut short
    };
    for (const std::string& body : refused) {
        MastodonApp kept{"id", "secret"};
        EXPECT_FALSE(parseApp(body, kept)) << body;
        EXPECT_EQ(kept.clientId, "id");
        EXPECT_EQ(kept.clientSecret, "secret");
    }
}

TEST(MastodonAnswers, ParseAccessTokenTakesOnlyABearerToken) {
    const std::string documentedToken =
        R"({"access_token":"ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0","token_type":"Bearer","scope":"read write follow push","created_at":1573979017})";
    const struct {
        std::string body;
        bool read;
    } cases[] = {
        {documentedToken, true},
        {R"({"access_token":"ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0","token_type":"bearer"})",
         true},
        {R"({"access_token":"ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0"})", true},
        {R"({"access_token":"ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0","token_type":"mac"})",
         false},
        {R"({"access_token":"ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0","token_type":null})",
         false},
        {R"({"access_token":"","token_type":"Bearer"})", false},
        {R"({"access_token":null,"token_type":"Bearer"})", false},
        {INVALID_GRANT, false},
        {R"({"error":"invalid_client","error_description":"Client authentication failed due to unknown client, no client authentication included, or unsupported authentication method."})",
         false},
        {"<html><body>Sign in</body></html>", false},
        {"", false},
    };
    for (const auto& c : cases) {
        std::string token = "kept";
        EXPECT_EQ(parseAccessToken(c.body, token), c.read) << c.body;
        EXPECT_EQ(token, c.read ? "ZA-Yj3aBD8U8Cm7lKUp-lm9O9BmDgdhHzDeqsY8tlL0" : "kept") << c.body;
    }
}

TEST(MastodonAnswers, ParseAccountNameReadsTheUsername) {
    std::string name;
    ASSERT_TRUE(parseAccountName(documented("verify_credentials.json"), name));
    EXPECT_EQ(name, "trwnh");

    const std::string refused[] = {
        INVALID_TOKEN,
        R"({"error":"Your login is currently disabled"})",
        R"({"error":"This action is outside the authorized scopes"})",
        changed("verify_credentials.json", [](json& b) { b.erase("username"); }),
        changed("verify_credentials.json", [](json& b) { b["username"] = json::array(); }),
        "[" + documented("verify_credentials.json") + "]",
        "",
    };
    for (const std::string& body : refused) {
        std::string kept = "kept";
        EXPECT_FALSE(parseAccountName(body, kept)) << body.substr(0, 80);
        EXPECT_EQ(kept, "kept");
    }
}

TEST(MastodonAnswers, ParseTextLimitReadsTheStatusConfiguration) {
    MastodonTextLimit limit;
    limit.maxCharacters = limit.charactersPerUrl = 1;
    ASSERT_TRUE(parseTextLimit(documented("instance_v2.json"), limit));
    EXPECT_EQ(limit.maxCharacters, 500u);
    EXPECT_EQ(limit.charactersPerUrl, 23u);

    const auto statuses = [](const std::function<void(json&)>& change) {
        return changed("instance_v2.json",
                       [&](json& b) { change(b["configuration"]["statuses"]); });
    };
    const struct {
        const char* name;
        std::string body;
        std::size_t max, perUrl;
    } read[] = {
        {"a server with a longer limit", statuses([](json& s) { s["max_characters"] = 1000; }),
         1000, 23},
        {"a per-URL count of its own", statuses([](json& s) {
             s["max_characters"] = 5000;
             s["characters_reserved_per_url"] = 0;
         }),
         5000, 0},
        {"no per-URL count", statuses([](json& s) { s.erase("characters_reserved_per_url"); }), 500,
         23},
    };
    for (const auto& c : read) {
        MastodonTextLimit got;
        EXPECT_TRUE(parseTextLimit(c.body, got)) << c.name;
        EXPECT_EQ(got.maxCharacters, c.max) << c.name;
        EXPECT_EQ(got.charactersPerUrl, c.perUrl) << c.name;
    }

    const struct {
        const char* name;
        std::string body;
    } refused[] = {
        {"no limit", statuses([](json& s) { s.erase("max_characters"); })},
        {"a limit of 0", statuses([](json& s) { s["max_characters"] = 0; })},
        {"a negative limit", statuses([](json& s) { s["max_characters"] = -500; })},
        {"a limit as text", statuses([](json& s) { s["max_characters"] = "500"; })},
        {"a fractional limit", statuses([](json& s) { s["max_characters"] = 500.5; })},
        {"an absurd limit", statuses([](json& s) { s["max_characters"] = 100000000000ULL; })},
        {"a per-URL count over the limit",
         statuses([](json& s) { s["characters_reserved_per_url"] = 501; })},
        {"a negative per-URL count",
         statuses([](json& s) { s["characters_reserved_per_url"] = -1; })},
        {"statuses not an object", statuses([](json& s) { s = json::array(); })},
        {"no configuration",
         changed("instance_v2.json", [](json& b) { b.erase("configuration"); })},
        {"v1's answer", R"({"uri":"mastodon.social","max_toot_chars":500})"},
        {"not found", R"({"error":"Record not found"})"},
        {"not JSON", "<html></html>"},
    };
    for (const auto& c : refused) {
        MastodonTextLimit kept;
        kept.maxCharacters = 7;
        kept.charactersPerUrl = 3;
        EXPECT_FALSE(parseTextLimit(c.body, kept)) << c.name;
        EXPECT_EQ(kept.maxCharacters, 7u) << c.name;
        EXPECT_EQ(kept.charactersPerUrl, 3u) << c.name;
    }
}

TEST(MastodonAnswers, ProfileScopeIsOfferedOnlyWhereTheMetadataListsIt) {
    EXPECT_TRUE(serverOffersProfileScope(documented("authorization_server_metadata.json")));
    const std::string without = changed("authorization_server_metadata.json", [](json& b) {
        json& scopes = b["scopes_supported"];
        scopes.erase(std::find(scopes.begin(), scopes.end(), "profile"));
    });
    EXPECT_FALSE(serverOffersProfileScope(without));
    // Servers before 4.3 have no metadata.
    EXPECT_FALSE(serverOffersProfileScope(R"({"error":"Not Found"})"));
    EXPECT_FALSE(serverOffersProfileScope(R"({"scopes_supported":"read profile"})"));
    EXPECT_FALSE(serverOffersProfileScope(R"({"scopes_supported":["read","Profile"]})"));
    EXPECT_TRUE(serverOffersProfileScope(R"({"scopes_supported":[1,null,"profile"]})"));
    EXPECT_FALSE(serverOffersProfileScope(""));
}

TEST(MastodonAnswers, AnswerErrorGivesTheServersWords) {
    const struct {
        std::string body;
        std::string error;
    } cases[] = {
        {INVALID_TOKEN, "The access token is invalid"},
        {R"({"error":"Validation failed: Text character limit of 500 exceeded"})",
         "Validation failed: Text character limit of 500 exceeded"},
        {INVALID_GRANT,
         "invalid_grant: The provided authorization grant is invalid, expired, revoked, does not "
         "match the redirection URI used in the authorization request, or was issued to another "
         "client."},
        {R"({"error":"unauthorized_client","error_description":""})", "unauthorized_client"},
        {R"({"error":"","error_description":"x"})", ""},
        {R"({"error":{"message":"x"}})", ""},
        {"{}", ""},
        {documented("status.json"), ""},
        {"<html><h1>502 Bad Gateway</h1></html>", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(answerError(c.body), c.error) << c.body.substr(0, 80);
}

TEST(MastodonClient, AuthorizeUrlAsksForACodeShownToTheUser) {
    WebClient web;
    MastodonClient client(web);
    client.setServer("mastodon.social");
    const MastodonApp app{"id with blanks&more", "the-secret"};
    const std::string url = client.authorizeUrl(app, "write:statuses profile");
    EXPECT_EQ(url,
              "https://mastodon.social/oauth/authorize?response_type=code"
              "&client_id=id%20with%20blanks%26more"
              "&redirect_uri=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob"
              "&scope=write%3Astatuses%20profile");
    EXPECT_EQ(url.find("the-secret"), std::string::npos);
}

namespace {

// The client against the sandbox, through its proxy entrance with its CA.
class MastodonSandboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        web.setProxy("127.0.0.1:" + std::to_string(sandbox().port()));
        web.setCaFile(SandboxService::caFile());
        client.setServer(HOST);
    }

    static const json& issued() { return SandboxService::credentials().at("mastodon"); }
    static MastodonApp issuedApp() {
        return {issued().at("client_id"), issued().at("client_secret")};
    }
    void useIssuedToken() { client.setToken(issued().at("access_token")); }

    static const std::string HOST;
    WebClient web;
    MastodonClient client{web};
};

const std::string MastodonSandboxTest::HOST = "mastodon.social";

}  // namespace

// Each call's method, address, form and fields as the server receives them; the token goes only
// with the calls that act for the user.
TEST_F(MastodonSandboxTest, EveryCallSendsItsRequest) {
    using C = MastodonClient;
    const MastodonApp app{"the-client-id", "the secret/+"};
    const std::string OOB = "urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob";
    const struct {
        const char* name;
        std::function<WebAnswer(C&)> call;
        std::string method, path, body;
        bool bearer;
        std::string idempotencyKey;
    } cases[] = {
        {"registerApp",
         [](C& c) {
             return c.registerApp("Trackpost", "write:statuses profile",
                                  "https://trackpost.example");
         },
         "POST", "/api/v1/apps",
         "client_name=Trackpost&redirect_uris=" + OOB +
             "&scopes=write%3Astatuses%20profile&website=https%3A%2F%2Ftrackpost.example",
         false, ""},
        {"registerApp without a website",
         [](C& c) { return c.registerApp("Trackpost", "write:statuses read:accounts", ""); },
         "POST", "/api/v1/apps",
         "client_name=Trackpost&redirect_uris=" + OOB +
             "&scopes=write%3Astatuses%20read%3Aaccounts",
         false, ""},
        {"authorizationServerMetadata", [](C& c) { return c.authorizationServerMetadata(); }, "GET",
         "/.well-known/oauth-authorization-server", "", false, ""},
        {"exchangeCode", [&](C& c) { return c.exchangeCode(app, "code 1"); }, "POST",
         "/oauth/token",
         "grant_type=authorization_code&code=code%201&client_id=the-client-id"
         "&client_secret=the%20secret%2F%2B&redirect_uri=" +
             OOB,
         false, ""},
        {"verifyCredentials", [](C& c) { return c.verifyCredentials(); }, "GET",
         "/api/v1/accounts/verify_credentials", "", true, ""},
        {"instance", [](C& c) { return c.instance(); }, "GET", "/api/v2/instance", "", false, ""},
        {"postStatus",
         [](C& c) { return c.postStatus("Now playing A & B \xE2\x80\x93 C #live", "key-1"); },
         "POST", "/api/v1/statuses", "status=Now%20playing%20A%20%26%20B%20%E2%80%93%20C%20%23live",
         true, "key-1"},
        {"postStatus in a language", [](C& c) { return c.postStatus("Hallo", "key-2", "de"); },
         "POST", "/api/v1/statuses", "status=Hallo&language=de", true, "key-2"},
        {"postStatus without a key", [](C& c) { return c.postStatus("x", ""); }, "POST",
         "/api/v1/statuses", "status=x", true, ""},
        {"revoke", [&](C& c) { return c.revoke(app, "old token"); }, "POST", "/oauth/revoke",
         "client_id=the-client-id&client_secret=the%20secret%2F%2B&token=old%20token", false, ""},
    };
    client.setToken("user-token");
    for (const auto& c : cases) {
        ASSERT_TRUE(sandbox().reset());
        const WebAnswer answer = c.call(client);
        ASSERT_TRUE(answer.carriedOut) << c.name << ": " << answer.error;
        const json sent = serviceRequests();
        ASSERT_EQ(sent.size(), 1u) << c.name;
        EXPECT_EQ(sent[0].at("method"), c.method) << c.name;
        EXPECT_EQ(sent[0].at("url"), "https://" + HOST + c.path) << c.name;
        EXPECT_EQ(sent[0].at("body"), c.body) << c.name;
        const json& fields = sent[0].at("headers");
        EXPECT_EQ(fields.value("Host", ""), HOST) << c.name;
        EXPECT_EQ(fields.value("Authorization", ""), c.bearer ? "Bearer user-token" : "") << c.name;
        EXPECT_EQ(fields.value("Idempotency-Key", ""), c.idempotencyKey) << c.name;
        EXPECT_EQ(fields.value("Content-Type", ""),
                  c.method == "POST" ? "application/x-www-form-urlencoded" : "")
            << c.name;
    }

    ASSERT_TRUE(sandbox().reset());
    client.setToken("");
    ASSERT_TRUE(client.verifyCredentials().carriedOut);
    EXPECT_FALSE(serviceRequests().at(0).at("headers").contains("Authorization"));
}

// A server name that is not a plain host sends nothing, least of all the token.
TEST_F(MastodonSandboxTest, NothingGoesToWhatIsNotAServerName) {
    client.setToken("user-token");
    for (const char* host : {"", "mastodon.social/evil", "x@mastodon.social", "mastodon.social?"}) {
        client.setServer(host);
        const WebAnswer answer = client.postStatus("x", "k");
        EXPECT_FALSE(answer.carriedOut) << host;
        EXPECT_FALSE(answer.error.empty()) << host;
        EXPECT_FALSE(client.verifyCredentials().carriedOut) << host;
    }
    EXPECT_TRUE(sandbox().log().empty()) << sandbox().log().dump();
}

namespace {

std::string statusId(const WebAnswer& answer) {
    const json body = json::parse(answer.body, nullptr, false);
    return body.is_object() ? body.value("id", "") : "";
}

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// A retry with the key of a post whose answer was lost gives back that post, not a second one.
TEST_F(MastodonSandboxTest, OneIdempotencyKeyPostsOnce) {
    useIssuedToken();
    const WebAnswer first = client.postStatus("Now playing Artist - Title", "key-1");
    ASSERT_TRUE(first.carriedOut) << first.error;
    ASSERT_EQ(first.status, 200) << first.body;
    const std::string id = statusId(first);
    ASSERT_FALSE(id.empty()) << first.body;

    const WebAnswer again = client.postStatus("Now playing Artist - Title", "key-1");
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(statusId(again), id);
    const WebAnswer other = client.postStatus("Now playing Artist - Title", "key-2");
    EXPECT_EQ(other.status, 200);
    EXPECT_NE(statusId(other), id);
    EXPECT_EQ(json::parse(first.body).at("language"), "en");
    EXPECT_EQ(sandbox().timeline(HOST).size(), 2u);
}

// The post is stored but its answer is lost; the retry with the same key is answered with it.
TEST_F(MastodonSandboxTest, ALostAnswerIsRetriedWithoutASecondPost) {
    useIssuedToken();
    ASSERT_TRUE(sandbox().queueFault(
        {{"host", HOST}, {"path", "/api/v1/statuses"}, {"stall", 60}, {"stored", true}}));
    auto lost = std::async(std::launch::async,
                           [&] { return client.postStatus("Now playing A - B", "track-7"); });
    ASSERT_TRUE(eventually([] { return sandbox().timeline(HOST).size() == 1; }));
    web.abortTransfers();
    EXPECT_FALSE(lost.get().carriedOut);
    web.allowTransfers();

    const WebAnswer retried = client.postStatus("Now playing A - B", "track-7");
    ASSERT_EQ(retried.status, 200) << retried.body;
    const json stored = sandbox().timeline(HOST);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(statusId(retried), stored[0].at("id"));
}

// Every API answer says when its rate-limit window ends, in a form parseIsoTimeMillis reads.
TEST_F(MastodonSandboxTest, RateLimitResetsAreReadable) {
    useIssuedToken();
    ASSERT_TRUE(
        sandbox().setMode({{"mastodon", {{"rate_limit", {{"posts", 1}, {"window", 60}}}}}}));
    const std::int64_t before = nowMillis();
    const WebAnswer posted = client.postStatus("one", "k1");
    const WebAnswer limited = client.postStatus("two", "k2");
    ASSERT_EQ(posted.status, 200) << posted.body;
    ASSERT_EQ(limited.status, 429) << limited.body;
    EXPECT_EQ(answerError(limited.body), "Too many requests");
    for (const WebAnswer* answer : {&posted, &limited}) {
        std::string reset;
        std::int64_t endsAt = 0;
        ASSERT_TRUE(answer->header("X-RateLimit-Reset", reset)) << answer->status;
        ASSERT_TRUE(parseIsoTimeMillis(reset, endsAt)) << reset;
        EXPECT_GT(endsAt, before + 55 * 1000) << reset;
        EXPECT_LT(endsAt, nowMillis() + 61 * 1000) << reset;
    }
}

// The refusals as the server words them, for the client's callers to show.
TEST_F(MastodonSandboxTest, RefusalsCarryTheServersWords) {
    const std::string tooLong(501, 'x');
    const struct {
        const char* name;
        std::function<WebAnswer(MastodonClient&)> call;
        long status;
        std::string error;
    } cases[] = {
        {"too long", [&](MastodonClient& c) { return c.postStatus(tooLong, "k1"); }, 422,
         "Validation failed: Text character limit of 500 exceeded"},
        {"blank", [](MastodonClient& c) { return c.postStatus(" ", "k2"); }, 422,
         "Validation failed: Text can't be blank"},
        {"unknown token",
         [](MastodonClient& c) {
             c.setToken("no-such-token");
             return c.postStatus("x", "k3");
         },
         401, "The access token is invalid"},
        {"no token",
         [](MastodonClient& c) {
             c.setToken("");
             return c.verifyCredentials();
         },
         401, "The access token is invalid"},
        {"a code never issued",
         [](MastodonClient& c) { return c.exchangeCode(issuedApp(), "no-such-code"); }, 400,
         "invalid_grant: The provided authorization grant is invalid, expired, revoked, does not "
         "match the redirection URI used in the authorization request, or was issued to another "
         "client."},
        {"a wrong secret",
         [](MastodonClient& c) {
             return c.exchangeCode({issuedApp().clientId, "wrong"}, "no-such-code");
         },
         401,
         "invalid_client: Client authentication failed due to unknown client, no client "
         "authentication included, or unsupported authentication method."},
    };
    for (const auto& c : cases) {
        useIssuedToken();
        const WebAnswer answer = c.call(client);
        ASSERT_TRUE(answer.carriedOut) << c.name << ": " << answer.error;
        EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.body;
        EXPECT_EQ(answerError(answer.body), c.error) << c.name;
    }
}

TEST_F(MastodonSandboxTest, ADisabledLoginIsRefused) {
    useIssuedToken();
    ASSERT_TRUE(sandbox().setMode({{"mastodon", {{"account", "disabled"}}}}));
    for (const WebAnswer& answer : {client.verifyCredentials(), client.postStatus("x", "k")}) {
        EXPECT_EQ(answer.status, 403) << answer.body;
        EXPECT_EQ(answerError(answer.body), "Your login is currently disabled");
    }
}

// The 4.3 server and an older one: limits, and whether the profile scope may be asked for.
TEST_F(MastodonSandboxTest, EachServerSaysWhatItOffers) {
    const struct {
        std::string host;
        std::size_t maxCharacters;
        bool profileScope;
    } cases[] = {{"mastodon.social", 500, true}, {"mastodon.example.org", 1000, false}};
    for (const auto& c : cases) {
        client.setServer(c.host);
        const WebAnswer instance = client.instance();
        ASSERT_EQ(instance.status, 200) << c.host << ": " << instance.error;
        MastodonTextLimit limit;
        ASSERT_TRUE(parseTextLimit(instance.body, limit)) << c.host;
        EXPECT_EQ(limit.maxCharacters, c.maxCharacters) << c.host;
        EXPECT_EQ(limit.charactersPerUrl, 23u) << c.host;
        const WebAnswer metadata = client.authorizationServerMetadata();
        ASSERT_TRUE(metadata.carriedOut) << c.host;
        EXPECT_EQ(metadata.status, c.profileScope ? 200 : 404) << c.host;
        EXPECT_EQ(serverOffersProfileScope(metadata.body), c.profileScope) << c.host;
    }
}

// A revoked token is refused from then on; revoking it again is still fine.
TEST_F(MastodonSandboxTest, ARevokedTokenIsRefused) {
    useIssuedToken();
    ASSERT_EQ(client.verifyCredentials().status, 200);
    for (int i = 0; i < 2; ++i) {
        const WebAnswer revoked = client.revoke(issuedApp(), issued().at("access_token"));
        EXPECT_EQ(revoked.status, 200) << revoked.body;
        EXPECT_EQ(revoked.body, "{}");
    }
    const WebAnswer refused = client.postStatus("x", "k");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(answerError(refused.body), "The access token is invalid");
}

// A login from the start on each server, as the plug-in makes it: the app registered with the
// scopes the server offers, the user's approval in the browser, the code for a token; then the
// account, its limit, a post retried with its key, and the logout.
TEST_F(MastodonSandboxTest, LoginPostAndLogoutOnEachServer) {
    const struct {
        std::string host;
        std::size_t maxCharacters;
    } servers[] = {{"mastodon.social", 500}, {"mastodon.example.org", 1000}};
    for (const auto& server : servers) {
        SCOPED_TRACE(server.host);
        ASSERT_TRUE(sandbox().reset());
        client.setServer(server.host);
        client.setToken("");
        const bool profile = serverOffersProfileScope(client.authorizationServerMetadata().body);
        const std::string scopes =
            std::string("write:statuses ") + (profile ? "profile" : "read:accounts");

        const WebAnswer registered = client.registerApp("Trackpost", scopes, "");
        ASSERT_EQ(registered.status, 200) << registered.body;
        MastodonApp app;
        ASSERT_TRUE(parseApp(registered.body, app));
        const std::string code = approveMastodonInBrowser(client.authorizeUrl(app, scopes));
        ASSERT_FALSE(code.empty());
        const WebAnswer issued = client.exchangeCode(app, code);
        ASSERT_EQ(issued.status, 200) << issued.body;
        std::string token;
        ASSERT_TRUE(parseAccessToken(issued.body, token));
        EXPECT_EQ(json::parse(issued.body).at("scope"), scopes);
        // A code is good for one token only.
        const WebAnswer reused = client.exchangeCode(app, code);
        EXPECT_EQ(reused.status, 400);
        EXPECT_EQ(answerError(reused.body).rfind("invalid_grant", 0), 0u) << reused.body;

        client.setToken(token);
        std::string name;
        ASSERT_TRUE(parseAccountName(client.verifyCredentials().body, name));
        EXPECT_EQ(name, "djsandbox");
        MastodonTextLimit limit;
        ASSERT_TRUE(parseTextLimit(client.instance().body, limit));
        EXPECT_EQ(limit.maxCharacters, server.maxCharacters);

        const std::string text = "Now playing Daft Punk \xE2\x80\x93 One More Time #live";
        const WebAnswer posted = client.postStatus(text, "set-1-track-1", "en");
        const WebAnswer retried = client.postStatus(text, "set-1-track-1", "en");
        ASSERT_EQ(posted.status, 200) << posted.body;
        ASSERT_EQ(retried.status, 200) << retried.body;
        EXPECT_EQ(statusId(retried), statusId(posted));
        const json stored = sandbox().timeline(server.host);
        ASSERT_EQ(stored.size(), 1u) << stored.dump();
        EXPECT_EQ(stored[0].at("text"), text);
        EXPECT_EQ(stored[0].at("id"), statusId(posted));
        EXPECT_EQ(stored[0].at("idempotency_key"), "set-1-track-1");

        const WebAnswer revoked = client.revoke(app, token);
        EXPECT_EQ(revoked.status, 200) << revoked.body;
        const WebAnswer refused = client.verifyCredentials();
        EXPECT_EQ(refused.status, 401);
        EXPECT_EQ(answerError(refused.body), "The access token is invalid");
        EXPECT_EQ(client.postStatus("after the logout", "set-1-track-2").status, 401);
        EXPECT_EQ(sandbox().timeline(server.host).size(), 1u);
    }
}

// Apps and tokens are each server's own.
TEST_F(MastodonSandboxTest, AnAppIsKnownOnlyOnItsServer) {
    client.setServer("mastodon.example.org");
    MastodonApp app;
    ASSERT_TRUE(parseApp(client.registerApp("Trackpost", "write:statuses", "").body, app));
    client.setServer("mastodon.social");
    EXPECT_EQ(client.exchangeCode(app, "any").status, 401);
    EXPECT_EQ(approveMastodonInBrowser(client.authorizeUrl(app, "write:statuses")), "");

    client.setServer("mastodon.example.org");
    useIssuedToken();
    EXPECT_EQ(client.verifyCredentials().status, 401);
}
