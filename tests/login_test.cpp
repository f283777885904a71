// The plug-in's login, buttons and posting, in process, against the sandbox service over real
// HTTPS: the plug-in is the sandbox build, which reaches the service's addresses through the
// sandbox's entrance.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>

#include "plugin_sandbox_support.h"

using nlohmann::json;

namespace {

// ---------------------------------------------------------------------------------------------
// Login by PIN

TEST_F(PluginAgainstSandbox, LoginByPinKeepsTheTokenAndPostsWhatWaited) {
    load();
    host.loadTrack("a.mp3", "Strobe", "Deadline");
    answerInputs({"typed first"});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    EXPECT_EQ(outbox(), (std::vector<std::string>{"typed first",
                                                  "Now playing Deadline - Strobe on #Spinforge"}))
        << "logged out: texts wait";

    logIn();
    EXPECT_EQ(lastCommand(), AUTH_ON);
    EXPECT_TRUE(CTrackpostTestAccess::loggedIn(*plugin));
    // The pass that logged in posted what waited, in order.
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{
                                   "typed first", "Now playing Deadline - Strobe on #Spinforge"}));
    EXPECT_TRUE(outbox().empty());
    EXPECT_EQ(status(), "Tweet OK");

    // The dialogs the user saw, in order, with their texts.
    const auto calls = user->callsOf("showRequest");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, ASK_BROWSER);
    EXPECT_EQ(calls[0].headline, "Trackpost");
    const auto urls = user->callsOf("openURL");
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0].text.rfind("https://api.twitter.com/oauth/authorize?oauth_token=", 0), 0u);
    const auto inputs = user->callsOf("getInput");
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[1].text, "Enter PIN");
    EXPECT_EQ(inputs[1].value, "");
    EXPECT_TRUE(user->callsOf("showMessage").empty());

    // The kept block holds a token the service accepts, key and secret in their halves.
    const std::string block = access();
    const std::string key(block.c_str()), secret(block.c_str() + CTrackpost::ACCESS_SIZE / 2);
    EXPECT_FALSE(key.empty());
    EXPECT_FALSE(secret.empty());
    EXPECT_EQ(block.find_first_not_of('\0', key.size()), CTrackpost::ACCESS_SIZE / 2);
    EXPECT_EQ(block.find_first_not_of('\0', CTrackpost::ACCESS_SIZE / 2 + secret.size()),
              std::string::npos);
    twitterClient check;
    sandbox().configure(check, false);
    check.getOAuth().setOAuthTokenKey(key);
    check.getOAuth().setOAuthTokenSecret(secret);
    ASSERT_TRUE(check.accountVerifyCredGet());
    EXPECT_EQ(check.getLastHttpStatus(), 200);
    EXPECT_TRUE(requestsTo("/2/").empty()) << "no v2 request where v1.1 is served";
}

TEST_F(PluginAgainstSandbox, AuthDeclinedChangesNothing) {
    loadLoggedIn();
    const std::size_t commands = commandCount();
    const std::size_t requests = serviceRequests().size();
    answerRequest(false);
    pressButton(CTrackpost::PARAM_AUTH);
    EXPECT_EQ(status(), "Logged In");
    EXPECT_EQ(access(), preIssuedBlock());
    EXPECT_EQ(commandCount(), commands);
    EXPECT_EQ(serviceRequests().size(), requests);
    EXPECT_TRUE(user->callsOf("openURL").empty());
}

TEST_F(PluginAgainstSandbox, WrongPinGivesPinFailed) {
    load();
    ASSERT_FALSE(beginLogin().empty());
    enterPin("1234567x");
    EXPECT_EQ(status(), "PIN Failed");
    EXPECT_EQ(access(), std::string(CTrackpost::ACCESS_SIZE, '\0'));
    EXPECT_EQ(lastCommand(), AUTH_OFF);
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_TRUE(user->callsOf("showMessage").empty());
}

