// Mastodon in the plug-in: what the host keeps of a login, the server box's reading, and the
// network's login, posting and live-set rules in process against the sandbox over real HTTPS.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MastodonKept.h"
#include "MastodonNetwork.h"
#include "plugin_sandbox_support.h"

namespace {

TEST(MastodonServer, TheHostOfWhatTheUserTyped) {
    struct Case {
        const char* typed;
        std::optional<std::string> server;
    };
    const Case cases[] = {
        {"mastodon.social", "mastodon.social"},
        {"  Mastodon.Social \n", "mastodon.social"},
        {"https://mastodon.social/", "mastodon.social"},
        {"HTTPS://mastodon.social/@dj", "mastodon.social"},
        {"http://mastodon.example.org", "mastodon.example.org"},
        {"@dj@mastodon.example.org", "mastodon.example.org"},
        {"mastodon.social.", "mastodon.social"},
        {"xn--bcher-kva.example", "xn--bcher-kva.example"},
        {"", std::nullopt},
        {"localhost", std::nullopt},  // one label: never a server's public name
        {"@dj", std::nullopt},
        {"dj@", std::nullopt},
        {"mastodon social", std::nullopt},
        {"mastodon..social", std::nullopt},
        {"-mastodon.social", std::nullopt},
        {"mastodon.social:443", std::nullopt},
        {"https://", std::nullopt},
        {"bücher.example", std::nullopt},  // typed as is: not a DNS name
    };
    for (const Case& c : cases) EXPECT_EQ(mastodonServer(c.typed), c.server) << c.typed;
}

TEST(MastodonKept, ABlockGivesBackWhatWasKeptAndNothingOfForeignBytes) {
    const MastodonKept kept{"mastodon.social", "client-id", "client-secret", "token", "dj"};
    const std::string text = kept.toBlock(1024);
    std::string block(1024, '\0');
    block.replace(0, text.size(), text);
    const MastodonKept back = MastodonKept::fromBlock(block);
    EXPECT_EQ(back.server, kept.server);
    EXPECT_EQ(back.clientId, kept.clientId);
    EXPECT_EQ(back.clientSecret, kept.clientSecret);
    EXPECT_EQ(back.token, kept.token);
    EXPECT_EQ(back.account, kept.account);
    EXPECT_TRUE(back.loginKept());

    // A block too small keeps nothing rather than a cut, unreadable text.
    EXPECT_EQ(kept.toBlock(20), "");
    for (const std::string& foreign :
         {std::string(1024, '\0'), std::string("not json"), std::string("[1,2]"),
          std::string(R"({"server":"not a host","token":"t"})"),
          std::string(R"({"server":7,"client_id":"a","client_secret":"b","token":"t"})"),
          std::string("\xff\xfe{", 3)}) {
        const MastodonKept none = MastodonKept::fromBlock(foreign);
        EXPECT_FALSE(none.registered()) << foreign;
        EXPECT_FALSE(none.loginKept()) << foreign;
    }
}

// ---------------------------------------------------------------------------------------------
// The network in the plug-in, against the sandbox

const char MASTODON[] = "mastodon.social";
const char OLDER_SERVER[] = "mastodon.example.org";
const char STATUSES[] = "/api/v1/statuses";
const char ASK_SERVER[] = "Your Mastodon server, for example mastodon.social:";
const char ASK_CODE[] = "Paste the code that your Mastodon server shows:";
const char MASTODON_ON[] = "set $trackpost_mastodon 1";
const char MASTODON_OFF[] = "set $trackpost_mastodon 0";

static_assert(NETWORK_ACCESS_BLOCK_SIZE == MastodonNetwork::ACCESS_SIZE);

class MastodonAgainstSandbox : public PluginAgainstSandbox {
  protected:
    MastodonNetwork& mastodon() { return CTrackpostTestAccess::mastodon(*plugin); }
    std::string mastodonStatus() { return mastodon().status(); }
    std::vector<std::string> mastodonQueue() {
        const auto texts = mastodon().queued();
        return {texts.begin(), texts.end()};
    }
    MastodonKept kept() {
        return MastodonKept::fromBlock(std::string(
            host.storage<char>(MastodonNetwork::PARAM_ACCESS), MastodonNetwork::ACCESS_SIZE));
    }
    std::vector<std::string> statuses(const std::string& server = MASTODON) {
        return postsAt(server);
    }
    std::vector<nlohmann::json> mastodonRequests(const std::string& path,
                                                 const std::string& server = MASTODON) {
        return requestsAt(server, path);
    }
    std::string lastMastodonCommand() { return lastCommand("$trackpost_mastodon"); }

