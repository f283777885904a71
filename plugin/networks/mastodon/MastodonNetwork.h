#ifndef TRACKPOST_NETWORKS_MASTODON_NETWORK_H
#define TRACKPOST_NETWORKS_MASTODON_NETWORK_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "MastodonClient.h"
#include "MastodonKept.h"
#include "Network.h"
#include "WebClient.h"

// Mastodon: a login by the out-of-band code flow on the DJ's server, kept by the host; posts
// with an idempotency key per queued text, so a retry never posts twice.
//
// Threads: the host's thread asks (button, code, texts) and the worker acts; `lock_` guards
// everything both touch and is never held across a request or a box. Only the worker uses
// `client_`.
class MastodonNetwork : public Network {
  public:
    enum ParameterId : std::int32_t { PARAM_BUTTON = 20, PARAM_STATUS = 22, PARAM_ACCESS = 24 };
    static constexpr std::size_t STATUS_SIZE = 64;
    static constexpr std::size_t ACCESS_SIZE = 1024;
    static constexpr long POST_STALL_LIMIT_SECONDS = 10;
    static constexpr std::int64_t FIRST_VERIFY_RETRY_SECONDS = 5;
    static constexpr std::int64_t LAST_VERIFY_RETRY_SECONDS = 5 * 60;
    static constexpr char VARIABLE[] = "trackpost_mastodon";
    static constexpr char DEFAULT_SERVER[] = "mastodon.social";

    MastodonNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing);
    ~MastodonNetwork() override;

    const char* name() const override { return "Mastodon"; }
    void declareParameters(ISpfHost8& host) override;
    void load() override;
    bool onParameter(std::int32_t id) override;
    void pressPin() override;
    bool takesTexts() override;
    void queueAnnouncement(const std::vector<TextPart>& parts, TextOrigin origin) override;
    std::optional<std::string> tooLong(const std::string& text) override;
    void queueTyped(std::string text) override;
    bool loggedIn() const override { return loggedIn_; }
    WorkerPacing& pacing() override { return *pacing_; }
    void usePacing(std::unique_ptr<WorkerPacing> pacing) { pacing_ = std::move(pacing); }
    std::int64_t pass() override;
    void abortTransfers() override;
    void allowTransfers() override;

    // For tests: the texts waiting, in order.
    std::deque<std::string> queued();
    std::string status();

  private:
    // A login's steps, asked on the host's thread and taken by the worker. `generation` counts
    // logouts and new logins: a step begun before one has its result thrown away.
    struct Login {
        std::string server;       // register if needed and open the authorize page there
        std::string code;         // the code the page showed: exchange it
        bool verifyKept = false;  // a kept login waits for its check
        std::int64_t verifyAt = 0;
        bool enrolled = false;  // a login kept, under way or lost this load: texts come
        std::uint64_t generation = 0;
        Backoff verifyRetry{FIRST_VERIFY_RETRY_SECONDS, LAST_VERIFY_RETRY_SECONDS};
    };
    // A token given up at logout, revoked by the worker (best effort).
    struct Revocation {
        std::string server;
        MastodonApp app;
        std::string token;
    };

    void pressButton();
    void logout();
    void storeKept(const MastodonKept& kept);  // under lock_
    void storeStatus(const char* text);        // under lock_
    MastodonKept keptNow();

    void revokeStep();
    void loginStep();
    // A login step of `generation` failed: "Login Failed" and a box saying why, unless the
    // step was voided meanwhile or cut off by the release.
    void loginFailed(const std::string& message, std::uint64_t generation);
    void openAuthorizePage(const std::string& server, std::uint64_t generation);
    void exchangeCode(const std::string& code, std::uint64_t generation);
    void verifyKept(std::uint64_t generation);
    // Logged in with `kept`; false when a logout came since the step began.
    bool commitLogin(const MastodonKept& kept, std::uint64_t generation);
    // The server's text limit, read once per login.
    void readTextLimit();
    void postDueTexts();
    void showPostFailure(PostResult result, const WebAnswer& answer, const std::string& server);
    bool current(std::uint64_t generation) const { return login_.generation == generation; }
    std::string idempotencyKey(std::uint64_t id) const;

    NetworkHost& host_;
    std::unique_ptr<WorkerPacing> pacing_;
    WebClient web_;
    MastodonClient client_;

    std::int32_t buttonValue_ = 0;
    char status_[STATUS_SIZE] = {};
    char access_[ACCESS_SIZE] = {};

    std::mutex lock_;
    Login login_;
    MastodonKept kept_;  // what the block holds
    MastodonTextLimit limit_;
    Outbox outbox_;
    std::string lastAnnouncement_;
    std::optional<Revocation> revocation_;
    std::atomic<bool> loggedIn_{false};
    std::atomic<bool> aborted_{false};  // cut off by the plug-in's release: not news for the user
    std::string keyPrefix_;             // new each load, so keys of different loads never meet
};

#endif
