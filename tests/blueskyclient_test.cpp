// The Bluesky client: its readings of the servers' answers, the records and keys it builds, and
// its calls against the sandbox's Bluesky servers.
#include "BlueskyClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "MastodonClient.h"  // parseIsoTimeMillis, to read back the times written
#include "eventually.h"
#include "sandbox_test_support.h"

using nlohmann::json;

namespace {

constexpr const char* ENTRYWAY = BlueskyClient::ENTRYWAY;
const char PDS[] = "morel.us-east.host.bsky.network";
const char DID[] = "did:plc:sandboxdj7x2kq4mfw3ntlpbv";

// A session as the entryway answers createSession, with one change.
std::string session(const std::function<void(json&)>& change = [](json&) {}) {
    json body = {
        {"did", DID},
        {"handle", "djsandbox.bsky.social"},
        {"email", "dj@sandbox.example"},
        {"emailConfirmed", true},
        {"accessJwt", "eyJhbGciOiJIUzI1NiJ9.eyJzY29wZSI6ImNvbS5hdHByb3RvLmFwcFBhc3MifQ.a1"},
        {"refreshJwt", "eyJhbGciOiJIUzI1NiJ9.eyJzY29wZSI6ImNvbS5hdHByb3RvLnJlZnJlc2gifQ.r1"},
        {"didDoc",
         {{"@context", {"https://www.w3.org/ns/did/v1"}},
          {"id", DID},
          {"alsoKnownAs", {"at://djsandbox.bsky.social"}},
          {"verificationMethod", json::array()},
          {"service",
           {{{"id", "#atproto_pds"},
             {"type", "AtprotoPersonalDataServer"},
             {"serviceEndpoint", std::string("https://") + PDS}}}}}},
        {"active", true}};
    change(body);
    return body.dump();
}

json& pdsService(json& body) {
    return body["didDoc"]["service"][0];
}

}  // namespace

TEST(BlueskyAnswers, ParseSessionReadsTokensAndThePds) {
    BlueskySession read;
    ASSERT_TRUE(parseSession(session(), ENTRYWAY, read));
    EXPECT_EQ(read.did, DID);
    EXPECT_EQ(read.handle, "djsandbox.bsky.social");
    EXPECT_EQ(read.accessJwt.substr(read.accessJwt.size() - 3), ".a1");
    EXPECT_EQ(read.refreshJwt.substr(read.refreshJwt.size() - 3), ".r1");
    EXPECT_EQ(read.pds, PDS);

    const struct {
        const char* name;
        std::string body;
        std::string pds;
    } cases[] = {
        {"a refreshed session: no e-mail", session([](json& b) {
             b.erase("email");
             b.erase("emailConfirmed");
         }),
         PDS},
        {"the service's id with the DID",
         session([](json& b) { pdsService(b)["id"] = std::string(DID) + "#atproto_pds"; }), PDS},
        {"another service first", session([](json& b) {
             json& services = b["didDoc"]["service"];
             services.insert(services.begin(), {{"id", "#bsky_notif"},
                                                {"type", "BskyNotificationService"},
                                                {"serviceEndpoint", "https://api.bsky.app"}});
         }),
         PDS},
        {"a port and a trailing slash", session([](json& b) {
             pdsService(b)["serviceEndpoint"] = "https://pds.example.org:2583/";
         }),
         "pds.example.org:2583"},
        // A self-hosted server that leaves the didDoc out writes where it answered.
        {"no didDoc", session([](json& b) { b.erase("didDoc"); }), ENTRYWAY},
        {"didDoc not an object", session([](json& b) { b["didDoc"] = "x"; }), ENTRYWAY},
        {"no services", session([](json& b) { b["didDoc"].erase("service"); }), ENTRYWAY},
        {"services not a list", session([](json& b) { b["didDoc"]["service"] = json::object(); }),
         ENTRYWAY},
        {"a service of another type",
         session([](json& b) { pdsService(b)["type"] = "BskyFeedGenerator"; }), ENTRYWAY},
        {"another service's id", session([](json& b) { pdsService(b)["id"] = "#atproto_labeler"; }),
         ENTRYWAY},
        {"plain http",
         session([](json& b) { pdsService(b)["serviceEndpoint"] = std::string("http://") + PDS; }),
         ENTRYWAY},
        {"an endpoint with a path", session([](json& b) {
             pdsService(b)["serviceEndpoint"] = "https://evil.example/" + std::string(PDS);
         }),
         ENTRYWAY},
        {"an endpoint with a user", session([](json& b) {
             pdsService(b)["serviceEndpoint"] = std::string("https://me@") + PDS;
         }),
         ENTRYWAY},
        {"an endpoint that is no string",
         session([](json& b) { pdsService(b)["serviceEndpoint"] = json::array({PDS}); }), ENTRYWAY},
    };
    for (const auto& c : cases) {
        BlueskySession got;
        EXPECT_TRUE(parseSession(c.body, ENTRYWAY, got)) << c.name;
        EXPECT_EQ(got.pds, c.pds) << c.name;
        EXPECT_EQ(got.did, DID) << c.name;
    }
}