    // "Mastodon" pressed with `typed` as the server; the worker opens the authorize page, where
    // the browser signs in. The address opened and the code the page showed.
    std::pair<std::string, std::string> openMastodonPage(const std::string& typed = MASTODON) {
        std::string url, code;
        {
            std::lock_guard<std::mutex> guard(user->lock);
            user->browser = [&](const std::string& opened) {
                const std::string shown = approveMastodonInBrowser(opened, service());
                std::lock_guard<std::mutex> g(user->lock);
                url = opened;
                code = shown;
            };
        }
        answerInputs({typed});
        pressButton(MastodonNetwork::PARAM_BUTTON);
        pacing->step();
        std::lock_guard<std::mutex> guard(user->lock);
        user->browser = nullptr;
        return {url, code};
    }

    void logInToMastodon(const std::string& typed = MASTODON) {
        const std::string code = openMastodonPage(typed).second;
        ASSERT_FALSE(code.empty()) << "the page showed no code; status " << mastodonStatus();
        answerInputs({" " + code + "\n"});  // pasted with what surrounded it
        pressButton(CTrackpost::PARAM_PIN);
        pacing->step();
        ASSERT_TRUE(mastodon().loggedIn()) << mastodonStatus();
    }

    void loadWithMastodonKept(bool xToo = false) {
        host.kept[MastodonNetwork::PARAM_ACCESS] = preIssuedMastodonBlock();
        if (xToo) host.kept[CTrackpost::PARAM_ACCESS] = preIssuedBlock();
        load();
        ASSERT_EQ(mastodonStatus(), "Logged In");
    }
};

TEST_F(MastodonAgainstSandbox, LoginByTheButtonsKeepsItAndPostsThere) {
    load();
    const auto [url, code] = openMastodonPage();
    EXPECT_EQ(url.rfind("https://mastodon.social/oauth/authorize?", 0), 0u) << url;
    EXPECT_NE(url.find("scope=write%3Astatuses%20profile"), std::string::npos) << url;
    EXPECT_EQ(mastodonStatus(), "Logging In");
    answerInputs({code});
    pressButton(CTrackpost::PARAM_PIN);
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Logged In");
    EXPECT_EQ(lastMastodonCommand(), MASTODON_ON);
    const MastodonKept login = kept();
    EXPECT_EQ(login.server, MASTODON);
    EXPECT_EQ(login.account, "djsandbox");
    EXPECT_TRUE(login.loginKept());

    // The boxes the user saw: the server, filled in, and the code.
    const auto inputs = user->callsOf("getInput");
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0].text, ASK_SERVER);
    EXPECT_EQ(inputs[0].value, MASTODON);
    EXPECT_EQ(inputs[1].text, ASK_CODE);
    EXPECT_TRUE(user->callsOf("showMessage").empty());
    EXPECT_EQ(mastodonRequests("/api/v1/apps").size(), 1u);
    EXPECT_EQ(mastodonRequests("/api/v2/instance").size(), 1u) << "the server's text limit";
    pressButton(CTrackpost::PARAM_PIN);
    EXPECT_EQ(user->callsOf("getInput").size(), 2u) << "logged in, PIN asks nothing";

    // An announcement goes to Mastodon; X, never set up while Mastodon is logged in, gets none.
    host.loadTrack("a.mp3", "Strobe", "Deadline");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    EXPECT_EQ(statuses(), std::vector<std::string>{"Now playing Deadline - Strobe on #Spinforge"});
    EXPECT_EQ(mastodonStatus(), "Post OK");
    EXPECT_TRUE(outbox().empty());

    // Logged out and in again: the registration kept is used again.
    answerRequest(true);
    pressButton(MastodonNetwork::PARAM_BUTTON);
    pacing->step();
    logInToMastodon();
    EXPECT_EQ(mastodonRequests("/api/v1/apps").size(), 1u);
}

