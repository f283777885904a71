// The HTTPS transport against the sandbox's X service through its proxy entrance, with real TLS.
#include "WebClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "sandbox_test_support.h"

using nlohmann::json;
using std::chrono::steady_clock;

namespace {

const std::string USERS_ME = "https://api.twitter.com/2/users/me";
const std::string UPDATE = "https://api.twitter.com/1.1/statuses/update.json";
const std::string UNRELATED_CA = std::string(TRACKPOST_TESTS_DIR) + "/data/unrelated-ca.pem";

WebRequest request(std::string method, std::string url, std::string contentType = "",
                   std::string body = "") {
    WebRequest r;
    r.method = std::move(method);
    r.url = std::move(url);
    r.contentType = std::move(contentType);
    r.body = std::move(body);
    return r;
}

double secondsSince(steady_clock::time_point start) {
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

class WebClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        web.setProxy("127.0.0.1:" + std::to_string(sandbox().port()));
        web.setCaFile(SandboxService::caFile());
    }

    // The log entry of the last request the service received; null when none came.
    static json lastRequest() {
        const json all = serviceRequests();
        return all.empty() ? json() : all.back();
    }

    // Waits until the service has taken the request that meets the queued fault.
    static bool faultTaken(const std::string& verdict) {
        return eventually([&] {
            const json last = lastRequest();
            return !last.is_null() && last.at("verdict") == verdict;
        });
    }

    WebClient web;
};

}  // namespace

TEST(FormEncode, PercentEncodesEveryByteButTheUnreserved) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* name;
        Fields fields;
        std::string encoded;
    } cases[] = {
        {"nothing", {}, ""},
        {"unreserved kept", {{"AZaz09-._~", "AZaz09-._~"}}, "AZaz09-._~=AZaz09-._~"},
        {"blank as %20, not +",
         {{"status", "Now playing A - B"}},
         "status=Now%20playing%20A%20-%20B"},
        {"separators of the form itself", {{"a&b=c", "d=e&f"}}, "a%26b%3Dc=d%3De%26f"},
        {"plus, percent, slash, colon", {{"k", "+%/:"}}, "k=%2B%25%2F%3A"},
        {"reserved marks", {{"k", "!*'();@$,?#[]"}}, "k=%21%2A%27%28%29%3B%40%24%2C%3F%23%5B%5D"},
        {"UTF-8 bytes in upper-case hex",
         {{"k", "caf\xC3\xA9 \xF0\x9F\x8E\xB5"}},
         "k=caf%C3%A9%20%F0%9F%8E%B5"},
        {"line breaks and a NUL", {{"k", std::string("a\r\nb\0c", 6)}}, "k=a%0D%0Ab%00c"},
        {"empty name and value", {{"", ""}}, "="},
        {"fields in order", {{"b", "2"}, {"a", "1"}, {"b", "3"}}, "b=2&a=1&b=3"},
    };
    for (const auto& c : cases) EXPECT_EQ(formEncode(c.fields), c.encoded) << c.name;
}

TEST(ServerName, OnlyPlainHostsWithAnOptionalPort) {
    const char* hosts[] = {"mastodon.social",       "mastodon.example.org", "MASTODON.Social",
                           "xn--bcher-kva.example", "localhost:8443",       "10.0.0.1"};
    for (const char* host : hosts) EXPECT_TRUE(isServerName(host)) << host;
    const char* notHosts[] = {"",
                              "https://mastodon.social",
                              "mastodon.social/",
                              "mastodon.social/@djsandbox",
                              "djsandbox@mastodon.social",
                              "@djsandbox@mastodon.social",
                              "mastodon.social?x=1",
                              "mastodon.social#top",
                              "mastodon social",
                              "mastodon.social\r\nHost: evil.example",
                              "mastodon.social:",
                              "mastodon.social:443:443",
                              "mastodon.social:123456",
                              "mastodon.social:http",
                              ":443",
                              ".mastodon.social",
                              "-mastodon.social",
                              "m\xC3\xA4stodon.social"};
    for (const char* host : notHosts) EXPECT_FALSE(isServerName(host)) << host;
}