TEST(BlueskyAnswers, ParseSessionRefusesWhatIsNoSession) {
    const struct {
        const char* name;
        std::string body;
        std::string server;
    } cases[] = {
        {"no access token", session([](json& b) { b.erase("accessJwt"); }), ENTRYWAY},
        {"an empty refresh token", session([](json& b) { b["refreshJwt"] = ""; }), ENTRYWAY},
        {"no DID", session([](json& b) { b.erase("did"); }), ENTRYWAY},
        {"a handle that is no string", session([](json& b) { b["handle"] = 7; }), ENTRYWAY},
        {"an error",
         R"({"error":"AuthenticationRequired","message":"Invalid identifier or password"})",
         ENTRYWAY},
        {"a list", "[" + session() + "]", ENTRYWAY},
        {"cut short", session().substr(0, 120), ENTRYWAY},
        {"not JSON", "<html></html>", ENTRYWAY},
        {"empty", "", ENTRYWAY},
        {"no usable PDS and no server name", session([](json& b) { b.erase("didDoc"); }),
         "bsky.social/x"},
    };
    for (const auto& c : cases) {
        BlueskySession kept{"did", "handle", "a", "r", "pds"};
        EXPECT_FALSE(parseSession(c.body, c.server, kept)) << c.name;
        EXPECT_EQ(kept.did, "did") << c.name;
        EXPECT_EQ(kept.pds, "pds") << c.name;
    }
}

