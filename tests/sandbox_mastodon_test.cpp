// The test helpers for the sandbox's Mastodon servers: the browser that approves an app, and the
// service's view of each server's statuses.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "sandbox_test_support.h"

using json = nlohmann::json;

namespace {

const std::string OOB = "urn:ietf:wg:oauth:2.0:oob";

std::string authorizeUrl(const std::string& origin, const std::string& clientId,
                         const std::string& scopes) {
    std::string scope;
    for (char c : scopes) scope += c == ' ' ? "%20" : c == ':' ? "%3A" : std::string(1, c);
    return origin + "/oauth/authorize?response_type=code&client_id=" + clientId +
           "&redirect_uri=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob&scope=" + scope;
}

}  // namespace

// On each server: an app (the pre-registered one, a new one on the older server), the code the
// pages show, a token for it once, a status with that token in that server's timeline only.
TEST(SandboxMastodon, ApprovedCodeGivesATokenThatPosts) {
    ASSERT_TRUE(sandbox().reset());
    const auto& creds = SandboxService::credentials().at("mastodon");
    const struct {
        std::string host, scopes;
        bool preRegistered;
    } servers[] = {{"mastodon.social", "write:statuses profile", true},
                   {"mastodon.example.org", "write:statuses read:accounts", false}};
    for (const auto& server : servers) {
        SCOPED_TRACE(server.host);
        const std::string origin = "https://" + server.host;
        SandboxBrowser app;
        std::string clientId = creds.at("client_id"), secret = creds.at("client_secret");
        if (!server.preRegistered) {
            ASSERT_EQ(app.open(origin + "/api/v1/apps", {{"client_name", "Trackpost"},
                                                         {"redirect_uris", OOB},
                                                         {"scopes", server.scopes}}),
                      200)
                << app.page();
            const json registered = json::parse(app.page());
            clientId = registered.at("client_id");
            secret = registered.at("client_secret");
        }

        const std::string code =
            approveMastodonInBrowser(authorizeUrl(origin, clientId, server.scopes));
        ASSERT_EQ(code.size(), 43u) << code;
        const std::vector<std::pair<std::string, std::string>> exchange = {
            {"grant_type", "authorization_code"},
            {"code", code},
            {"client_id", clientId},
            {"client_secret", secret},
            {"redirect_uri", OOB}};
        ASSERT_EQ(app.open(origin + "/oauth/token", exchange), 200) << app.page();
        const json token = json::parse(app.page());
        EXPECT_EQ(token.at("scope"), server.scopes);
        EXPECT_EQ(app.open(origin + "/oauth/token", exchange), 400) << "a code works once";

        const std::string text = "Now playing A & B \xE2\x80\x93 on " + server.host;
        ASSERT_EQ(app.open(origin + "/api/v1/statuses",
                           {{"status", text}, {"access_token", token.at("access_token")}}),
                  200)
            << app.page();
        const json statuses = sandbox().timeline(server.host);
        ASSERT_EQ(statuses.size(), 1u) << statuses.dump();
        EXPECT_EQ(statuses[0].at("text"), text);
        EXPECT_EQ(statuses[0].at("id"), json::parse(app.page()).at("id"));
    }
    EXPECT_TRUE(sandbox().timeline().empty()) << "X's timeline is apart";
}

// A request the server refuses to show an Authorize form for, or an address that is not one of
// its pages, gives no code and signs no one in.
TEST(SandboxMastodon, NoCodeForARefusedRequest) {
    ASSERT_TRUE(sandbox().reset());
    const std::string clientId = SandboxService::credentials().at("mastodon").at("client_id");
    for (const std::string& url :
         {authorizeUrl("https://mastodon.social", "unknown-client", "write:statuses profile"),
          authorizeUrl("https://mastodon.social", clientId, "write:statuses read:accounts"),
          authorizeUrl("https://mastodon.example.org", clientId, "write:statuses profile"),
          std::string("https://mastodon.social")}) {
        EXPECT_EQ(approveMastodonInBrowser(url), "") << url;
    }
    for (const auto& request : serviceRequests())
        EXPECT_NE(request.at("path"), "/auth/sign_in") << request.dump();
}