// An unsigned request is answered 401 with a JSON problem, and the answer's fields and Date.
TEST_F(WebClientTest, AnAnswerComesWithItsStatusBodyFieldsAndDate) {
    const WebAnswer answer = web.perform(request("GET", USERS_ME));
    ASSERT_TRUE(answer.carriedOut) << answer.error;
    EXPECT_EQ(answer.status, 401);
    EXPECT_EQ(json::parse(answer.body).at("title"), "Unauthorized");
    EXPECT_TRUE(answer.error.empty());

    std::string type;
    EXPECT_TRUE(answer.header("CONTENT-type", type));
    EXPECT_EQ(type.rfind("application/json", 0), 0u) << type;
    std::string server;
    EXPECT_TRUE(answer.header("Server", server));
    EXPECT_EQ(server, "trackpost-sandbox");  // trimmed
    for (const auto& field : answer.headers)
        EXPECT_EQ(field.first.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);

    ASSERT_TRUE(answer.hasDate);
    EXPECT_NEAR(static_cast<double>(answer.dateSeconds), static_cast<double>(std::time(nullptr)),
                60.0);

    const json sent = lastRequest();
    EXPECT_EQ(sent.at("method"), "GET");
    EXPECT_EQ(sent.at("url"), USERS_ME);
    EXPECT_EQ(sent.at("headers").at("Host"), "api.twitter.com");
}

// What the request says is what the service receives, and nothing libcurl would add on its own.
TEST_F(WebClientTest, RequestsArriveAsSent) {
    const std::string long_body(2 * 1024 * 1024, 'x');
    const struct {
        const char* name;
        WebRequest req;
        std::vector<std::pair<std::string, std::string>> headers;
    } cases[] = {
        {"form post",
         request("POST", UPDATE, "application/x-www-form-urlencoded", "status=a%20b"),
         {{"Authorization", "Bearer abc"}, {"Idempotency-Key", "k-1"}}},
        {"json post", request("POST", UPDATE, "application/json", R"({"text":"hi"})"), {}},
        {"empty post", request("POST", UPDATE), {}},
        {"long post", request("POST", UPDATE, "text/plain", long_body), {}},
        {"delete", request("DELETE", "https://api.twitter.com/1.1/statuses/destroy/42.json"), {}},
        {"get with a query", request("GET", USERS_ME + "?user.fields=id%2Cname"), {}},
    };
    for (const auto& c : cases) {
        WebRequest req = c.req;
        req.headers = c.headers;
        const WebAnswer answer = web.perform(req);
        ASSERT_TRUE(answer.carriedOut) << c.name << ": " << answer.error;
        const json sent = lastRequest();
        ASSERT_FALSE(sent.is_null()) << c.name;
        EXPECT_EQ(sent.at("method"), req.method) << c.name;
        EXPECT_EQ(sent.at("url"), req.url) << c.name;
        EXPECT_EQ(sent.at("body"), req.body) << c.name;
        const json& fields = sent.at("headers");
        if (req.contentType.empty())
            EXPECT_FALSE(fields.contains("Content-Type")) << c.name;
        else
            EXPECT_EQ(fields.value("Content-Type", ""), req.contentType) << c.name;
        EXPECT_FALSE(fields.contains("Expect")) << c.name;
        for (const auto& [name, value] : c.headers)
            EXPECT_EQ(fields.value(name, ""), value) << c.name << ": " << name;
    }
}

// Keep-alive: one tunnel carries one request after the other.
TEST_F(WebClientTest, OneConnectionServesSuccessiveRequests) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(web.perform(request("GET", USERS_ME)).carriedOut);
    const json all = serviceRequests();
    ASSERT_EQ(all.size(), 3u);
    for (const json& entry : all) EXPECT_EQ(entry.at("connection"), all[0].at("connection"));
    int tunnels = 0;
    for (const json& entry : sandbox().log()) tunnels += entry.at("method") == "CONNECT";
    EXPECT_EQ(tunnels, 1);
}

