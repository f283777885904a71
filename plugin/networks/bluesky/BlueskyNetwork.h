#ifndef TRACKPOST_NETWORKS_BLUESKY_NETWORK_H
#define TRACKPOST_NETWORKS_BLUESKY_NETWORK_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "BlueskyClient.h"
#include "BlueskyKept.h"
#include "QueuedNetwork.h"

// Bluesky: a login with the handle and an app password, kept by the host; sessions made from it
// at the entryway, every later call at the account's PDS; posts written under a record key chosen
// once per queued text, so a retry never posts twice. Only the worker uses `client_` and
// `session_`'s access token.
class BlueskyNetwork : public QueuedNetwork {
  public:
    enum ParameterId : std::int32_t { PARAM_BUTTON = 21, PARAM_STATUS = 23, PARAM_ACCESS = 25 };
    static constexpr char VARIABLE[] = "trackpost_bluesky";

    BlueskyNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing);
    ~BlueskyNetwork() override;

    void pressPin() override {}  // no code to type: the login needs none
    std::optional<std::string> tooLong(const std::string& text) override;

  private:
    // A login asked on the host's thread: a session to make with these.
    struct Credentials {
        std::string handle;
        std::string appPassword;
    };

    void pressButton() override;
    bool loadKept() override;
    std::unique_ptr<TextMeasure> measure() override;
    void loginSteps() override;
    bool stepsWaiting() const override;
    Sent post(std::uint64_t id, const std::string& text) override;
    void forgetLogin() override;
    std::string place() override { return "Bluesky"; }
    std::string account() override { return "@" + kept_.handle; }
    std::string errorText(const WebAnswer& answer) override;

    void logout();
    void storeKept(const BlueskyKept& kept);  // under lock_
    BlueskyKept keptNow();

    void deleteStep();
    // A session for `credentials`: kept and logged in, else "Login Failed" and a box (a new
    // login) or a check made again later (a kept one).
    void logIn(const Credentials& credentials, bool kept, std::uint64_t generation);
    // The answer to putRecord once the session is renewed where it expired or was refused.
    WebAnswer putWithSession(const std::string& rkey, const std::string& record);
    // A new session for the kept login: refreshed, else made again from the app password.
    // The answer that refused it when neither worked.
    std::optional<WebAnswer> renewSession(bool refreshFirst);
    std::string recordKey(std::uint64_t id) const;

    BlueskyClient client_;

    // Under lock_.
    std::optional<Credentials> credentials_;  // a login to make
    BlueskyKept kept_;                        // what the block holds
    BlueskySession session_;                  // empty tokens: none made yet
    std::optional<BlueskySession> deletion_;  // a session given up at logout
    std::uint64_t tidClock_ = 0;              // microseconds at load: record keys count on from it

    // The worker's: the record of the text at the head, made once so that a retry writes the
    // same record again.
    std::pair<std::uint64_t, std::string> record_;
};

#endif
