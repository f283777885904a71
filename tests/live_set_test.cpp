// A live set's troubles, in process against the sandbox over real HTTPS, on the worker's stepped
// clock: the host never waits on the service, a passing fault loses no text and says so once,
// limits are waited out, a lost login keeps its texts, a blocked account says why, and a clock
// that is off is corrected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "plugin_sandbox_support.h"

using nlohmann::json;

namespace {

const json V1_RATE_LIMIT = {
    {"path", STATUS_UPDATE},
    {"status", 429},
    {"body", R"({"errors":[{"message":"Rate limit exceeded","code":88}]})"}};

class LiveSet : public PluginAgainstSandbox {
  protected:
    std::size_t messages() { return user->callsOf("showMessage").size(); }
    std::size_t posts(const SandboxService& s = sandbox()) {
        return requestsTo(STATUS_UPDATE, s).size();
    }
    // Loaded with the kept block the host holds (the pre-issued login unless the test set one),
    // after the worker's first pass, whatever came of its check.
    void loadLoggedInAfterChecks() {
        host.kept.emplace(CTrackpost::PARAM_ACCESS, preIssuedBlock());
        host.declarations.clear();  // a load before this one declared storage now gone
        load();
    }
    // Moves the worker's clock on and lets it make one pass.
    void after(std::int64_t seconds) {
        pacing->clock += seconds;
        pacing->step();
    }
};

TEST_F(LiveSet, OnLoadWithAKeptLoginReturnsBeforeTheServiceAnswers) {
    ASSERT_TRUE(sandbox().queueFault({{"path", VERIFY}, {"delay", 1.5}}));
    host.kept[CTrackpost::PARAM_ACCESS] = preIssuedBlock();
    plugin = loadScripted(host, user, pacing);
    ASSERT_NE(plugin, nullptr);
    // Returned while the check is still under way.
    EXPECT_EQ(status(), "Not Logged In");
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_EQ(lastCommand(), AUTH_OFF);

    CTrackpostTestAccess::queue(*plugin, "queued while checking");
    pacing->awaitPauses(1);
    EXPECT_EQ(lastCommand(), AUTH_ON);
    EXPECT_TRUE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"queued while checking"});
    EXPECT_EQ(status(), "Tweet OK");
}

TEST_F(LiveSet, AuthReturnsBeforeTheServiceAnswersAndASecondPressWaitsForTheFirst) {
    load();
    ASSERT_TRUE(sandbox().queueFault({{"path", "/oauth/request_token"}, {"delay", 1.0}}));
    answerRequest(true);
    answerRequest(true);
    pressButton(CTrackpost::PARAM_AUTH);
    EXPECT_TRUE(user->callsOf("openURL").empty()) << "the address comes from the worker";
    const long passEnd = pacing->grant();
    ASSERT_TRUE(eventually([&] { return !requestsTo("/oauth/request_token").empty(); }));
    pressButton(CTrackpost::PARAM_AUTH);  // while the first request token is under way
    pacing->awaitPauses(passEnd);
    pacing->step();
    EXPECT_EQ(user->callsOf("showRequest").size(), 1u) << "the second press asked nothing";
    EXPECT_EQ(requestsTo("/oauth/request_token").size(), 1u);
    EXPECT_EQ(user->callsOf("openURL").size(), 1u);
}

TEST_F(LiveSet, APinTypedWhileTheRequestTokenIsUnderWayIsUsedAfterIt) {
    load();
    answerRequest(true);
    pressButton(CTrackpost::PARAM_AUTH);
    // The PIN arrives before the worker's pass: it waits for the request token, then is used.
    answerInputs({"0000000"});
    pressButton(CTrackpost::PARAM_PIN);
    pacing->step();
    EXPECT_EQ(user->callsOf("openURL").size(), 1u);
    pacing->step();
    EXPECT_EQ(requestsTo("/oauth/access_token").size(), 1u) << "the PIN was not lost";
    EXPECT_EQ(status(), "PIN Failed");
}

TEST_F(LiveSet, AKeptLoginThatCouldNotBeCheckedIsCheckedAgainWithAGrowingPause) {
    const json down = {{"path", VERIFY}, {"status", 503}, {"body", "<html>down</html>"}};
    ASSERT_TRUE(sandbox().queueFault(down));
    ASSERT_TRUE(sandbox().queueFault(down));
    loadLoggedInAfterChecks();
    EXPECT_EQ(status(), "Login Failed");
    EXPECT_EQ(access(), preIssuedBlock()) << "kept while it can't be checked";
    CTrackpostTestAccess::queue(*plugin, "waits for the check");

    std::vector<std::size_t> checks;
    for (std::int64_t seconds : {4, 1, 9, 1}) {
        after(seconds);
        checks.push_back(requestsTo(VERIFY).size());
    }
    EXPECT_EQ(checks, (std::vector<std::size_t>{1, 2, 2, 3})) << "after 5 s, then after 10 s";
    EXPECT_EQ(lastCommand(), AUTH_ON);
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"waits for the check"});
    EXPECT_EQ(messages(), 0u) << "no box at load";

    // A refusal is not asked again.
    ASSERT_TRUE(sandbox().reset());
    host.kept[CTrackpost::PARAM_ACCESS] = accessBlock("100001-NoSuchToken", "NoSuchSecret");
    plugin->Release();
    plugin = nullptr;
    loadLoggedInAfterChecks();
    after(3600);
    EXPECT_EQ(requestsTo(VERIFY).size(), 1u);
    EXPECT_EQ(status(), "Login Failed");
}

