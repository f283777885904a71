// Accounts the service no longer serves v1.1: the plug-in against a sandbox that refuses every
// v1.1 call with code 453, and against the usual sandbox with that refusal injected once.
#include <gtest/gtest.h>

#include <optional>

#include "AnswerVerdict.h"
#include "plugin_sandbox_support.h"

using nlohmann::json;

namespace {

const char USERS_ME[] = "/2/users/me";
const char TWEETS[] = "/2/tweets";

// The refusal the service sends where the account has no v1.1 access.
const char NO_V1_ACCESS[] =
    "{\"errors\":[{\"message\":\"You currently have access to a subset of X API V2 endpoints and "
    "limited v1.1 endpoints (e.g. media post, oauth) only. If you need access to this endpoint, "
    "you may need a different access level. You can learn more here: "
    "https://developer.x.com/en/portal/product\",\"code\":453}]}";

class PluginWithoutV1Access : public PluginAgainstSandbox {
  protected:
    SandboxService& service() override { return v2OnlySandbox(); }
};

}  // namespace

TEST_F(PluginWithoutV1Access, LoginByPinThenEveryTextGoesOutThroughV2) {
    load();
    logIn();
    EXPECT_EQ(status(), "Logged In");
    EXPECT_EQ(lastCommand(), AUTH_ON);
    EXPECT_NE(access(), std::string(CTrackpost::ACCESS_SIZE, '\0')) << "the login is kept";

    host.loadTrack("a.mp3", "Strobe", "Deadline");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    answerInputs({"Thanks for dancing \"all night\" \xE2\x80\x94 see you!"});
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    pacing->step();
    EXPECT_EQ(status(), "Tweet OK");
    // (The typed text is queued at once, the manual tweet composed in the worker's pass.)
    EXPECT_EQ(timelineTexts(service()),
              (std::vector<std::string>{"Thanks for dancing \"all night\" \xE2\x80\x94 see you!",
                                        "Now playing Deadline - Strobe on #Spinforge"}));

    // The same text again: the service's duplicate refusal.
    CTrackpostTestAccess::queue(*plugin, "Now playing Deadline - Strobe on #Spinforge");
    pacing->step();
    EXPECT_EQ(status(), "Tweet Not Accepted");
    EXPECT_TRUE(user->callsOf("showMessage").empty());

    // One v1.1 request was refused; every later step went to v2 directly.
    EXPECT_EQ(restRequests(service()),
              (std::vector<std::string>{"GET /1.1/account/verify_credentials.json error 453",
                                        "GET /2/users/me ok", "POST /2/tweets ok",
                                        "POST /2/tweets ok", "POST /2/tweets error 403"}));
}

TEST_F(PluginWithoutV1Access, AKeptLoginIsVerifiedThroughV2AndTheAutoTweetPosted) {
    loadLoggedIn();
    EXPECT_EQ(lastCommand(), AUTH_ON);
    host.loadTrack("b.mp3", "Roller", "Nightshift");
    host.answer("deck active play", 1.0);
    host.answer("setting 'historyDelay'", 2.0);
    setValue(CTrackpost::PARAM_AUTO_TWEET, 1);
    pacing->step();
    pacing->clock += 2;
    pacing->step();
    EXPECT_EQ(timelineTexts(service()),
              std::vector<std::string>{"Now playing Nightshift - Roller on #Spinforge"});
    EXPECT_EQ(status(), "Tweet OK");
    EXPECT_EQ(restRequests(service()),
              (std::vector<std::string>{"GET /1.1/account/verify_credentials.json error 453",
                                        "GET /2/users/me ok", "POST /2/tweets ok"}));
}

