// Bluesky in the plug-in: what the host keeps of a login, the handle box's reading, and the
// network's login, sessions, posting and live-set rules in process against the sandbox over real
// HTTPS.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "BlueskyKept.h"
#include "BlueskyNetwork.h"
#include "plugin_sandbox_support.h"

namespace {

TEST(BlueskyHandle, TheHandleOfWhatTheUserTyped) {
    struct Case {
        const char* typed;
        std::optional<std::string> handle;
    };
    const Case cases[] = {
        {"dj.bsky.social", "dj.bsky.social"},
        {"  @DJ.Bsky.Social \n", "dj.bsky.social"},
        {"@ dj.example.com", "dj.example.com"},
        {"djsandbox", std::nullopt},  // no domain: a handle always has one
        {"dj bsky.social", std::nullopt},
        {"dj@example.com", std::nullopt},
        {"@", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(blueskyHandle(c.typed), c.handle) << c.typed;
}

TEST(BlueskyKept, ABlockGivesBackWhatWasKeptAndNothingOfForeignBytes) {
    const BlueskyKept kept{"dj.bsky.social", "did:plc:abc", "pds.example", "abcd-efgh-ijkl-mnop"};
    const BlueskyKept back = BlueskyKept::fromBlock(kept.toBlock(1024));
    EXPECT_EQ(back.handle, kept.handle);
    EXPECT_EQ(back.did, kept.did);
    EXPECT_EQ(back.pds, kept.pds);
    EXPECT_EQ(back.appPassword, kept.appPassword);
    EXPECT_TRUE(back.loginKept());
    EXPECT_EQ(kept.toBlock(20), "") << "a block too small keeps nothing rather than a cut text";
    for (const std::string& foreign :
         {std::string(1024, '\0'), std::string("not json"),
          std::string(R"({"handle":"not a handle","app_password":"abcd-efgh-ijkl-mnop"})"),
          std::string(R"({"handle":7,"app_password":"abcd-efgh-ijkl-mnop"})")})
        EXPECT_FALSE(BlueskyKept::fromBlock(foreign).loginKept()) << foreign;
}

// ---------------------------------------------------------------------------------------------
// The network in the plug-in, against the sandbox

const char ENTRYWAY[] = "bsky.social";
const char CREATE_SESSION[] = "/xrpc/com.atproto.server.createSession";
const char REFRESH_SESSION[] = "/xrpc/com.atproto.server.refreshSession";
const char DELETE_SESSION[] = "/xrpc/com.atproto.server.deleteSession";
const char PUT_RECORD[] = "/xrpc/com.atproto.repo.putRecord";
const char ASK_HANDLE[] = "Your Bluesky handle, for example dj.bsky.social:";
const char ASK_APP_PASSWORD[] =
    "An app password for Trackpost (Bluesky: Settings, Privacy and security, App passwords):";
const char BLUESKY_ON[] = "set $trackpost_bluesky 1";
const char BLUESKY_OFF[] = "set $trackpost_bluesky 0";

static_assert(NETWORK_ACCESS_BLOCK_SIZE == BlueskyNetwork::ACCESS_SIZE);

const nlohmann::json& account() {
    return SandboxService::credentials().at("bluesky");
}
std::string pds() {
    return account().at("pds");
}

class BlueskyAgainstSandbox : public PluginAgainstSandbox {
  protected:
    BlueskyNetwork& bluesky() { return CTrackpostTestAccess::bluesky(*plugin); }
    std::string blueskyStatus() { return bluesky().status(); }
    std::vector<std::string> blueskyQueue() {
        const auto texts = bluesky().queued();
        return {texts.begin(), texts.end()};
    }
    BlueskyKept kept() {
        return BlueskyKept::fromBlock(std::string(host.storage<char>(BlueskyNetwork::PARAM_ACCESS),
                                                  BlueskyNetwork::ACCESS_SIZE));
    }
    std::vector<std::string> posts() { return postsAt(ENTRYWAY); }
    std::vector<nlohmann::json> puts() { return requestsAt(pds(), PUT_RECORD); }
    std::string lastBlueskyCommand() { return lastCommand("$trackpost_bluesky"); }

    void logInToBluesky(const std::string& handle = "@DJSandbox.bsky.social ") {
        answerInputs({handle, account().at("app_password").get<std::string>()});
        pressButton(BlueskyNetwork::PARAM_BUTTON);
        pacing->step();
        ASSERT_TRUE(bluesky().loggedIn()) << blueskyStatus();
    }
    void loadWithBlueskyKept(bool othersToo = false) {
        host.kept[BlueskyNetwork::PARAM_ACCESS] = preIssuedBlueskyBlock();
        if (othersToo) {
            host.kept[CTrackpost::PARAM_ACCESS] = preIssuedBlock();
            host.kept[MastodonNetwork::PARAM_ACCESS] = preIssuedMastodonBlock();
        }
        load();
        ASSERT_EQ(blueskyStatus(), "Logged In");
    }
    bool queueFault(nlohmann::json fault) { return service().queueFault(fault); }
};

TEST_F(BlueskyAgainstSandbox, LoginByTheButtonsKeepsItPostsAtThePdsAndLogsOut) {
    load();
    logInToBluesky();
    EXPECT_EQ(blueskyStatus(), "Logged In");
    EXPECT_EQ(lastBlueskyCommand(), BLUESKY_ON);
    const BlueskyKept login = kept();
    EXPECT_EQ(login.handle, account().at("handle"));
    EXPECT_EQ(login.did, account().at("did"));
    EXPECT_EQ(login.pds, pds()) << "the PDS that the session's didDoc names";
    EXPECT_EQ(login.appPassword, account().at("app_password"));

    // The boxes: the handle, then the masked one, whose answer no call log holds.
    const auto inputs = user->callsOf("getInput");
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].text, ASK_HANDLE);
    const auto secrets = user->callsOf("getSecret");
    ASSERT_EQ(secrets.size(), 1u);
    EXPECT_EQ(secrets[0].text, ASK_APP_PASSWORD);
    EXPECT_TRUE(user->callsOf("showMessage").empty());
    EXPECT_EQ(requestsAt(ENTRYWAY, CREATE_SESSION).size(), 1u);

    // An announcement, its tag made a facet, written at the PDS.
    host.loadTrack("a.mp3", "Strobe", "Deadline");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    const std::string text = "Now playing Deadline - Strobe on #Spinforge";
    EXPECT_EQ(posts(), std::vector<std::string>{text});
    EXPECT_EQ(blueskyStatus(), "Post OK");
    const nlohmann::json post = service().timeline(ENTRYWAY).at(0);
    ASSERT_EQ(post.at("facets").size(), 1u);
    const nlohmann::json& facet = post.at("facets").at(0);
    EXPECT_EQ(facet.at("index").at("byteStart"), text.find('#'));
    EXPECT_EQ(facet.at("index").at("byteEnd"), text.size());
    EXPECT_EQ(facet.at("features").at(0).at("tag"), "Spinforge");
    EXPECT_EQ(puts().size(), 1u);
    EXPECT_TRUE(requestsAt(ENTRYWAY, PUT_RECORD).empty());

    // Logged out: the session deleted, the app password forgotten, the handle kept.
    answerRequest(true);
    pressButton(BlueskyNetwork::PARAM_BUTTON);
    const auto asked = user->callsOf("showRequest");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Log out of Bluesky (@djsandbox.bsky.social)?");
    EXPECT_EQ(blueskyStatus(), "Not Logged In");
    EXPECT_EQ(lastBlueskyCommand(), BLUESKY_OFF);
    EXPECT_FALSE(kept().loginKept());
    EXPECT_EQ(kept().handle, account().at("handle"));
    pacing->step();
    EXPECT_EQ(requestsAt(pds(), DELETE_SESSION).size(), 1u);
    // The next login's box is filled with the handle kept.
    answerInputs({std::nullopt});
    pressButton(BlueskyNetwork::PARAM_BUTTON);
    EXPECT_EQ(user->callsOf("getInput").back().value, "djsandbox.bsky.social");
}

TEST_F(BlueskyAgainstSandbox, TheBoxesRefuseWhatIsNotAHandleOrAnAppPassword) {
    load();
    struct Case {
        std::optional<std::string> handle;
        std::optional<std::string> password;  // asked only after a handle
        const char* told;                     // part of the box shown, or nothing
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, nullptr},                // cancelled
        {"  ", std::nullopt, nullptr},                        // nothing typed
        {"djsandbox", std::nullopt, "not a Bluesky handle"},  // no domain
        {"djsandbox.bsky.social", std::nullopt, nullptr},     // the password box cancelled
        {"djsandbox.bsky.social", "spin-the-decks", "never takes your account's own password"},
        {"djsandbox.bsky.social", "SBX2-DJ4K-7MFW-QP3N", "App passwords"},
    };
    for (const Case& c : cases) {
        const std::size_t shown = user->callsOf("showMessage").size();
        answerInputs({c.handle});
        if (c.handle && c.handle->find('.') != std::string::npos) answerInputs({c.password});
        pressButton(BlueskyNetwork::PARAM_BUTTON);
        const auto boxes = user->callsOf("showMessage");
        if (c.told == nullptr) {
            EXPECT_EQ(boxes.size(), shown) << c.handle.value_or("(cancel)");
        } else {
            ASSERT_EQ(boxes.size(), shown + 1) << c.told;
            EXPECT_NE(boxes.back().text.find(c.told), std::string::npos) << boxes.back().text;
        }
    }
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Not Logged In");
    EXPECT_TRUE(serviceRequests(service()).empty()) << "nothing was sent";
}