// A fault that passes: the text stays at the head, the status says "Tweet Failed", one box, and
// the next try after the pause posts it once, before the texts queued behind it.
TEST_F(LiveSet, APassingFaultKeepsTheTextUntilItGoesOut) {
    struct Case {
        const char* name;
        std::vector<json> faults;
    };
    const Case cases[] = {
        {"503 once", {{{"path", STATUS_UPDATE}, {"status", 503}, {"body", "Over capacity"}}}},
        {"a 500 page", {{{"path", STATUS_UPDATE}, {"status", 500}, {"body", "<html>oops</html>"}}}},
        {"answer cut short", {{{"path", STATUS_UPDATE}, {"truncate", true}}}},
        {"connection closed mid-answer", {{{"path", STATUS_UPDATE}, {"stall", 0.2}}}},
        {"connection reset twice",
         {{{"path", STATUS_UPDATE}, {"reset", true}}, {{"path", STATUS_UPDATE}, {"reset", true}}}},
    };
    loadLoggedIn();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sandbox().reset());
        forgetDialogCalls();
        for (const json& fault : c.faults) ASSERT_TRUE(sandbox().queueFault(fault));
        const std::string text = "text " + std::to_string(++n), behind = "behind " + text;
        CTrackpostTestAccess::queue(*plugin, text);
        CTrackpostTestAccess::queue(*plugin, behind);
        pacing->step();
        EXPECT_EQ(status(), "Tweet Failed");
        EXPECT_EQ(messages(), 1u);
        EXPECT_EQ(outbox(), (std::vector<std::string>{text, behind}));
        const std::size_t tried = posts();
        after(1);
        EXPECT_EQ(posts(), tried) << "nothing before the pause is over";
        after(1);
        EXPECT_EQ(status(), "Tweet OK");
        EXPECT_EQ(timelineTexts(), (std::vector<std::string>{text, behind}));
        EXPECT_EQ(messages(), 1u);
    }
}

TEST_F(LiveSet, AnOutageShowsOneBoxAndWhatWaitedGoesOutInOrderOnceTheServiceIsBack) {
    SandboxService venue;
    ASSERT_TRUE(venue.start()) << venue.error();
    const int port = venue.port();
    pointPluginAt(port);
    loadLoggedIn();
    venue.stop();

    CTrackpostTestAccess::queue(*plugin, "first");
    pacing->step();
    EXPECT_EQ(status(), "Tweet Failed");
    const auto shown = user->callsOf("showMessage");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("onnect"), std::string::npos) << shown[0].text;
    answerInputs({"typed in the outage"});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    for (std::int64_t seconds : {2, 4, 8, 16}) after(seconds);
    EXPECT_EQ(messages(), 1u) << "one box per outage";
    EXPECT_EQ(status(), "Tweet Failed");
    EXPECT_EQ(outbox(), (std::vector<std::string>{"first", "typed in the outage"}));

    ASSERT_TRUE(venue.start(port)) << venue.error();
    after(32);
    EXPECT_EQ(timelineTexts(venue), (std::vector<std::string>{"first", "typed in the outage"}));
    EXPECT_EQ(status(), "Tweet OK");

    // A new outage says so again.
    venue.stop();
    CTrackpostTestAccess::queue(*plugin, "second outage");
    pacing->step();
    EXPECT_EQ(messages(), 2u);
}

TEST_F(LiveSet, WhileHeldBackANewAnnouncementReplacesTheOneWaitingButNotAManualOne) {
    loadLoggedIn();
    const json down = {{"path", STATUS_UPDATE}, {"status", 503}, {"body", ""}};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(sandbox().queueFault(down));
    host.answer("deck active play", 1.0);
    host.answer("setting 'historyDelay'", 0.0);
    host.loadTrack("a.mp3", "A", "Band");
    setValue(CTrackpost::PARAM_AUTO_TWEET, 1);
    pacing->step();  // A announced, its post fails
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();  // A composed by hand, behind its announcement
    EXPECT_EQ(outbox().size(), 2u);
    host.loadTrack("b.mp3", "B", "Band");
    pacing->step();  // B announced; A's announcement gives way, the manual one stays
    EXPECT_EQ(outbox(), (std::vector<std::string>{"Now playing Band - A on #Spinforge",
                                                  "Now playing Band - B on #Spinforge"}));
    EXPECT_EQ(status(), "Tweet Failed");
    after(2);
    after(4);
    after(8);
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{"Now playing Band - A on #Spinforge",
                                                         "Now playing Band - B on #Spinforge"}));
}