// v2 answers judged: what counts as accepted and what as a refusal.
TEST_F(PluginWithoutV1Access, V2Outcomes) {
    const std::vector<PostCase> cases = {
        {"created", std::nullopt, "Tweet OK", false},
        {"created, with errors beside the data",
         json{{"path", TWEETS},
              {"status", 201},
              {"body", "{\"data\":{\"id\":\"1\",\"text\":\"x\"},\"errors\":[{\"title\":\"x\"}]}"}},
         "Tweet OK", false},
        {"2xx without data", json{{"path", TWEETS}, {"status", 200}, {"body", "{\"errors\":[]}"}},
         "Tweet Not Accepted", false},
        {"2xx with a text page", json{{"path", TWEETS}, {"status", 200}, {"body", "fine"}},
         "Tweet Not Accepted", false},
        {"2xx with null data", json{{"path", TWEETS}, {"status", 201}, {"body", "{\"data\":null}"}},
         "Tweet Not Accepted", false},
    };
    loadLoggedIn();
    expectPostOutcomes(cases);
    EXPECT_EQ(requestsTo(TWEETS, service()).size(), cases.size());
    EXPECT_EQ(requestsTo("/1.1/", service()).size(), 1u) << "only the verification at load";
}

// v2's limits, server errors and lost logins keep the text, as v1.1's do.
TEST_F(PluginWithoutV1Access, V2AnswersThatKeepTheText) {
    struct Case {
        const char* name;
        json fault;
        const char* status;
        std::int64_t wait;  // until the text goes out
    };
    const Case cases[] = {
        {"too many requests",
         {{"path", TWEETS},
          {"status", 429},
          {"body",
           R"({"title":"Too Many Requests","detail":"Too Many Requests","type":"about:blank","status":429})"}},
         "Rate Limited",
         Outbox::DEFAULT_LIMIT_SECONDS},
        {"usage cap",
         {{"path", TWEETS},
          {"status", 429},
          {"body",
           R"({"title":"UsageCapExceeded","detail":"Usage cap exceeded: Monthly product cap","type":"https://api.twitter.com/2/problems/usage-capped","status":429})"}},
         "Rate Limited",
         Outbox::DEFAULT_LIMIT_SECONDS},
        {"service unavailable",
         {{"path", TWEETS}, {"status", 503}, {"body", ""}},
         "Tweet Failed",
         Outbox::FIRST_RETRY_SECONDS},
        {"answer cut short",
         {{"path", TWEETS}, {"truncate", true}},
         "Tweet Failed",
         Outbox::FIRST_RETRY_SECONDS},
    };
    loadLoggedIn();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(service().queueFault(c.fault));
        const std::string text = "kept " + std::to_string(++n);
        CTrackpostTestAccess::queue(*plugin, text);
        pacing->step();
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(outbox(), std::vector<std::string>{text});
        pacing->clock += c.wait;
        pacing->step();
        EXPECT_EQ(status(), "Tweet OK");
        EXPECT_EQ(timelineTexts(service()).back(), text);
    }

    ASSERT_TRUE(service().queueFault(
        {{"path", TWEETS},
         {"status", 401},
         {"body",
          R"({"title":"Unauthorized","type":"about:blank","status":401,"detail":"Unauthorized"})"}}));
    CTrackpostTestAccess::queue(*plugin, "waits for a login");
    pacing->step();
    EXPECT_EQ(status(), "Login Failed");
    EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
    EXPECT_EQ(outbox(), std::vector<std::string>{"waits for a login"});
}

// The verification through v2, after the PIN and at load.
TEST_F(PluginWithoutV1Access, V2VerificationFailures) {
    const json refused = {{"path", USERS_ME},
                          {"status", 401},
                          {"body",
                           "{\"title\":\"Unauthorized\",\"type\":\"about:blank\","
                           "\"status\":401,\"detail\":\"Unauthorized\"}"}};
    const json cutShort = {{"path", USERS_ME}, {"truncate", true}};

    load();
    for (const auto& [fault, wanted, message] :
         {std::tuple{refused, "PIN Failed", false}, std::tuple{cutShort, "Login Failed", true}}) {
        SCOPED_TRACE(wanted);
        forgetDialogCalls();
        const std::string pin = beginLogin();
        ASSERT_FALSE(pin.empty());
        ASSERT_TRUE(service().queueFault(fault));
        enterPin(pin);
        EXPECT_EQ(status(), wanted);
        EXPECT_EQ(access(), std::string(CTrackpost::ACCESS_SIZE, '\0'));
        EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*plugin));
        EXPECT_EQ(user->callsOf("showMessage").size(), message ? 1u : 0u);
    }

    // At load a refused or unchecked login is kept for the next load.
    for (const json& fault : {refused, cutShort}) {
        ScriptedHost h;
        h.kept[CTrackpost::PARAM_ACCESS] = preIssuedBlock();
        ASSERT_TRUE(service().queueFault(fault));
        auto script = std::make_shared<ScriptedDialogs::Script>();
        SteppedPacing* pace = nullptr;
        CTrackpost* p = loadScripted(h, script, pace);
        ASSERT_NE(p, nullptr);
        pace->awaitPauses(1);
        EXPECT_EQ(CTrackpostTestAccess::status(*p), "Login Failed");
        EXPECT_FALSE(CTrackpostTestAccess::loggedIn(*p));
        EXPECT_EQ(std::string(CTrackpostTestAccess::access(*p), CTrackpost::ACCESS_SIZE),
                  preIssuedBlock());
        p->Release();
    }
}