// Every failing step of the login ends logged out, with the status and message it calls for.
TEST_F(PluginAgainstSandbox, LoginFailures) {
    struct Case {
        const char* name;
        bool atPin;  // the fault meets the PIN step, else the Auth step
        json fault;
        const char* status;
        const char* message;  // part of the message shown; null for none
    };
    const Case cases[] = {
        {"request token: connection reset",
         false,
         {{"path", "/oauth/request_token"}, {"reset", true}},
         "Login Failed",
         ""},
        {"request token: answer without a token",
         false,
         {{"path", "/oauth/request_token"},
          {"status", 200},
          {"body", "oauth_callback_confirmed=true"}},
         "Login Failed",
         "HTTP status 200"},
        {"request token: refused",
         false,
         {{"path", "/oauth/request_token"},
          {"status", 401},
          {"body", "{\"errors\":[{\"code\":32,\"message\":\"Could not authenticate you.\"}]}"}},
         "Login Failed",
         "HTTP status 401"},
        {"access token: answer cut short",
         true,
         {{"path", "/oauth/access_token"}, {"truncate", true}},
         "Login Failed",
         ""},
        {"verification: answer cut short",
         true,
         {{"path", VERIFY}, {"truncate", true}},
         "Login Failed",
         ""},
        {"verification: a 500 page",
         true,
         {{"path", VERIFY}, {"status", 500}, {"body", "<html>Something broke</html>"}},
         "PIN Failed",
         nullptr},
    };
    load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sandbox().reset());
        forgetDialogCalls();
        if (!c.atPin) {
            ASSERT_TRUE(sandbox().queueFault(c.fault));
        }
        const std::string pin = beginLogin();
        if (c.atPin) {
            ASSERT_FALSE(pin.empty());
            ASSERT_TRUE(sandbox().queueFault(c.fault));
            enterPin(pin);
        } else {
            EXPECT_TRUE(user->callsOf("openURL").empty()) << "no address without a token";
        }
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(access(), std::string(CTrackpost::ACCESS_SIZE, '\0'));
        EXPECT_EQ(lastCommand(), AUTH_OFF);
        EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
        const auto messages = user->callsOf("showMessage");
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_FALSE(messages[0].text.empty()) << "the user learns why";
            EXPECT_NE(messages[0].text.find(c.message), std::string::npos) << messages[0].text;
            EXPECT_EQ(messages[0].headline, "Trackpost");
        }
    }
}

TEST_F(PluginAgainstSandbox, PinIsIgnoredWhileLoggedInAndLogoutForgetsTheLogin) {
    loadLoggedIn();
    const std::size_t requests = serviceRequests().size();
    pressButton(CTrackpost::PARAM_PIN);
    EXPECT_TRUE(user->callsOf("getInput").empty());
    EXPECT_EQ(serviceRequests().size(), requests);

    pressButton(CTrackpost::PARAM_LOGOUT);
    EXPECT_EQ(status(), "Not Logged In");
    EXPECT_EQ(access(), std::string(CTrackpost::ACCESS_SIZE, '\0'));
    EXPECT_EQ(lastCommand(), AUTH_OFF);
    CTrackpostTestAccess::queue(*plugin, "after logout");
    pacing->step();
    EXPECT_EQ(outbox(), std::vector<std::string>{"after logout"});
    EXPECT_TRUE(timelineTexts().empty());

    plugin->logout("a status text far longer than the sixty-three characters its field holds");
    EXPECT_EQ(status(), "a status text far longer than the sixty-three characters its fi");
}

TEST_F(PluginAgainstSandbox, EmptyAnswersChangeNothingAndButtonsAtOneDoNothing) {
    load();
    for (std::int32_t id : {0, 1, 3, 4, 5, 6}) {
        spfStoreInt32(host.storage<std::int32_t>(id), 1);
        plugin->OnParameter(id);
    }
    EXPECT_TRUE(user->callsOf("showRequest").empty());
    EXPECT_TRUE(user->callsOf("getInput").empty());
    for (std::int32_t id : {0, 1, 3, 4, 5, 6}) spfStoreInt32(host.storage<std::int32_t>(id), 0);

    const std::size_t commands = commandCount();
    answerInputs({" \t", std::nullopt, "", std::nullopt});
    pressButton(CTrackpost::PARAM_PIN);            // blank PIN
    pressButton(CTrackpost::PARAM_PIN);            // cancelled
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);  // empty tweet
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);  // cancelled
    pacing->step();
    EXPECT_EQ(user->callsOf("getInput").size(), 4u);
    EXPECT_TRUE(outbox().empty());
    EXPECT_EQ(status(), "Not Logged In");
    EXPECT_EQ(commandCount(), commands);
    EXPECT_TRUE(serviceRequests().empty());
}

