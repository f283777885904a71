#ifndef TRACKPOST_NETWORKS_MASTODON_NETWORK_H
#define TRACKPOST_NETWORKS_MASTODON_NETWORK_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "MastodonClient.h"
#include "MastodonKept.h"
#include "QueuedNetwork.h"

// Mastodon: a login by the out-of-band code flow on the DJ's server, kept by the host; posts
// with an idempotency key per queued text, so a retry never posts twice. Only the worker uses
// `client_`.
class MastodonNetwork : public QueuedNetwork {
  public:
    enum ParameterId : std::int32_t { PARAM_BUTTON = 20, PARAM_STATUS = 22, PARAM_ACCESS = 24 };
    static constexpr char VARIABLE[] = "trackpost_mastodon";
    static constexpr char DEFAULT_SERVER[] = "mastodon.social";

    MastodonNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing);
    ~MastodonNetwork() override;

    void pressPin() override;

  private:
    // A token given up at logout, revoked by the worker (best effort).
    struct Revocation {
        std::string server;
        MastodonApp app;
        std::string token;
    };

    void pressButton() override;
    bool loadKept() override;
    std::unique_ptr<TextMeasure> measure() override;
    void loginSteps() override;
    bool stepsWaiting() const override;
    Sent post(std::uint64_t id, const std::string& text) override;
    void forgetLogin() override;
    std::string place() override;
    std::string account() override;
    std::string errorText(const WebAnswer& answer) override;

    void logout();
    void storeKept(const MastodonKept& kept);  // under lock_
    MastodonKept keptNow();

    void revokeStep();
    void openAuthorizePage(const std::string& server, std::uint64_t generation);
    void exchangeCode(const std::string& code, std::uint64_t generation);
    void verifyKept(std::uint64_t generation);
    // Logged in with `kept`; false when a logout came since the step began.
    bool commitLogin(const MastodonKept& kept, std::uint64_t generation);
    // The server's text limit, read once per login.
    void readTextLimit();
    std::string idempotencyKey(std::uint64_t id) const;

    MastodonClient client_;

    // Under lock_: the login's steps asked on the host's thread, taken by the worker.
    std::string server_;  // register if needed and open the authorize page there
    std::string code_;    // the code the page showed: exchange it
    MastodonKept kept_;   // what the block holds
    MastodonTextLimit limit_;
    std::optional<Revocation> revocation_;
};

#endif