// Where v1.1 is served, one 453 refusal moves the rest of the load to v2; other refusals don't.
TEST_F(PluginAgainstSandbox, ARefusalWithCode453MovesTheRestOfTheLoadToV2) {
    loadLoggedIn();
    ASSERT_TRUE(sandbox().queueFault(
        {{"path", STATUS_UPDATE},
         {"status", 403},
         {"body", "{\"errors\":[{\"code\":187,\"message\":\"Status is a duplicate.\"}]}"}}));
    CTrackpostTestAccess::queue(*plugin, "refused otherwise");
    pacing->step();
    EXPECT_EQ(status(), "Tweet Not Accepted");

    ASSERT_TRUE(
        sandbox().queueFault({{"path", STATUS_UPDATE}, {"status", 403}, {"body", NO_V1_ACCESS}}));
    CTrackpostTestAccess::queue(*plugin, "first through v2");
    CTrackpostTestAccess::queue(*plugin, "second through v2");
    pacing->step();
    EXPECT_EQ(status(), "Tweet OK");
    EXPECT_EQ(timelineTexts(), (std::vector<std::string>{"first through v2", "second through v2"}));
    EXPECT_EQ(restRequests(sandbox()),
              (std::vector<std::string>{"GET /1.1/account/verify_credentials.json ok",
                                        "POST /1.1/statuses/update.json fault status",
                                        "POST /1.1/statuses/update.json fault status",
                                        "POST /2/tweets ok", "POST /2/tweets ok"}));
}

// The verdicts on bodies the service, a proxy or a broken answer may bring.
TEST(AnswerVerdicts, CodeAndDataAreReadFromTheJsonNotItsText) {
    struct Case {
        const char* name;
        long status;
        std::string body;
        bool deniesV1;
        bool v2Refused;
    };
    const Case cases[] = {
        {"the 453 refusal", 403, NO_V1_ACCESS, true, true},
        {"453 among other errors", 403, "{\"errors\":[{\"code\":88},{\"code\":453}]}", true, true},
        {"453 at 200 still begins with the error prefix", 200, "{\"errors\":[{\"code\":453}]}",
         true, true},
        {"another code", 403, "{\"errors\":[{\"code\":187,\"message\":\"453\"}]}", false, true},
        {"the code as text", 403, "{\"errors\":[{\"code\":\"453\"}]}", false, true},
        {"errors not a list", 403, "{\"errors\":{\"code\":453}}", false, true},
        {"453 in a page", 403, "<html>code 453</html>", false, true},
        {"cut short", 403, "{\"errors\":[{\"code\":453", false, true},
        {"v2 created", 201, "{\"data\":{\"id\":\"1\",\"text\":\"x\"}}", false, false},
        {"v2 data beside errors", 200, "{\"data\":{\"id\":\"1\"},\"errors\":[{\"code\":453}]}",
         false, false},
        {"v2 data not an object", 200, "{\"data\":[1]}", false, true},
        {"v2 refusal with data", 403, "{\"data\":{\"id\":\"1\"}}", false, true},
        {"no answer at all", 0, "", false, true},
        {"empty 200", 200, "", false, true},
        {"deeply nested", 200, std::string(100000, '[') + std::string(100000, ']'), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerDeniesV1(c.status, c.body), c.deniesV1);
        EXPECT_EQ(v2AnswerRefused(c.status, c.body), c.v2Refused);
    }
}