TEST_F(PluginAgainstSandbox, EditTemplateAnswers) {
    load();
    const std::string defaultTemplate = "Now playing %ARTIST% - %TITLE% on #Spinforge";
    struct Case {
        std::optional<std::string> answer;
        std::string before, after;
    };
    const Case cases[] = {
        {std::nullopt, defaultTemplate, defaultTemplate},  // cancel keeps it
        {"%TITLE% by %ARTIST%", defaultTemplate, "%TITLE% by %ARTIST%"},
        {"", "%TITLE% by %ARTIST%", ""},  // confirmed empty: empty
        {std::string(600, 'x'), "", std::string(511, 'x')},
    };
    for (const Case& c : cases) {
        answerInputs({c.answer});
        pressButton(CTrackpost::PARAM_EDIT_TEMPLATE);
        const auto asked = user->callsOf("getInput").back();
        EXPECT_EQ(asked.text, "Please enter your tweet template");
        EXPECT_EQ(asked.value, c.before) << "the current template is the default answer";
        EXPECT_EQ(CTrackpostTestAccess::tweetTemplate(*plugin), c.after);
    }
}

// ---------------------------------------------------------------------------------------------
// Restore at load

TEST_F(PluginAgainstSandbox, RestoreAtLoad) {
    struct Case {
        const char* name;
        std::string block;
        std::optional<json> fault;
        bool networkDown;
        const char* status;
        std::size_t verifications;
    };
    const std::string unknown = accessBlock("100001-NoSuchToken", "NoSuchSecret");
    std::string keyOnly = preIssuedBlock();
    keyOnly[CTrackpost::ACCESS_SIZE / 2] = '\0';
    const Case cases[] = {
        {"kept token verified", preIssuedBlock(), std::nullopt, false, "Logged In", 1},
        {"no network", preIssuedBlock(), std::nullopt, true, "Login Failed", 0},
        {"token refused", unknown, std::nullopt, false, "Login Failed", 1},
        {"a 500 page", preIssuedBlock(),
         json{{"path", VERIFY}, {"status", 500}, {"body", "<html>down</html>"}}, false,
         "Login Failed", 1},
        {"rate limited", preIssuedBlock(),
         json{{"path", VERIFY},
              {"status", 429},
              {"body", "{\"errors\":[{\"code\":88,\"message\":\"Rate limit exceeded\"}]}"}},
         false, "Login Failed", 1},
        {"secret missing", keyOnly, std::nullopt, false, "Not Logged In", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sandbox().reset());
        if (c.fault) {
            ASSERT_TRUE(sandbox().queueFault(*c.fault));
        }
        pointPluginAt(c.networkDown ? closedPort() : sandbox().port());
        ScriptedHost h;
        h.kept[CTrackpost::PARAM_ACCESS] = c.block;
        auto script = std::make_shared<ScriptedDialogs::Script>();
        SteppedPacing* pace = nullptr;
        CTrackpost* p = loadScripted(h, script, pace);
        ASSERT_NE(p, nullptr);
        pace->awaitPauses(1);  // the worker checks the kept login in its first pass

        const bool restored = std::string(c.status) == "Logged In";
        EXPECT_EQ(CTrackpostTestAccess::status(*p), c.status);
        EXPECT_EQ(CTrackpostTestAccess::loggedIn(*p), restored);
        EXPECT_EQ(commandsAbout(h, "$trackpost_auth"), std::vector<std::string>{AUTH_OFF})
            << "none off the host's thread";
        ScriptedHost::refresh(*p);
        EXPECT_EQ(commandsAbout(h, "$trackpost_auth").back(), restored ? AUTH_ON : AUTH_OFF);
        EXPECT_EQ(std::string(CTrackpostTestAccess::access(*p), CTrackpost::ACCESS_SIZE), c.block)
            << "the kept login is never lost at load";
        EXPECT_EQ(requestsTo(VERIFY).size(), c.verifications);
        EXPECT_TRUE(script->calls.empty()) << "no dialog at load";

        // Texts wait while the login isn't restored, and go out when it is.
        pointPluginAt(sandbox().port());
        CTrackpostTestAccess::queue(*p, std::string("text after ") + c.name);
        pace->step();
        EXPECT_EQ(CTrackpostTestAccess::outbox(*p).empty(), restored);
        EXPECT_EQ(timelineTexts().size(), restored ? 1u : 0u);
        p->Release();
    }
}