// Requests that can't go out as they are, and addresses that are not https, are never sent.
TEST_F(WebClientTest, WhatCantBeSentSafelyIsNotSent) {
    const auto withHeader = [](std::string name, std::string value) {
        WebRequest r = request("GET", USERS_ME);
        r.headers.emplace_back(std::move(name), std::move(value));
        return r;
    };
    const struct {
        const char* name;
        WebRequest req;
    } cases[] = {
        {"plain http", request("GET", "http://api.twitter.com/2/users/me")},
        {"a file", request("GET", "file:///etc/passwd")},
        {"ftp", request("GET", "ftp://api.twitter.com/")},
        {"no address", request("GET", "")},
        {"another method", request("PUT", USERS_ME, "text/plain", "x")},
        {"a body without its type", request("POST", UPDATE, "", "status=x")},
        {"a GET with a body", request("GET", USERS_ME, "text/plain", "x")},
        {"a line break in a value", withHeader("Authorization", "Bearer a\r\nX-Injected: 1")},
        {"a line break in a name", withHeader("X-A\nX-B", "1")},
        {"a colon in a name", withHeader("X-A: 1", "2")},
        {"an empty name", withHeader("", "1")},
        {"a line break in the type", request("POST", UPDATE, "text/plain\r\nX-Injected: 1", "x")},
    };
    for (const auto& c : cases) {
        const WebAnswer answer = web.perform(c.req);
        EXPECT_FALSE(answer.carriedOut) << c.name;
        EXPECT_EQ(answer.status, 0) << c.name;
        EXPECT_FALSE(answer.error.empty()) << c.name;
    }
    EXPECT_TRUE(sandbox().log().empty()) << sandbox().log().dump();
}

// The peer is verified on every new connection: a live one made with another CA is not reused,
// and the system's store does not know the sandbox's CA.
TEST_F(WebClientTest, OnlyTheGivenCaIsTrusted) {
    ASSERT_TRUE(web.perform(request("GET", USERS_ME)).carriedOut);
    for (const std::string& ca : {UNRELATED_CA, std::string()}) {
        web.setCaFile(ca);
        const WebAnswer refused = web.perform(request("GET", USERS_ME));
        EXPECT_FALSE(refused.carriedOut) << ca;
        EXPECT_NE(refused.error.find("certificate"), std::string::npos) << refused.error;
        EXPECT_TRUE(refused.headers.empty());
    }
    EXPECT_EQ(serviceRequests().size(), 1u);
    web.setCaFile(SandboxService::caFile());
    EXPECT_TRUE(web.perform(request("GET", USERS_ME)).carriedOut);
}

// Each answer has its own fields: none of the proxy's CONNECT answer, none of an earlier answer,
// none of an answer cut short.
TEST_F(WebClientTest, FieldsAreTheLastAnswersOnly) {
    std::string value;
    ASSERT_TRUE(sandbox().queueFault(
        {{"status", 429}, {"body", R"({"title":"Too Many Requests"})"}, {"reset_in", 30}}));
    const WebAnswer limited = web.perform(request("GET", USERS_ME));
    ASSERT_TRUE(limited.carriedOut) << limited.error;
    EXPECT_EQ(limited.status, 429);
    EXPECT_TRUE(limited.header("x-rate-limit-reset", value));
    EXPECT_FALSE(limited.header("Proxy-Agent", value));

    const WebAnswer next = web.perform(request("GET", USERS_ME));
    ASSERT_TRUE(next.carriedOut);
    EXPECT_EQ(next.status, 401);
    EXPECT_FALSE(next.header("x-rate-limit-reset", value));

    ASSERT_TRUE(sandbox().queueFault({{"truncate", true}}));
    const WebAnswer cut = web.perform(request("GET", USERS_ME));
    EXPECT_FALSE(cut.carriedOut);
    EXPECT_TRUE(cut.headers.empty());
    EXPECT_FALSE(cut.hasDate);

    // A new tunnel: the proxy's answer to it is not the service's.
    const WebAnswer fresh = web.perform(request("GET", USERS_ME));
    ASSERT_TRUE(fresh.carriedOut);
    EXPECT_FALSE(fresh.header("Proxy-Agent", value));
}

// A tunnel the proxy refuses is no answer, and its fields are nobody's.
TEST_F(WebClientTest, AProxysRefusalIsNotAnAnswer) {
    const WebAnswer answer = web.perform(request("GET", "https://unknown.example/"));
    EXPECT_FALSE(answer.carriedOut);
    EXPECT_EQ(answer.status, 0);
    EXPECT_TRUE(answer.headers.empty());
    EXPECT_TRUE(answer.body.empty());
}

