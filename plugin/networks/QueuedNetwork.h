#ifndef TRACKPOST_NETWORKS_QUEUED_NETWORK_H
#define TRACKPOST_NETWORKS_QUEUED_NETWORK_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Network.h"
#include "TextMeasure.h"
#include "WebClient.h"

// The host's parameters and variable of one network.
struct NetworkIdentity {
    const char* name;  // the button's, and the network's in boxes
    const char* shortName;
    std::int32_t button, status, access;
    const char* statusName;
    const char* statusShort;
    const char* accessName;
    const char* accessShort;
    const char* variable;  // "trackpost_NAME"
};

// What every network beside X shares: its button, status text and kept block, its queue with the
// live-set rules, its login's generation and kept-login check, and its worker's posting loop.
// A network fills in its login steps, how it posts one text and how it reads the answer.
//
// Threads: the host's thread asks (buttons, texts) and the worker acts; `lock_` guards
// everything both touch and is never held across a request or a box. Members marked "under
// lock_" are called with it held.
class QueuedNetwork : public Network {
  public:
    static constexpr std::size_t STATUS_SIZE = 64;
    static constexpr std::size_t ACCESS_SIZE = 1024;
    // A stalled post is given up and tried again; the texts behind it wait meanwhile.
    static constexpr long POST_STALL_LIMIT_SECONDS = 10;
    static constexpr std::int64_t FIRST_VERIFY_RETRY_SECONDS = 5;
    static constexpr std::int64_t LAST_VERIFY_RETRY_SECONDS = 5 * 60;

    QueuedNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing,
                  const NetworkIdentity& identity);

    const char* name() const override { return identity_.name; }
    void declareParameters(ISpfHost8& host) override;
    void load() override;
    bool onParameter(std::int32_t id) override;
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

    // For tests: the texts waiting, in order, and the status text.
    std::deque<std::string> queued();
    std::string status();

  protected:
    // One post's outcome: the verdict, the answer it came from, and for a limit when it ends
    // (wall clock, milliseconds; 0: not said).
    struct Sent {
        PostResult result = PostResult::Unsendable;
        WebAnswer answer;
        std::int64_t limitEndsAtMs = 0;
    };

    // The network's own part ----------------------------------------------------------------
    // The host's thread, on the button's release.
    virtual void pressButton() = 0;
    // Under lock_, at load: reads the kept block (`keptBlock()`), forgets every step of an
    // earlier load; whether a login is kept (checked later on the worker).
    virtual bool loadKept() = 0;
    // How the network counts a text now.
    virtual std::unique_ptr<TextMeasure> measure() = 0;
    // The worker: login steps asked for (at most one per pass); under lock_, whether any waits.
    virtual void loginSteps() = 0;
    virtual bool stepsWaiting() const = 0;
    // The worker: posts `text` (never empty), queued as `id`.
    virtual Sent post(std::uint64_t id, const std::string& text) = 0;
    // Under lock_: the server no longer takes the login; forget what can't work again.
    virtual void forgetLogin() = 0;
    // Under lock_, for the boxes: where the posts go ("Mastodon (mastodon.social)") and whose
    // login it is ("@dj@mastodon.social").
    virtual std::string place() = 0;
    virtual std::string account() = 0;
    // The server's reason in an answer's body, "" when it gives none.
    virtual std::string errorText(const WebAnswer& answer) = 0;

    // For the network's steps --------------------------------------------------------------
    // Under lock_: a new login or a logout; every step begun before is voided.
    std::uint64_t renewGeneration();
    bool current(std::uint64_t generation) const { return generation_ == generation; }
    std::uint64_t generation() const { return generation_; }
    // Under lock_: a login is under way (texts come from now on).
    void enrol() { enrolled_ = true; }
    // Under lock_: logged out; the queue dropped.
    void loggedOut();
    // Under lock_, after the network kept its login: "Logged In", texts go out.
    void loggedInNow();
    // A login step of `generation` failed: "Login Failed" and a box saying why, unless the
    // step was voided meanwhile or cut off by the release.
    void loginFailed(const std::string& message, std::uint64_t generation);
    // Under lock_, whether the kept login's check is due now.
    bool verifyDue() const;
    // Under lock_: the kept login's check of `generation` got `result`. One that could not be
    // made is made again later; a refusal waits for a new login; a lost login is forgotten.
    void verifyFailed(PostResult result);
    // The per-load nonce: idempotency keys and record keys of different loads never meet.
    std::uint64_t loadNonce() const { return loadNonce_; }

    std::string keptBlock() const;              // the block as the host holds it
    void storeBlock(const std::string& block);  // under lock_
    void storeStatus(const char* text);
    NetworkHost& host() { return host_; }
    WebClient& web() { return web_; }
    bool aborted() const { return aborted_; }

    std::mutex lock_;

    // The server's reason, else the HTTP status, else why no answer came.
    std::string reason(const WebAnswer& answer);

  private:
    void postDueTexts();
    // The box after the first failure of an outage or a refusal.
    void showPostFailure(const Sent& sent);

    NetworkHost& host_;
    std::unique_ptr<WorkerPacing> pacing_;
    const NetworkIdentity identity_;
    WebClient web_;

    std::int32_t buttonValue_ = 0;
    char status_[STATUS_SIZE] = {};
    char access_[ACCESS_SIZE] = {};

    // Under lock_.
    Outbox outbox_;
    std::string lastAnnouncement_;
    std::uint64_t generation_ = 0;
    bool enrolled_ = false;  // a login kept, under way or lost this load: texts come
    bool verifyKept_ = false;
    std::int64_t verifyAt_ = 0;
    Backoff verifyRetry_{FIRST_VERIFY_RETRY_SECONDS, LAST_VERIFY_RETRY_SECONDS};

    std::atomic<bool> loggedIn_{false};
    std::atomic<bool> aborted_{false};  // cut off by the plug-in's release: not news for the user
    std::uint64_t loadNonce_ = 0;
};

#endif