// ---------------------------------------------------------------------------------------------
// Posting

TEST_F(PluginAgainstSandbox, PostingOutcomes) {
    const std::vector<PostCase> cases = {
        {"accepted", std::nullopt, "Tweet OK", false},
        {"an error object at 200",
         json{{"path", STATUS_UPDATE}, {"status", 200}, {"body", "{\"errors\":[{\"code\":1}]}"}},
         "Tweet Not Accepted", false},
        {"too long",
         json{{"path", STATUS_UPDATE},
              {"status", 403},
              {"body",
               "{\"errors\":[{\"code\":186,\"message\":\"Status is over 280 characters.\"}]}"}},
         "Tweet Not Accepted", false},
        {"a text page at 200", json{{"path", STATUS_UPDATE}, {"status", 200}, {"body", "fine"}},
         "Tweet OK", false},
        {"an error object after a blank",
         json{{"path", STATUS_UPDATE}, {"status", 200}, {"body", " {\"errors\":[{\"code\":1}]}"}},
         "Tweet OK", false},
    };
    loadLoggedIn();
    expectPostOutcomes(cases);
    EXPECT_EQ(requestsTo(STATUS_UPDATE).size(), cases.size());

    // The service refuses a text it has seen, however long ago.
    CTrackpostTestAccess::queue(*plugin, "text 1");
    pacing->step();
    EXPECT_EQ(status(), "Tweet Not Accepted");
}

TEST_F(PluginAgainstSandbox, AnEmptyTextFailsAloneAndTheNextIsStillPosted) {
    loadLoggedIn();
    std::vector<std::string> statusAtMessage;
    {
        std::lock_guard<std::mutex> guard(user->lock);
        user->onMessage = [&](const std::string&) { statusAtMessage.push_back(status()); };
    }
    for (const char* text : {"first", "", "third"}) CTrackpostTestAccess::queue(*plugin, text);
    pacing->step();
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(statusAtMessage, std::vector<std::string>{"Tweet Failed"});
    EXPECT_EQ(status(), "Tweet OK");
}

TEST_F(PluginAgainstSandbox, LogoutDuringAPostStopsAfterThatPost) {
    loadLoggedIn();
    ASSERT_TRUE(sandbox().queueFault({{"path", STATUS_UPDATE}, {"delay", 1.0}}));
    CTrackpostTestAccess::queue(*plugin, "under way");
    CTrackpostTestAccess::queue(*plugin, "waits");
    const long passEnd = pacing->grant();
    ASSERT_TRUE(eventually([&] { return status() == "Sending Tweet"; }));
    pressButton(CTrackpost::PARAM_LOGOUT);  // returns while the post is under way
    EXPECT_TRUE(timelineTexts().empty());
    pacing->awaitPauses(passEnd);
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"under way"});
    EXPECT_EQ(outbox(), std::vector<std::string>{"waits"});
    EXPECT_EQ(status(), "Tweet OK") << "the post that began ran to its end";
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
}