// Answers that don't come whole are not carried out, and their partial bodies are dropped; a body
// up to the bound is taken whole, one byte more is not.
TEST_F(WebClientTest, AnswersThatDontComeWholeAreNotCarriedOut) {
    const long bound = static_cast<long>(WebClient::MAX_BODY_BYTES);
    const struct {
        const char* name;
        json fault;
        bool carriedOut;
    } cases[] = {
        {"cut short", {{"truncate", true}}, false},
        {"reset", {{"reset", true}}, false},
        {"over the bound", {{"large", bound + 1}}, false},
        {"at the bound", {{"large", bound}}, true},
        {"not JSON, but whole", {{"garbage", true}}, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sandbox().queueFault(c.fault)) << c.name;
        const WebAnswer answer = web.perform(request("GET", USERS_ME));
        EXPECT_EQ(answer.carriedOut, c.carriedOut) << c.name << ": " << answer.error;
        if (c.carriedOut) {
            EXPECT_EQ(answer.status, 200) << c.name;
            EXPECT_FALSE(answer.body.empty()) << c.name;
        } else {
            EXPECT_EQ(answer.status, 0) << c.name;
            EXPECT_TRUE(answer.body.empty()) << c.name;
            EXPECT_FALSE(answer.error.empty()) << c.name;
        }
    }
    ASSERT_TRUE(sandbox().queueFault({{"large", bound}}));
    EXPECT_EQ(web.perform(request("GET", USERS_ME)).body.size(), WebClient::MAX_BODY_BYTES);
}

// The stall limit counts from the last byte: the 6 bytes the stalled answer sends first do not
// stretch it.
TEST_F(WebClientTest, StalledAnswerFailsAtTheStallLimit) {
    EXPECT_EQ(web.stallLimit(), WebClient::STALL_LIMIT_SECONDS);
    web.setStallLimit(0);
    EXPECT_EQ(web.stallLimit(), 1) << "never unlimited";
    web.setStallLimit(2);
    ASSERT_TRUE(sandbox().queueFault({{"stall", 60}}));
    const auto start = steady_clock::now();
    const WebAnswer answer = web.perform(request("GET", USERS_ME));
    const double took = secondsSince(start);
    EXPECT_FALSE(answer.carriedOut);
    EXPECT_TRUE(answer.body.empty());
    EXPECT_NE(answer.error.find("the last 2 seconds"), std::string::npos) << answer.error;
    EXPECT_GE(took, 2.0);
    EXPECT_LT(took, 10.0);
    // The next request does not wait for the stalled connection.
    EXPECT_TRUE(web.perform(request("GET", USERS_ME)).carriedOut);
}

// An owner that must stop ends a transfer at once from another thread, whether the answer stalls
// or the proxy never answers; later transfers end before they start, until allowed again.
TEST_F(WebClientTest, AbortEndsATransferAtOnceAndEveryLaterOne) {
    const struct {
        const char* name;
        std::function<void()> block;
        std::function<bool()> blocked;
    } cases[] = {
        {"stalled answer",
         [] {
             ASSERT_TRUE(sandbox().queueFault({{"stall", 60}}));
         },
         [] { return faultTaken("fault stall"); }},
        {"unanswered tunnel",
         [] {
             ASSERT_TRUE(sandbox().setMode({{"black_hole", true}}));
         },
         [] {
             return eventually([] {
                 const json log = sandbox().log();
                 return !log.empty() && log.back().at("verdict") == "fault black-hole";
             });
         }},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sandbox().reset());
        WebClient fresh;  // a new connection for each case
        fresh.setProxy("127.0.0.1:" + std::to_string(sandbox().port()));
        fresh.setCaFile(SandboxService::caFile());
        c.block();
        auto pending =
            std::async(std::launch::async, [&] { return fresh.perform(request("GET", USERS_ME)); });
        ASSERT_TRUE(c.blocked()) << c.name;
        const auto start = steady_clock::now();
        fresh.abortTransfers();
        ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.name;
        EXPECT_LT(secondsSince(start), 0.5) << c.name;
        const WebAnswer aborted = pending.get();
        EXPECT_FALSE(aborted.carriedOut) << c.name;
        EXPECT_EQ(aborted.error, "transfer aborted") << c.name;
        ASSERT_TRUE(sandbox().setMode({{"black_hole", false}}));

        const size_t before = sandbox().log().size();
        EXPECT_FALSE(fresh.perform(request("GET", USERS_ME)).carriedOut) << c.name;
        EXPECT_EQ(sandbox().log().size(), before) << c.name;
        fresh.allowTransfers();
        EXPECT_TRUE(fresh.perform(request("GET", USERS_ME)).carriedOut) << c.name;
    }
}