TEST_F(BlueskyAgainstSandbox, AWrongAppPasswordFailsTheLoginWithTheServersMessage) {
    load();
    answerInputs({"djsandbox.bsky.social", "aaaa-bbbb-cccc-dddd"});
    pressButton(BlueskyNetwork::PARAM_BUTTON);
    EXPECT_EQ(blueskyStatus(), "Logging In");
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Login Failed");
    const auto boxes = user->callsOf("showMessage");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Invalid identifier or password"), std::string::npos)
        << boxes[0].text;
    EXPECT_FALSE(kept().loginKept()) << "a refused password is never kept";
}

TEST_F(BlueskyAgainstSandbox, AKeptLoginIsRestoredByTheWorkerAndAnAnnouncementReachesAllThreeOnce) {
    loadWithBlueskyKept(true);
    EXPECT_TRUE(hostWasTold(BLUESKY_ON));
    EXPECT_TRUE(user->callsOf("getInput").empty() && user->callsOf("getSecret").empty())
        << "restored without asking";

    host.loadTrack("b.mp3", "Copper Skyline", "Nadia Ferro");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    const std::vector<std::string> once{"Now playing Nadia Ferro - Copper Skyline on #Spinforge"};
    EXPECT_EQ(timelineTexts(), once);
    EXPECT_EQ(postsAt("mastodon.social"), once);
    EXPECT_EQ(posts(), once);

    // Announced again automatically after its delay: Bluesky, which would take the repeat, is
    // never sent it.
    spfStoreInt32(host.storage<std::int32_t>(CTrackpost::PARAM_AUTO_TWEET), 1);
    host.numbers["deck active play"] = 1.0;
    pacing->step();
    pacing->clock += 60;
    pacing->step();
    pacing->step();
    EXPECT_EQ(posts(), once);
    EXPECT_EQ(puts().size(), 1u);
}