// The host's buttons never wait for the network: they return while a post hangs.
TEST_F(PluginAgainstSandbox, ButtonsReturnWhileAPostStalls) {
    loadLoggedIn();
    host.loadTrack("b.mp3", "Title", "Artist");
    ASSERT_TRUE(sandbox().queueFault({{"path", STATUS_UPDATE}, {"delay", 3.0}}));
    CTrackpostTestAccess::queue(*plugin, "stalled");
    const long passEnd = pacing->grant();
    ASSERT_TRUE(eventually([&] { return status() == "Sending Tweet"; }));

    answerInputs({"typed meanwhile", "%TITLE%!"});
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<const char*, double>> took;
    for (auto [name, id] : {std::pair{"Manual Tweet", CTrackpost::PARAM_MANUAL_TWEET},
                            std::pair{"Tweet Message", CTrackpost::PARAM_TWEET_MESSAGE},
                            std::pair{"Edit Template", CTrackpost::PARAM_EDIT_TEMPLATE},
                            std::pair{"Logout", CTrackpost::PARAM_LOGOUT}}) {
        const auto start = Clock::now();
        pressButton(id);
        took.emplace_back(name,
                          std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    // All four returned before the stalled post ended.
    EXPECT_EQ(status(), "Not Logged In");
    EXPECT_TRUE(timelineTexts().empty());
    // (The text under way keeps its place until its answer comes.)
    EXPECT_EQ(outbox(), (std::vector<std::string>{"stalled", "typed meanwhile"}));
    for (const auto& [name, ms] : took)
        std::cout << "  " << name << " returned in " << ms << " ms\n";

    pacing->awaitPauses(passEnd);
    EXPECT_EQ(timelineTexts(), std::vector<std::string>{"stalled"});
    pacing->step();  // the manual request is composed with the new template; logged out, it waits
    EXPECT_EQ(outbox(), (std::vector<std::string>{"typed meanwhile", "Title!"}));
}

// Release lets a post under way finish, but cuts off one that stalls after a short grace instead
// of holding the host until the client's stall limit; the cut-off is not reported to the user.
TEST_F(PluginAgainstSandbox, ReleaseDuringAPost) {
    struct Case {
        const char* name;
        nlohmann::json fault;
        bool stored;
    };
    for (const Case& c : {Case{"slow", {{"path", STATUS_UPDATE}, {"delay", 1.0}}, true},
                          Case{"stalled", {{"path", STATUS_UPDATE}, {"stall", 120.0}}, false}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sandbox().reset());
        loadLoggedIn();
        ASSERT_TRUE(sandbox().queueFault(c.fault));
        CTrackpostTestAccess::queue(*plugin, c.name);
        pacing->grant();
        ASSERT_TRUE(eventually([&] { return status() == "Sending Tweet"; }));
        const auto start = std::chrono::steady_clock::now();
        plugin->Release();
        plugin = nullptr;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "  Release during a " << c.name << " post returned after " << seconds
                  << " s\n";
        EXPECT_LT(seconds, std::chrono::duration<double>(CTrackpost::RELEASE_GRACE).count() + 5);
        EXPECT_EQ(timelineTexts(),
                  c.stored ? std::vector<std::string>{c.name} : std::vector<std::string>{});
        EXPECT_TRUE(user->callsOf("showMessage").empty());
        forgetDialogCalls();
    }
}

// Logins, logouts and button presses on the host's thread while the worker composes and posts
// on its own clock: nothing may race (run under ThreadSanitizer) and the login ends consistent.
TEST_F(PluginAgainstSandbox, HostThreadAndWorkerTogether) {
    plugin = makePlugin(&host);
    ASSERT_NE(plugin, nullptr);
    CTrackpostTestAccess::setDialogs(*plugin, std::make_unique<ScriptedDialogs>(user));
    host.loadTrack("c.mp3", "Song", "Band");
    host.answer("deck active play", 1.0);
    host.answer("setting 'historyDelay'", 0.0);
    ASSERT_EQ(plugin->OnLoad(), SPF_OK);  // the real 5 ms pacing
    setValue(CTrackpost::PARAM_AUTO_TWEET, 1);

    for (int round = 0; round < 3; ++round) {
        logIn();
        for (int i = 0; i < 5; ++i) {
            host.loadTrack("c" + std::to_string(round * 10 + i) + ".mp3", "Song", "Band");
            answerInputs(
                {"typed " + std::to_string(round * 10 + i), "%TITLE% " + std::to_string(i)});
            pressButton(CTrackpost::PARAM_MANUAL_TWEET);
            pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
            pressButton(CTrackpost::PARAM_EDIT_TEMPLATE);
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
        EXPECT_TRUE(eventually([&] { return outbox().empty(); })) << "all posted while logged in";
        pressButton(CTrackpost::PARAM_LOGOUT);
        EXPECT_EQ(access(), std::string(CTrackpost::ACCESS_SIZE, '\0'));
    }
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_GE(timelineTexts().size(), 15u) << "every typed text went out";
}

}  // namespace
