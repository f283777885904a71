// The plug-in in process against a sandbox service over real HTTPS: the plug-in is the sandbox
// build, which reaches the service's addresses through the sandbox's entrance; the user and the
// host are scripted.
#ifndef TRACKPOST_PLUGIN_SANDBOX_SUPPORT_H
#define TRACKPOST_PLUGIN_SANDBOX_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "plugin_test_support.h"
#include "sandbox_test_support.h"
#include "twitterclient.h"

inline const char ASK_BROWSER[] =
    "Would you like to open your browser to enable this application in your twitter account?";
inline const char AUTH_ON[] = "set $trackpost_auth 1";
inline const char AUTH_OFF[] = "set $trackpost_auth 0";
inline const char STATUS_UPDATE[] = "/1.1/statuses/update.json";
inline const char VERIFY[] = "/1.1/account/verify_credentials.json";

inline const nlohmann::json& creds() {
    return SandboxService::credentials();
}

// The plug-in's proxy setting for the sandbox, or for a port where nothing listens.
inline void pointPluginAt(int port) {
    setenv("TRACKPOST_SANDBOX_PROXY", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
}

static_assert(ACCESS_BLOCK_SIZE == CTrackpost::ACCESS_SIZE);

// The commands the host was given about one variable ("set $NAME VALUE"), in order.
inline std::vector<std::string> commandsAbout(const ScriptedHost& host,
                                              const std::string& variable) {
    std::vector<std::string> out;
    for (const std::string& command : host.commands)
        if (command.rfind("set " + variable + " ", 0) == 0) out.push_back(command);
    return out;
}

// Requests to one path of the service.
inline std::vector<nlohmann::json> requestsTo(const std::string& path,
                                              const SandboxService& service = sandbox()) {
    std::vector<nlohmann::json> out;
    for (const auto& r : serviceRequests(service))
        if (r.at("path").get<std::string>().rfind(path, 0) == 0) out.push_back(r);
    return out;
}

// Method, path and the sandbox's verdict of each request to the service's REST API.
inline std::vector<std::string> restRequests(const SandboxService& service) {
    std::vector<std::string> out;
    for (const auto& r : serviceRequests(service)) {
        const std::string path = r.at("path");
        if (path.rfind("/oauth/", 0) == 0) continue;
        out.push_back(r.at("method").get<std::string>() + " " + path.substr(0, path.find('?')) +
                      " " + r.at("verdict").get<std::string>());
    }
    return out;
}

class PluginAgainstSandbox : public LoadedPlugin {
  protected:
    // The sandbox the plug-in talks to.
    virtual SandboxService& service() { return sandbox(); }

    void SetUp() override {
        ASSERT_GT(service().port(), 0);
        ASSERT_TRUE(service().reset());
        pointPluginAt(service().port());
    }

    std::string status() { return CTrackpostTestAccess::status(*plugin); }
    std::string access() {
        return std::string(CTrackpostTestAccess::access(*plugin), CTrackpost::ACCESS_SIZE);
    }
    // The last command the host was given about `variable`, once it has called into the
    // plug-in again.
    std::string lastCommand(const std::string& variable = "$trackpost_auth") {
        ScriptedHost::refresh(*plugin);
        std::lock_guard<std::mutex> guard(host.lock);
        const auto commands = commandsAbout(host, variable);
        return commands.empty() ? "" : commands.back();
    }
    std::size_t commandCount(const std::string& variable = "$trackpost_auth") {
        ScriptedHost::refresh(*plugin);
        std::lock_guard<std::mutex> guard(host.lock);
        return commandsAbout(host, variable).size();
    }
    bool hostWasTold(const std::string& command) {
        ScriptedHost::refresh(*plugin);
        std::lock_guard<std::mutex> guard(host.lock);
        return std::find(host.commands.begin(), host.commands.end(), command) !=
               host.commands.end();
    }
    // The posts stored at the network's server `host`, oldest first.
    std::vector<std::string> postsAt(const std::string& host) {
        std::vector<std::string> out;
        for (const auto& post : service().timeline(host)) out.push_back(post.at("text"));
        return out;
    }
    // The requests the sandbox answered at https://HOST/PATH..., in order.
    std::vector<nlohmann::json> requestsAt(const std::string& host, const std::string& path) {
        std::vector<nlohmann::json> out;
        for (const auto& r : serviceRequests(service()))
            if (r.at("url").get<std::string>().rfind("https://" + host + path, 0) == 0)
                out.push_back(r);
        return out;
    }
    void answerInputs(std::initializer_list<std::optional<std::string>> answers) {
        std::lock_guard<std::mutex> guard(user->lock);
        user->inputs.insert(user->inputs.end(), answers);
    }
    void answerRequest(bool yes) {
        std::lock_guard<std::mutex> guard(user->lock);
        user->requests.push_back(yes);
    }

    // Lets the worker take what the host's thread asked for: one pass when it is stepped,
    // otherwise (the real pacing) until `done`.
    void letWorkerRun(const std::function<bool()>& done) {
        if (pacing != nullptr)
            pacing->step();
        else
            ASSERT_TRUE(eventually(done));
    }

    // "Auth" answered Yes; the worker fetches the request token and opens the address, where the
    // browser approves the application. The PIN the page showed.
    std::string beginLogin() {
        std::string pin;
        bool opened = false;
        {
            std::lock_guard<std::mutex> guard(user->lock);
            user->requests.push_back(true);
            user->browser = [&](const std::string& url) {
                const std::string shown = approveInBrowser(url, service());
                std::lock_guard<std::mutex> g(user->lock);
                pin = shown;
                opened = true;
            };
        }
        pressButton(CTrackpost::PARAM_AUTH);
        letWorkerRun([&] {
            std::lock_guard<std::mutex> guard(user->lock);
            return opened;
        });
        std::lock_guard<std::mutex> guard(user->lock);
        user->browser = nullptr;
        return pin;
    }

    // The PIN typed; the worker exchanges it for the access token and checks it.
    void enterPin(const std::string& typed) {
        answerInputs({typed});
        pressButton(CTrackpost::PARAM_PIN);
        letWorkerRun([&] { return CTrackpostTestAccess::loggedIn(*plugin); });
    }

    // The whole login by PIN.
    void logIn() {
        const std::string pin = beginLogin();
        ASSERT_FALSE(pin.empty()) << "the browser got no PIN; status " << status();
        enterPin(" " + pin + "\n");  // pasted with what surrounded it
        // (The worker may already be posting, so the status is checked by the callers.)
        ASSERT_TRUE(CTrackpostTestAccess::loggedIn(*plugin)) << status();
    }

    void forgetDialogCalls() {
        std::lock_guard<std::mutex> guard(user->lock);
        user->calls.clear();
    }

    // One post: the fault the sandbox answers it with (none: answered as usual), the status it
    // ends in, and whether the user is shown the transfer's error.
    struct PostCase {
        const char* name;
        std::optional<nlohmann::json> fault;
        const char* status;
        bool message;
    };
    // Posts one text per case, each tried once, and checks how each ends.
    void expectPostOutcomes(const std::vector<PostCase>& cases) {
        int n = 0;
        for (const PostCase& c : cases) {
            SCOPED_TRACE(c.name);
            forgetDialogCalls();
            if (c.fault) {
                ASSERT_TRUE(service().queueFault(*c.fault));
            }
            CTrackpostTestAccess::queue(*plugin, "text " + std::to_string(++n));
            pacing->step();
            EXPECT_EQ(status(), c.status);
            EXPECT_TRUE(outbox().empty()) << "each text is tried once";
            EXPECT_EQ(user->callsOf("showMessage").size(), c.message ? 1u : 0u);
        }
    }

    // Loaded with the user's pre-issued token kept by the host: logged in at once.
    void loadLoggedIn() {
        host.kept[CTrackpost::PARAM_ACCESS] = preIssuedBlock();
        load();
        ASSERT_EQ(status(), "Logged In");
    }
};

#endif