TEST_F(LiveSet, ARateLimitIsWaitedOutWithoutABox) {
    loadLoggedIn();
    ASSERT_TRUE(sandbox().queueFault(V1_RATE_LIMIT));
    CTrackpostTestAccess::queue(*plugin, "limited");
    CTrackpostTestAccess::queue(*plugin, "behind it");
    pacing->step();
    EXPECT_EQ(status(), "Rate Limited");
    EXPECT_EQ(messages(), 0u);
    EXPECT_EQ(outbox(), (std::vector<std::string>{"limited", "behind it"}));
    // The answer gave no reset: 15 minutes.
    after(Outbox::DEFAULT_LIMIT_SECONDS - 1);
    EXPECT_EQ(posts(), 1u);
    after(1);
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{"limited", "behind it"}));
    EXPECT_EQ(status(), "Tweet OK");
}

TEST_F(LiveSet, ARevokedLoginKeepsTheTextForTheNextLogin) {
    loadLoggedIn();
    ASSERT_TRUE(sandbox().queueFault({{"path", STATUS_UPDATE}, {"revoke_token", true}}));
    CTrackpostTestAccess::queue(*plugin, "after the new login");
    pacing->step();
    EXPECT_EQ(status(), "Login Failed");
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_EQ(lastCommand(), AUTH_OFF);
    EXPECT_EQ(access(), preIssuedBlock()) << "left for the user to replace";
    EXPECT_EQ(outbox(), std::vector<std::string>{"after the new login"});
    EXPECT_EQ(messages(), 0u);

    logIn();
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"after the new login"});
    EXPECT_NE(access(), preIssuedBlock());
}

// Credits run out, are topped up, and later the account is suspended: each blocked period says
// why once.
TEST_F(LiveSet, ABlockedAccountSaysWhyAgainAfterAPostWentThrough) {
    const char credits[] =
        R"({"title":"CreditsDepleted","detail":"Your enrolled account does not have any credits to fulfill this request.","type":"https://api.twitter.com/2/problems/credits","status":402})";
    const char suspended[] =
        R"({"errors":[{"code":64,"message":"Your account is suspended and is not permitted to access this feature."}]})";
    const json noCredits = {{"path", STATUS_UPDATE}, {"status", 402}, {"body", credits}};
    const json isSuspended = {{"path", STATUS_UPDATE}, {"status", 403}, {"body", suspended}};
    loadLoggedIn();
    const auto postWith = [&](const std::vector<json>& faults, const std::string& text) {
        for (const json& fault : faults) ASSERT_TRUE(sandbox().queueFault(fault));
        CTrackpostTestAccess::queue(*plugin, text);
        pacing->step();
    };
    postWith({noCredits}, "no credits");
    postWith({noCredits}, "no credits either");
    postWith({}, "topped up");
    postWith({isSuspended}, "suspended");
    postWith({isSuspended}, "still suspended");

    std::vector<std::string> shown;
    for (const auto& call : user->callsOf("showMessage")) shown.push_back(call.text);
    EXPECT_EQ(shown,
              (std::vector<std::string>{
                  "Your enrolled account does not have any credits to fulfill this request.",
                  "Your account is suspended and is not permitted to access this feature."}));
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"topped up"});
    EXPECT_TRUE(outbox().empty()) << "refused texts are dropped";
    EXPECT_EQ(status(), "Tweet Not Accepted");
}

TEST_F(LiveSet, AClockThatIsOffIsCorrectedFromTheServicesDate) {
    loadLoggedIn();
    // Our clock 20 minutes ahead of the service's.
    CTrackpostTestAccess::client(*plugin).getOAuth().setClockOffset(1200);
    CTrackpostTestAccess::queue(*plugin, "signed again");
    CTrackpostTestAccess::queue(*plugin, "signed right");
    pacing->step();
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{"signed again", "signed right"}));
    EXPECT_EQ(restRequests(sandbox()),
              (std::vector<std::string>{"GET /1.1/account/verify_credentials.json ok",
                                        "POST /1.1/statuses/update.json error 135",
                                        "POST /1.1/statuses/update.json ok",
                                        "POST /1.1/statuses/update.json ok"}));
    EXPECT_LE(std::abs(CTrackpostTestAccess::client(*plugin).getOAuth().getClockOffset()), 2);
    EXPECT_EQ(messages(), 0u);
}

}  // namespace