TEST(BlueskyAnswers, ParseErrorGivesNameAndMessage) {
    const struct {
        std::string body;
        std::string error, message;
    } cases[] = {
        {R"({"error":"ExpiredToken","message":"Token has expired"})", "ExpiredToken",
         "Token has expired"},
        {R"({"error":"InvalidRecord","message":"Invalid app.bsky.feed.post record: Record/text must not be longer than 300 graphemes"})",
         "InvalidRecord",
         "Invalid app.bsky.feed.post record: Record/text must not be longer than 300 graphemes"},
        {R"({"error":"RateLimitExceeded"})", "RateLimitExceeded", ""},
        {R"({"message":"Internal Server Error"})", "", "Internal Server Error"},
        {R"({"error":{"name":"x"},"message":7})", "", ""},
        {R"({"uri":"at://did:plc:x/app.bsky.feed.post/3k"})", "", ""},
        {"<html><h1>502 Bad Gateway</h1></html>", "", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const BlueskyError e = parseError(c.body);
        EXPECT_EQ(e.error, c.error) << c.body;
        EXPECT_EQ(e.message, c.message) << c.body;
    }
}

TEST(BlueskyRecords, PostRecordWritesTextLanguagesAndFacets) {
    const std::string text = "Now playing A & B \xE2\x80\x93 \"C\" #live https://spin.example/x";
    const json record =
        json::parse(postRecord(text, "2026-12-11T07:05:00.123Z", {"en", "de"},
                               {{26, 31, RecordFacet::Kind::Tag, "live"},
                                {32, 54, RecordFacet::Kind::Link, "https://spin.example/x"}}));
    const json expected = {
        {"$type", "app.bsky.feed.post"},
        {"text", text},
        {"createdAt", "2026-12-11T07:05:00.123Z"},
        {"langs", {"en", "de"}},
        {"facets",
         {{{"index", {{"byteStart", 26}, {"byteEnd", 31}}},
           {"features", {{{"$type", "app.bsky.richtext.facet#tag"}, {"tag", "live"}}}}},
          {{"index", {{"byteStart", 32}, {"byteEnd", 54}}},
           {"features",
            {{{"$type", "app.bsky.richtext.facet#link"}, {"uri", "https://spin.example/x"}}}}}}}};
    EXPECT_EQ(record, expected) << record.dump();
    EXPECT_EQ(text.substr(26, 5), "#live");
    EXPECT_EQ(text.substr(32), "https://spin.example/x");

    // Neither languages nor facets: neither key.
    const json plain = json::parse(postRecord("x", "2026-12-11T07:05:00.000Z", {}, {}));
    EXPECT_EQ(plain, json({{"$type", "app.bsky.feed.post"},
                           {"text", "x"},
                           {"createdAt", "2026-12-11T07:05:00.000Z"}}));

    // Bytes that are no UTF-8 are replaced, not thrown on.
    const json replaced =
        json::parse(postRecord("a\xFF"
                               "b",
                               "2026-12-11T07:05:00.000Z", {}, {}));
    EXPECT_EQ(replaced.at("text"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(BlueskyRecords, Rfc3339MillisWritesUtcWithMilliseconds) {
    const struct {
        std::int64_t millis;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1796972700123, "2026-12-11T07:05:00.123Z"},
        {1796972700000, "2026-12-11T07:05:00.000Z"},
        {1709208000007, "2024-02-29T12:00:00.007Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {1798761599999, "2026-12-31T23:59:59.999Z"},
        {1798761600000, "2027-01-01T00:00:00.000Z"},
        {4107542400000, "2100-03-01T00:00:00.000Z"},  // 2100 has no leap day
        {253402300799999, "9999-12-31T23:59:59.999Z"},
        // A clock outside four-digit years is taken as that end.
        {-1, "1970-01-01T00:00:00.000Z"},
        {253402300800000, "9999-12-31T23:59:59.999Z"},
        {INT64_MIN, "1970-01-01T00:00:00.000Z"},
        {INT64_MAX, "9999-12-31T23:59:59.999Z"},
    };
    for (const auto& c : cases) EXPECT_EQ(rfc3339Millis(c.millis), c.text) << c.millis;

    // Read back by a parser of its own, a few hundred days a year apart at odd hours.
    for (std::int64_t millis = 0; millis < 253402300799999; millis += 31'622'400'123 + 3'599'007) {
        std::int64_t read = -1;
        ASSERT_TRUE(parseIsoTimeMillis(rfc3339Millis(millis), read)) << rfc3339Millis(millis);
        ASSERT_EQ(read, millis) << rfc3339Millis(millis);
    }
}

TEST(BlueskyRecords, TidsAreThirteenSortableCharacters) {
    // The record key of the AT Protocol's documentation, and its time and clock id.
    EXPECT_EQ(newTid(1688137381887007, 6), "3jzfcijpj2z2a");
    EXPECT_EQ(newTid(0, 0), "2222222222222");
    EXPECT_EQ(newTid((std::uint64_t{1} << 53) - 1, 1023), "bzzzzzzzzzzzz");
    // Bits past the 53 of the time and the 10 of the clock id are dropped.
    EXPECT_EQ(newTid(std::uint64_t{1} << 53 | 5, 1024 + 6), newTid(5, 6));

    const std::string alphabet = "234567abcdefghijklmnopqrstuvwxyz";
    const std::uint64_t now = 1796972700123456;
    std::string previous;
    for (std::uint64_t micros : {now - 1'000'000, now - 1, now, now + 1, now + 86'400'000'000}) {
        for (std::uint32_t clock : {0u, 1u, 511u, 1023u}) {
            const std::string tid = newTid(micros, clock);
            ASSERT_EQ(tid.size(), 13u) << tid;
            EXPECT_EQ(tid.find_first_not_of(alphabet), std::string::npos) << tid;
            EXPECT_LT(alphabet.find(tid[0]), 8u) << "top bit 0: " << tid;
            EXPECT_LT(previous, tid) << "later keys sort after earlier ones";
            previous = tid;
        }
    }
}

TEST(BlueskyRecords, AppPasswordsAreFourGroupsOfFour) {
    const struct {
        const char* text;
        bool app;
    } cases[] = {
        {"sbx2-dj4k-7mfw-qp3n", true},         {"abcd-efgh-ijkl-mnop", true},
        {"0000-0000-0000-0000", true},         {"spin-the-decks", false},
        {"SBX2-DJ4K-7MFW-QP3N", false},        {"sbx2dj4k7mfwqp3n", false},
        {"sbx2-dj4k-7mfw-qp3n ", false},       {" sbx2-dj4k-7mfw-qp3n", false},
        {"sbx2-dj4k-7mfw-qp3", false},         {"sbx2-dj4k-7mfw-qp3n-", false},
        {"sbx2_dj4k_7mfw_qp3n", false},        {"sbx-2dj4k-7mfw-qp3n", false},
        {"sbx2-dj4k-7mfw-qp3\xC3\xA9", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAppPassword(c.text), c.app) << c.text;
}

// ---------------------------------------------------------------------------------------------
// Against the sandbox

namespace {

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The client against the sandbox's Bluesky servers, through its proxy entrance with its CA.
class BlueskySandboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        ASSERT_TRUE(SandboxService::credentials().contains("bluesky"))
            << "the sandbox has no Bluesky account";
        web.setProxy("127.0.0.1:" + std::to_string(sandbox().port()));
        web.setCaFile(SandboxService::caFile());
    }

    static std::string account(const char* key) {
        return SandboxService::credentials().at("bluesky").at(key);
    }

    // A session made at the entryway with the app password.
    BlueskySession login() {
        const WebAnswer answer =
            client.createSession(ENTRYWAY, account("handle"), account("app_password"));
        BlueskySession made;
        EXPECT_EQ(answer.status, 200) << answer.error << answer.body;
        EXPECT_TRUE(parseSession(answer.body, ENTRYWAY, made)) << answer.body;
        return made;
    }

    // A key of now, distinct for each call.
    std::string nextKey() { return newTid(nowMillis() * 1000, ++clock_); }

    WebAnswer put(const BlueskySession& s, const std::string& rkey, const std::string& text) {
        return client.putRecord(s.pds, s.accessJwt, s.did, rkey,
                                postRecord(text, rfc3339Millis(nowMillis()), {"en"}, {}));
    }

    static json posts() { return sandbox().timeline(ENTRYWAY); }

    WebClient web;
    BlueskyClient client{web};

  private:
    std::uint32_t clock_ = 0;
};

std::string uriOf(const WebAnswer& answer) {
    const json body = json::parse(answer.body, nullptr, false);
    return body.is_object() ? body.value("uri", "") : "";
}

}  // namespace

// Each call's address, body and token as the server receives them.
TEST_F(BlueskySandboxTest, EveryCallSendsItsRequest) {
    using C = BlueskyClient;
    const std::string record = postRecord("Now playing A & B", "2026-12-11T07:05:00.123Z", {}, {});
    const struct {
        const char* name;
        std::function<WebAnswer(C&)> call;
        std::string nsid;
        json body;  // null: none
        std::string bearer;
    } cases[] = {
        {"createSession",
         [](C& c) { return c.createSession(ENTRYWAY, "djsandbox.bsky.social", "pass \"word\""); },
         "com.atproto.server.createSession",
         {{"identifier", "djsandbox.bsky.social"}, {"password", "pass \"word\""}},
         ""},
        {"refreshSession", [](C& c) { return c.refreshSession(ENTRYWAY, "refresh-1"); },
         "com.atproto.server.refreshSession", nullptr, "refresh-1"},
        {"deleteSession", [](C& c) { return c.deleteSession(ENTRYWAY, "refresh-2"); },
         "com.atproto.server.deleteSession", nullptr, "refresh-2"},
        {"putRecord",
         [&](C& c) { return c.putRecord(ENTRYWAY, "access-1", DID, "3jzfcijpj2z2a", record); },
         "com.atproto.repo.putRecord",
         {{"repo", DID},
          {"collection", "app.bsky.feed.post"},
          {"rkey", "3jzfcijpj2z2a"},
          {"record", json::parse(record)}},
         "access-1"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sandbox().reset());
        const WebAnswer answer = c.call(client);
        ASSERT_TRUE(answer.carriedOut) << c.name << ": " << answer.error;
        const json sent = serviceRequests();
        ASSERT_EQ(sent.size(), 1u) << c.name;
        EXPECT_EQ(sent[0].at("method"), "POST") << c.name;
        EXPECT_EQ(sent[0].at("url"), std::string("https://") + ENTRYWAY + "/xrpc/" + c.nsid)
            << c.name;
        const json& fields = sent[0].at("headers");
        EXPECT_EQ(fields.value("Host", ""), ENTRYWAY) << c.name;
        EXPECT_EQ(fields.value("Authorization", ""), c.bearer.empty() ? "" : "Bearer " + c.bearer)
            << c.name;
        if (c.body.is_null()) {
            EXPECT_EQ(sent[0].at("body"), "") << c.name;
        } else {
            EXPECT_EQ(fields.value("Content-Type", ""), "application/json") << c.name;
            EXPECT_EQ(json::parse(sent[0].at("body").get<std::string>()), c.body) << c.name;
        }
    }
}

// A server name that is not a plain host sends nothing, least of all a password or token; nor
// does a record that is no JSON object.
TEST_F(BlueskySandboxTest, NothingGoesToWhatIsNotAServerName) {
    for (const std::string server :
         {"", "bsky.social/evil", "me@bsky.social", "https://bsky.social", "bsky.social?"}) {
        for (const WebAnswer& answer :
             {client.createSession(server, "djsandbox.bsky.social", "sbx2-dj4k-7mfw-qp3n"),
              client.refreshSession(server, "r"), client.deleteSession(server, "r"),
              client.putRecord(server, "a", DID, "3jzfcijpj2z2a", "{}")}) {
            EXPECT_FALSE(answer.carriedOut) << server;
            EXPECT_FALSE(answer.error.empty()) << server;
        }
    }
    for (const char* record : {"", "[]", "\"text\"", "{\"$type\":"}) {
        EXPECT_FALSE(client.putRecord(ENTRYWAY, "a", DID, "3jzfcijpj2z2a", record).carriedOut)
            << record;
    }
    EXPECT_TRUE(sandbox().log().empty()) << sandbox().log().dump();
}

// The session names the PDS, which takes the post; the entryway refuses it.
TEST_F(BlueskySandboxTest, APostIsWrittenAtTheSessionsPds) {
    const BlueskySession s = login();
    EXPECT_EQ(s.did, account("did"));
    EXPECT_EQ(s.handle, account("handle"));
    EXPECT_EQ(s.pds, account("pds"));
    EXPECT_EQ(s.pds, PDS);

    const std::string text = "Now playing Art\xC3\xAB - Title #live spin.example/set";
    const std::vector<RecordFacet> facets = {
        {26, 31, RecordFacet::Kind::Tag, "live"},
        {32, 48, RecordFacet::Kind::Link, "https://spin.example/set"}};
    const std::string rkey = nextKey();
    const std::string record = postRecord(text, rfc3339Millis(nowMillis()), {"en"}, facets);

    const WebAnswer refused = client.putRecord(ENTRYWAY, s.accessJwt, s.did, rkey, record);
    EXPECT_EQ(refused.status, 400) << refused.body;
    EXPECT_EQ(parseError(refused.body).error, "InvalidRequest");

    const WebAnswer written = client.putRecord(s.pds, s.accessJwt, s.did, rkey, record);
    ASSERT_EQ(written.status, 200) << written.body;
    EXPECT_EQ(uriOf(written), "at://" + s.did + "/app.bsky.feed.post/" + rkey);

    const json stored = posts();
    ASSERT_EQ(stored.size(), 1u) << stored.dump();
    EXPECT_EQ(stored[0].at("text"), text);
    EXPECT_EQ(stored[0].at("rkey"), rkey);
    EXPECT_EQ(stored[0].at("langs"), json({"en"}));
    EXPECT_EQ(stored[0].at("facets"), json::parse(record).at("facets"));
}

// A server that leaves the didDoc out takes the records itself.
TEST_F(BlueskySandboxTest, WithoutADidDocTheAnsweringServerTakesThePost) {
    ASSERT_TRUE(sandbox().setMode({{"bluesky", {{"did_doc", false}}}}));
    const BlueskySession s = login();
    EXPECT_EQ(s.pds, ENTRYWAY);
    const WebAnswer written = put(s, nextKey(), "Now playing A - B");
    EXPECT_EQ(written.status, 200) << written.body;
    EXPECT_EQ(posts().size(), 1u);
}

// Handle in any case, DID and e-mail log in; a handle typed with its '@' and a wrong password
// don't, and neither does a taken-down account.
TEST_F(BlueskySandboxTest, SessionsForEachIdentifier) {
    const std::string appPassword = account("app_password");
    ASSERT_TRUE(isAppPassword(appPassword));
    EXPECT_FALSE(isAppPassword(account("password")));
    const struct {
        std::string identifier, password;
        long status;
        std::string error;
    } cases[] = {
        {account("handle"), appPassword, 200, ""},
        {"DJSandbox.Bsky.Social", appPassword, 200, ""},
        {account("did"), appPassword, 200, ""},
        {account("email"), appPassword, 200, ""},
        {account("handle"), account("password"), 200, ""},
        {"@" + account("handle"), appPassword, 401, "AuthenticationRequired"},
        {account("handle"), "abcd-efgh-ijkl-mnop", 401, "AuthenticationRequired"},
        {"", appPassword, 401, "AuthenticationRequired"},
    };
    for (const auto& c : cases) {
        const WebAnswer answer = client.createSession(ENTRYWAY, c.identifier, c.password);
        EXPECT_EQ(answer.status, c.status) << c.identifier << ": " << answer.body;
        EXPECT_EQ(parseError(answer.body).error, c.error) << c.identifier;
        BlueskySession s;
        EXPECT_EQ(parseSession(answer.body, ENTRYWAY, s), c.status == 200) << c.identifier;
    }

    ASSERT_TRUE(sandbox().setMode({{"bluesky", {{"account", "takendown"}}}}));
    const WebAnswer takenDown = client.createSession(ENTRYWAY, account("handle"), appPassword);
    EXPECT_EQ(takenDown.status, 401) << takenDown.body;
    EXPECT_EQ(parseError(takenDown.body).error, "AccountTakedown");
}

// A refresh hands out new tokens and kills the old refresh token; a deleted session's tokens
// are dead.
TEST_F(BlueskySandboxTest, RefreshRotatesAndDeleteEndsTheSession) {
    const BlueskySession first = login();
    const WebAnswer refreshed = client.refreshSession(ENTRYWAY, first.refreshJwt);
    ASSERT_EQ(refreshed.status, 200) << refreshed.body;
    BlueskySession second;
    ASSERT_TRUE(parseSession(refreshed.body, ENTRYWAY, second)) << refreshed.body;
    EXPECT_EQ(second.did, first.did);
    EXPECT_EQ(second.pds, PDS);
    EXPECT_NE(second.refreshJwt, first.refreshJwt);
    EXPECT_NE(second.accessJwt, first.accessJwt);

    const WebAnswer again = client.refreshSession(ENTRYWAY, first.refreshJwt);
    EXPECT_EQ(again.status, 400) << again.body;
    EXPECT_EQ(parseError(again.body).error, "ExpiredToken");
    const WebAnswer wrongKind = client.refreshSession(ENTRYWAY, second.accessJwt);
    EXPECT_EQ(wrongKind.status, 400) << wrongKind.body;
    EXPECT_EQ(parseError(wrongKind.body).error, "InvalidToken");
    const WebAnswer asAccess =
        client.putRecord(PDS, second.refreshJwt, second.did, nextKey(),
                         postRecord("x", rfc3339Millis(nowMillis()), {}, {}));
    EXPECT_EQ(asAccess.status, 400) << asAccess.body;
    EXPECT_EQ(parseError(asAccess.body).error, "InvalidToken");

    EXPECT_EQ(put(second, nextKey(), "before").status, 200);
    const WebAnswer deleted = client.deleteSession(ENTRYWAY, second.refreshJwt);
    EXPECT_EQ(deleted.status, 200) << deleted.body;
    const WebAnswer after = put(second, nextKey(), "after");
    EXPECT_EQ(after.status, 400) << after.body;
    EXPECT_EQ(parseError(after.body).error, "InvalidToken");
    EXPECT_EQ(client.refreshSession(ENTRYWAY, second.refreshJwt).status, 400);
    EXPECT_EQ(posts().size(), 1u);
}

// An expired access token says so, and a refresh brings the session back.
TEST_F(BlueskySandboxTest, AnExpiredTokenIsRefreshed) {
    const BlueskySession s = login();
    ASSERT_TRUE(sandbox().queueFault({{"host", PDS}, {"expire_token", true}}));
    const WebAnswer expired = put(s, nextKey(), "Now playing A - B");
    EXPECT_EQ(expired.status, 400) << expired.body;
    EXPECT_EQ(parseError(expired.body).error, "ExpiredToken");

    const WebAnswer refreshed = client.refreshSession(s.pds, s.refreshJwt);
    BlueskySession renewed;
    ASSERT_TRUE(parseSession(refreshed.body, s.pds, renewed)) << refreshed.body;
    EXPECT_EQ(put(renewed, nextKey(), "Now playing A - B").status, 200);
    EXPECT_EQ(posts().size(), 1u);
}

// A put under a key already written stores nothing new; the post whose answer was lost is put
// again under its key without a second post.
TEST_F(BlueskySandboxTest, OneKeyPostsOnce) {
    const BlueskySession s = login();
    const std::string rkey = nextKey();
    const std::string record =
        postRecord("Now playing A - B", rfc3339Millis(nowMillis()), {"en"}, {});
    ASSERT_TRUE(sandbox().queueFault({{"host", PDS},
                                      {"path", "/xrpc/com.atproto.repo.putRecord"},
                                      {"stall", 60},
                                      {"stored", true}}));
    auto lost = std::async(std::launch::async, [&] {
        return client.putRecord(s.pds, s.accessJwt, s.did, rkey, record);
    });
    ASSERT_TRUE(eventually([] { return posts().size() == 1; }));
    web.abortTransfers();
    EXPECT_FALSE(lost.get().carriedOut);
    web.allowTransfers();

    const WebAnswer retried = client.putRecord(s.pds, s.accessJwt, s.did, rkey, record);
    ASSERT_EQ(retried.status, 200) << retried.body;
    const WebAnswer third = client.putRecord(s.pds, s.accessJwt, s.did, rkey, record);
    ASSERT_EQ(third.status, 200) << third.body;
    EXPECT_EQ(json::parse(third.body).at("cid"), json::parse(retried.body).at("cid"));
    const json stored = posts();
    ASSERT_EQ(stored.size(), 1u) << stored.dump();
    EXPECT_EQ(uriOf(retried), stored[0].at("uri"));
}

// The records the servers refuse, with their words.
TEST_F(BlueskySandboxTest, RefusedRecordsCarryTheServersWords) {
    const BlueskySession s = login();
    std::string tooLong;
    for (int i = 0; i < 301; ++i) tooLong += "e\xCC\x81";  // 301 graphemes, 903 bytes
    const std::string now = rfc3339Millis(nowMillis());
    const struct {
        const char* name;
        std::string rkey, record, error;
    } cases[] = {
        {"too long", nextKey(), postRecord(tooLong, now, {}, {}), "InvalidRecord"},
        {"a facet past the text", nextKey(),
         postRecord("#live", now, {}, {{0, 6, RecordFacet::Kind::Tag, "live"}}), "InvalidRecord"},
        {"a tag facet on other bytes", nextKey(),
         postRecord("#live", now, {}, {{0, 5, RecordFacet::Kind::Tag, "dead"}}), "InvalidRecord"},
        {"four languages", nextKey(), postRecord("x", now, {"en", "de", "fr", "es"}, {}),
         "InvalidRecord"},
        {"no datetime", nextKey(), postRecord("x", "yesterday", {}, {}), "InvalidRecord"},
        {"a key that is no record key", "no/key", postRecord("x", now, {}, {}), "InvalidRequest"},
    };
    for (const auto& c : cases) {
        const WebAnswer answer = client.putRecord(s.pds, s.accessJwt, s.did, c.rkey, c.record);
        EXPECT_EQ(answer.status, 400) << c.name << ": " << answer.body;
        EXPECT_EQ(parseError(answer.body).error, c.error) << c.name;
        EXPECT_FALSE(parseError(answer.body).message.empty()) << c.name;
    }
    EXPECT_TRUE(posts().empty()) << posts().dump();
}

// Every answer says when its window ends; a 429 also how long to wait.
TEST_F(BlueskySandboxTest, RateLimitedAnswersSayWhenToComeBack) {
    const BlueskySession s = login();
    ASSERT_TRUE(sandbox().setMode({{"bluesky", {{"rate_limit", {{"posts", 1}, {"window", 60}}}}}}));
    const std::int64_t before = nowMillis() / 1000;
    const WebAnswer posted = put(s, nextKey(), "one");
    const WebAnswer limited = put(s, nextKey(), "two");
    ASSERT_EQ(posted.status, 200) << posted.body;
    ASSERT_EQ(limited.status, 429) << limited.body;
    EXPECT_EQ(parseError(limited.body).error, "RateLimitExceeded");
    for (const WebAnswer* answer : {&posted, &limited}) {
        std::string reset, policy;
        ASSERT_TRUE(answer->header("RateLimit-Reset", reset)) << answer->status;
        EXPECT_GE(std::stoll(reset), before + 59) << reset;
        EXPECT_LE(std::stoll(reset), nowMillis() / 1000 + 61) << reset;
        EXPECT_TRUE(answer->header("RateLimit-Policy", policy)) << answer->status;
    }
    std::string retryAfter;
    ASSERT_TRUE(limited.header("Retry-After", retryAfter));
    EXPECT_GT(std::stoll(retryAfter), 0);
    EXPECT_LE(std::stoll(retryAfter), 61);
    EXPECT_EQ(posts().size(), 1u);
}