TEST_F(BlueskyAgainstSandbox, ATextTooLongForBlueskyReopensTheBoxWithItsCount) {
    loadWithBlueskyKept();
    const std::string family =
        "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D"
        "\xF0\x9F\x91\xA7";  // one grapheme, 18 bytes
    std::string heavy;
    for (int i = 0; i < 200; ++i) heavy += family;  // 200 graphemes, 3600 bytes
    answerInputs({std::string(301, 'x'), heavy, std::string(300, 'y')});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    const auto asked = user->callsOf("getInput");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1].text, "This post is 301 of 300 characters for Bluesky; shorten it:");
    EXPECT_EQ(asked[2].text, "This post is 3600 of 3000 bytes for Bluesky; shorten it:");
    pacing->step();
    EXPECT_EQ(posts(), std::vector<std::string>{std::string(300, 'y')});
}

// The session's access token expires in the middle of the set: refreshed, the post sent again,
// nothing shown; and when the refresh is refused too, a new session from the app password.
TEST_F(BlueskyAgainstSandbox, AnExpiredSessionIsRenewedInTheMiddleOfAPost) {
    loadWithBlueskyKept();
    ASSERT_TRUE(queueFault({{"host", pds()}, {"path", PUT_RECORD}, {"expire_token", true}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "after a refresh");
    pacing->step();
    EXPECT_EQ(posts(), std::vector<std::string>{"after a refresh"});
    EXPECT_EQ(requestsAt(pds(), REFRESH_SESSION).size(), 1u);
    EXPECT_EQ(puts().size(), 2u);

    ASSERT_TRUE(queueFault({{"host", pds()}, {"path", PUT_RECORD}, {"expire_token", true}}));
    ASSERT_TRUE(
        queueFault({{"host", pds()},
                    {"path", REFRESH_SESSION},
                    {"status", 400},
                    {"body", R"({"error":"ExpiredToken","message":"Token has expired"})"}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "after a new session");
    pacing->step();
    EXPECT_EQ(posts(), (std::vector<std::string>{"after a refresh", "after a new session"}));
    EXPECT_EQ(requestsAt(ENTRYWAY, CREATE_SESSION).size(), 2u) << "at load, then the new one";
    EXPECT_EQ(blueskyStatus(), "Post OK");
    EXPECT_TRUE(user->callsOf("showMessage").empty());
}

// A post whose answer is lost is written again under the same key: still one post.
TEST_F(BlueskyAgainstSandbox, ARetriedPostIsStoredOnce) {
    loadWithBlueskyKept();
    ASSERT_TRUE(
        queueFault({{"host", pds()}, {"path", PUT_RECORD}, {"stall", 60}, {"stored", true}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "stored, answer lost");
    pacing->step();  // the stall limit ends the post
    EXPECT_EQ(blueskyStatus(), "Post Failed");
    pacing->clock += Outbox::FIRST_RETRY_SECONDS;
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Post OK");
    const auto written = puts();
    ASSERT_EQ(written.size(), 2u);
    const auto body = [](const nlohmann::json& request) {
        return nlohmann::json::parse(request.at("body").get<std::string>());
    };
    EXPECT_EQ(body(written[0]).at("rkey"), body(written[1]).at("rkey"));
    EXPECT_EQ(body(written[0]).at("record"), body(written[1]).at("record"));
    const auto timeline = service().timeline(ENTRYWAY);
    ASSERT_EQ(timeline.size(), 1u);
    EXPECT_EQ(timeline[0].at("writes"), 2);
}

TEST_F(BlueskyAgainstSandbox, ARateLimitIsWaitedOutToItsReset) {
    loadWithBlueskyKept();
    ASSERT_TRUE(
        queueFault({{"host", pds()},
                    {"path", PUT_RECORD},
                    {"status", 429},
                    {"body", R"({"error":"RateLimitExceeded","message":"Rate Limit Exceeded"})"},
                    {"reset_in", 10}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "after the limit");
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Rate Limited");
    const auto limited = puts();
    ASSERT_EQ(limited.size(), 1u);
    const auto resetMs =
        static_cast<std::int64_t>(limited[0].at("limit_reset").get<double>() * 1000);
    pacing->wallAheadMs = resetMs - pacing->wallAtStartMs - 5000;
    pacing->step();
    pacing->step();
    EXPECT_EQ(puts().size(), 1u) << "nothing goes before the reset";
    pacing->wallAheadMs = resetMs - pacing->wallAtStartMs + 1000;
    pacing->step();
    EXPECT_EQ(posts(), std::vector<std::string>{"after the limit"});
}

// A session refused and an app password that no longer makes one: the login is lost, the
// texts wait for the next.
TEST_F(BlueskyAgainstSandbox, ARevokedAppPasswordAsksForANewLoginAndTheQueueWaitsForIt) {
    loadWithBlueskyKept();
    ASSERT_TRUE(queueFault({{"host", pds()}, {"path", PUT_RECORD}, {"revoke_token", true}}));
    ASSERT_TRUE(queueFault(
        {{"host", ENTRYWAY},
         {"path", CREATE_SESSION},
         {"status", 401},
         {"body",
          R"({"error":"AuthenticationRequired","message":"Invalid identifier or password"})"}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "first");
    CTrackpostTestAccess::blueskyQueue(*plugin, "second");
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Login Failed");
    EXPECT_EQ(lastBlueskyCommand(), BLUESKY_OFF);
    EXPECT_EQ(blueskyQueue(), (std::vector<std::string>{"first", "second"}));
    const auto boxes = user->callsOf("showMessage");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("press Bluesky to log in again"), std::string::npos);
    EXPECT_FALSE(kept().loginKept()) << "the dead app password is not kept";

    logInToBluesky();
    EXPECT_EQ(posts(), (std::vector<std::string>{"first", "second"}));
}

// A session revoked while the app password still works: a new one, and nothing to tell.
TEST_F(BlueskyAgainstSandbox, ARevokedSessionIsMadeAgainFromTheAppPassword) {
    loadWithBlueskyKept();
    ASSERT_TRUE(queueFault({{"host", pds()}, {"path", PUT_RECORD}, {"revoke_token", true}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "through a new session");
    pacing->step();
    EXPECT_EQ(posts(), std::vector<std::string>{"through a new session"});
    EXPECT_EQ(blueskyStatus(), "Post OK");
    EXPECT_TRUE(user->callsOf("showMessage").empty());
}

TEST_F(BlueskyAgainstSandbox, ATakenDownAccountRefusesThePostWithOneBox) {
    loadWithBlueskyKept();
    ASSERT_TRUE(service().setMode({{"bluesky", {{"account", "takendown"}}}}));
    CTrackpostTestAccess::blueskyQueue(*plugin, "refused");
    CTrackpostTestAccess::blueskyQueue(*plugin, "refused too");
    pacing->step();
    EXPECT_EQ(blueskyStatus(), "Post Not Accepted");
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(blueskyQueue().empty());
    const auto boxes = user->callsOf("showMessage");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Bluesky refuses every post of this account"), std::string::npos)
        << boxes[0].text;
}

}  // namespace