TEST_F(MastodonAgainstSandbox, TheServerBoxTakesAHandleAndAnOlderServerIsAskedForReadAccounts) {
    load();
    // Cancelled, or nothing typed: nothing happens. Not a server: the user is told.
    answerInputs({std::nullopt, "  ", "not a server"});
    for (int i = 0; i < 3; ++i) pressButton(MastodonNetwork::PARAM_BUTTON);
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Not Logged In");
    EXPECT_TRUE(serviceRequests(service()).empty());
    ASSERT_EQ(user->callsOf("showMessage").size(), 1u);

    const auto [url, code] = openMastodonPage("@dj@Mastodon.Example.org");
    EXPECT_EQ(url.rfind("https://mastodon.example.org/oauth/authorize?", 0), 0u) << url;
    EXPECT_NE(url.find("scope=write%3Astatuses%20read%3Aaccounts"), std::string::npos) << url;
    answerInputs({code});
    pressButton(CTrackpost::PARAM_PIN);
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Logged In");
    EXPECT_EQ(kept().server, OLDER_SERVER);
    CTrackpostTestAccess::queue(*plugin, "ignored by X");  // X's own queue
    answerInputs({"typed for the older server"});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    pacing->step();
    EXPECT_EQ(statuses(OLDER_SERVER), std::vector<std::string>{"typed for the older server"});
}

TEST_F(MastodonAgainstSandbox, AKeptLoginIsRestoredByTheWorkerAndAnAnnouncementReachesBothOnce) {
    loadWithMastodonKept(true);
    EXPECT_EQ(status(), "Logged In");
    EXPECT_TRUE(hostWasTold(MASTODON_ON));
    EXPECT_TRUE(user->callsOf("getInput").empty()) << "restored without asking";

    host.loadTrack("b.mp3", "Copper Skyline", "Nadia Ferro");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    const std::string text = "Now playing Nadia Ferro - Copper Skyline on #Spinforge";
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{text});
    EXPECT_EQ(statuses(), std::vector<std::string>{text});

    // The same track announced automatically after its delay: X refuses the repeat, Mastodon,
    // which would take it, is never sent it.
    spfStoreInt32(host.storage<std::int32_t>(CTrackpost::PARAM_AUTO_TWEET), 1);
    host.numbers["deck active play"] = 1.0;
    pacing->step();
    pacing->clock += 60;
    pacing->step();
    pacing->step();
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{text});
    EXPECT_EQ(statuses(), std::vector<std::string>{text});
    EXPECT_EQ(mastodonRequests(STATUSES).size(), 1u);
}

TEST_F(MastodonAgainstSandbox, ATextTooLongForMastodonReopensTheBoxWithItsCount) {
    loadWithMastodonKept();
    const std::string tooLong(501, 'x');
    answerInputs({tooLong, std::string(500, 'y')});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    const auto asked = user->callsOf("getInput");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].text, "This post is 501 of 500 characters for Mastodon; shorten it:");
    EXPECT_EQ(asked[1].value, tooLong);
    pacing->step();
    EXPECT_EQ(statuses(), std::vector<std::string>{std::string(500, 'y')});
}

// A post whose answer is lost is tried again with the same key: the server keeps one status.
TEST_F(MastodonAgainstSandbox, ARetriedPostIsStoredOnce) {
    loadWithMastodonKept();
    ASSERT_TRUE(service().queueFault(
        {{"host", MASTODON}, {"path", STATUSES}, {"stall", 60}, {"stored", true}}));
    CTrackpostTestAccess::mastodonQueue(*plugin, "stored, answer lost");
    pacing->step();  // the stall limit ends the post
    EXPECT_EQ(mastodonStatus(), "Post Failed");
    EXPECT_EQ(statuses(), std::vector<std::string>{"stored, answer lost"});
    pacing->clock += Outbox::FIRST_RETRY_SECONDS;
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Post OK");
    EXPECT_TRUE(mastodonQueue().empty());
    const auto posts = mastodonRequests(STATUSES);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].at("headers").at("Idempotency-Key"),
              posts[1].at("headers").at("Idempotency-Key"));
    EXPECT_EQ(statuses(), std::vector<std::string>{"stored, answer lost"});
}

TEST_F(MastodonAgainstSandbox, ARateLimitIsWaitedOutToItsReset) {
    loadWithMastodonKept();
    ASSERT_TRUE(service().queueFault({{"host", MASTODON},
                                      {"path", STATUSES},
                                      {"status", 429},
                                      {"body", R"({"error":"Too many requests"})"},
                                      {"reset_in", 10}}));
    CTrackpostTestAccess::mastodonQueue(*plugin, "after the limit");
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Rate Limited");
    const auto limited = mastodonRequests(STATUSES);
    ASSERT_EQ(limited.size(), 1u);
    // The worker's wall clock moved to seconds before the reset, then a second past it (the
    // wait counts from the answer's Date, in whole seconds; the simulator's fault table checks
    // the reset to the millisecond on real clocks).
    const auto resetMs = static_cast<std::int64_t>(
        std::floor(limited[0].at("limit_reset").get<double>() * 1000 + 1e-6));
    pacing->wallAheadMs = resetMs - pacing->wallAtStartMs - 5000;
    pacing->step();
    pacing->step();
    EXPECT_EQ(mastodonRequests(STATUSES).size(), 1u) << "nothing goes before the reset";
    pacing->wallAheadMs = resetMs - pacing->wallAtStartMs + 1000;
    pacing->step();
    EXPECT_EQ(statuses(), std::vector<std::string>{"after the limit"});
}

TEST_F(MastodonAgainstSandbox, ARevokedTokenAsksForANewLoginAndTheQueueWaitsForIt) {
    loadWithMastodonKept();
    ASSERT_TRUE(
        service().queueFault({{"host", MASTODON}, {"path", STATUSES}, {"revoke_token", true}}));
    CTrackpostTestAccess::mastodonQueue(*plugin, "first");
    CTrackpostTestAccess::mastodonQueue(*plugin, "second");
    pacing->step();
    EXPECT_EQ(mastodonStatus(), "Login Failed");
    EXPECT_EQ(lastMastodonCommand(), MASTODON_OFF);
    EXPECT_EQ(mastodonQueue(), (std::vector<std::string>{"first", "second"}));
    const auto boxes = user->callsOf("showMessage");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("press Mastodon to log in again"), std::string::npos);
    EXPECT_FALSE(kept().loginKept()) << "the dead token is not kept";
    EXPECT_TRUE(kept().registered()) << "the registration is";

    logInToMastodon();
    EXPECT_EQ(statuses(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(MastodonAgainstSandbox, LogoutRevokesTheTokenAndDropsTheQueue) {
    loadWithMastodonKept();
    const std::string token = kept().token;
    ASSERT_TRUE(service().setMode({{"mastodon", {{"black_hole", true}}}}));
    CTrackpostTestAccess::mastodonQueue(*plugin, "never sent");
    answerRequest(true);
    pressButton(MastodonNetwork::PARAM_BUTTON);
    const auto asked = user->callsOf("showRequest");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Log out of Mastodon (@djsandbox@mastodon.social)?");
    EXPECT_EQ(mastodonStatus(), "Not Logged In");
    EXPECT_EQ(lastMastodonCommand(), MASTODON_OFF);
    EXPECT_TRUE(mastodonQueue().empty());
    EXPECT_FALSE(kept().loginKept());
    EXPECT_EQ(kept().server, MASTODON) << "the server stays for the next login";
    ASSERT_TRUE(service().setMode({{"mastodon", {{"black_hole", false}}}}));
    pacing->step();
    const auto revoked = mastodonRequests("/oauth/revoke");
    ASSERT_EQ(revoked.size(), 1u);
    EXPECT_NE(revoked[0].at("body").get<std::string>().find(token), std::string::npos);
    EXPECT_TRUE(mastodonRequests(STATUSES).empty());
}

}  // namespace
