#ifndef TRACKPOST_H
#define TRACKPOST_H

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AnnounceRule.h"
#include "BlueskyNetwork.h"
#include "Dialogs.h"
#include "HostVariables.h"
#include "MastodonNetwork.h"
#include "Network.h"
#include "Outbox.h"
#include "PassThread.h"
#include "WorkerPacing.h"
#include "spfPlugin8.h"
#include "twitterclient.h"

// The plug-in object the host gets from DllGetClassObject: the parameters the host shows and
// keeps, the queue of texts to post, the service client and the auto-tweet worker.
//
// Threads: the host calls the On* operations on its own thread, which only records what the user
// asked (a press, a typed text, a PIN) and wakes a worker; no host call waits on the network.
// The deck watcher polls the host and composes the announcements; X's worker takes every step on
// the service (the login's included) and posts, so a stalled post never holds an announcement
// back. Host-only calls (runCommand, declareParameter) are made on the host's
// thread alone: a host variable changed on the worker waits in `hostVariables` for the host's
// next call into the plug-in. `textLock` guards `outbox`, `login`, `status` and `tweetTemplate` and
// is never held across a host call or a network request. `clientLock` serialises whole requests on
// `client` with the reading of their answers; only X's worker takes it once loaded. Lock order:
// `clientLock` before `textLock`.
//
// The other networks each have their own login, queue and worker (`networks`); the deck watcher
// composes each announcement once and hands it to every network that takes texts.
class CTrackpost : public ISpfPlugin8, private NetworkHost {
  public:
    CTrackpost();

    SPFRESULT OnLoad() override;
    SPFRESULT OnGetPluginInfo(TSpfPluginInfo8* info) override;
    SPFRESULT Release() override;
    ~CTrackpost() override;
    SPFRESULT OnParameter(std::int32_t id) override;
    SPFRESULT OnGetUserInterface(TSpfPluginInterface8* ui) override;
    // Answers as the base class does; the host calls it often, so host variables follow soon.
    SPFRESULT OnGetParameterString(std::int32_t id, char* out, std::int32_t size) override;

    // A file among the plug-in's resources, with one zero byte more; null on failure. The caller
    // owns the buffer. The first argument is unused.
    char* LoadFileInResource(int, const char* name, int& size);

    // Fills the template from the active deck's track and queues the text.
    void tweetCurrent(TextOrigin origin = TextOrigin::Manual);

    // Forgets the login (kept block, flag, host variable, the signer's token, any login step
    // asked for or under way) and shows `message` as the status.
    void logout(const char* message);
    // Shows the client's last transfer error. Called with the client in use (see lockClient).
    void showError();

    // The user's dialogs, realised for this desktop.
    void showMessage(std::string text, std::string headline);
    std::string getInput(std::string text, std::string headline, std::string defaultValue);
    bool showRequest(std::string text, std::string headline);
    void openURL(std::string url);

    enum ParameterId : std::int32_t {
        PARAM_AUTH = 0,
        PARAM_PIN = 1,
        PARAM_AUTO_TWEET = 2,
        PARAM_MANUAL_TWEET = 3,
        PARAM_TWEET_MESSAGE = 4,
        PARAM_EDIT_TEMPLATE = 5,
        PARAM_LOGOUT = 6,
        PARAM_ACCESS = 10,
        PARAM_STATUS = 11,
        PARAM_TEMPLATE = 12,
    };

    static constexpr std::size_t ACCESS_SIZE = 256;
    static constexpr std::size_t TEMPLATE_SIZE = 512;
    static constexpr std::size_t STATUS_SIZE = 64;
    static constexpr std::size_t QUERY_SIZE = SPF_QUERY_TEXT_SIZE;
    // How long Release lets a post under way finish before cutting its transfer off.
    static constexpr std::chrono::milliseconds RELEASE_GRACE{3000};
    // A post moving less than 1 byte/s this long fails and is tried again; the login's steps
    // wait out the client's longer default.
    static constexpr long POST_STALL_LIMIT_SECONDS = 10;
    // Pauses between checks of a kept login that could not be made (no network, a server error).
    static constexpr std::int64_t FIRST_VERIFY_RETRY_SECONDS = 5;
    static constexpr std::int64_t LAST_VERIFY_RETRY_SECONDS = 5 * 60;

  private:
    friend class CTrackpostTestAccess;

    // What the networks ask of the plug-in.
    void showMessage(const std::string& text) override;
    std::optional<std::string> askInput(const std::string& text, const std::string& value) override;
    std::optional<std::string> askSecret(const std::string& text) override;
    bool showRequest(const std::string& text) override;
    void pinsGoTo(Network& network) override;
    void openLoginPage(const std::string& url) override;
    void setHostVariable(const char* name, bool on) override;

    // Whether X gets the texts: while it has a login kept or under way, or no other network is
    // logged in (then X's queue waits for its login, as it always has).
    bool xTakesTexts();
    // Every network beside X, in the order of their parameters.
    static constexpr std::size_t OTHER_NETWORKS = 2;
    std::array<Network*, OTHER_NETWORKS> networks() { return {mastodon.get(), bluesky.get()}; }

    // Brackets each host call into the plug-in: host variables changed meanwhile, or during the
    // call, are handed to the host on its thread.
    class HostCall {
      public:
        explicit HostCall(CTrackpost& plugin) : plugin_(plugin) { plugin_.handOverHostVariables(); }
        ~HostCall() { plugin_.handOverHostVariables(); }
        HostCall(const HostCall&) = delete;
        HostCall& operator=(const HostCall&) = delete;

      private:
        CTrackpost& plugin_;
    };
    void handOverHostVariables();
    // Under `textLock`, so the order of logins and logouts is the order the host learns them.
    void setAuthVariable(bool loggedIn);

    void declareParameters();
    void restoreLogin();
    void beginLogin();
    void finishLogin();
    void tweetMessage();
    void editTemplate();

    // The login's steps on the service, asked for on the host's thread and taken by the worker.
    // `generation` counts logouts: a step begun before one has its result thrown away.
    struct LoginWork {
        bool verifyKept = false;    // a kept login waits for its check
        std::int64_t verifyAt = 0;  // ... not before this time on the worker's clock
        bool requestToken = false;  // "Auth": fetch a request token, then open the address
        std::string pin;            // "PIN": exchange it for the access token
        bool underWay = false;      // a request token or PIN step is being taken
        std::uint64_t generation = 0;
        Backoff verifyRetry{FIRST_VERIFY_RETRY_SECONDS, LAST_VERIFY_RETRY_SECONDS};
    };
    enum class LoginStep { None, Verify, RequestToken, AccessToken };
    void loginSteps();
    void verifyKeptLogin(std::uint64_t generation);
    void fetchRequestToken(std::uint64_t generation);
    void exchangePin(const std::string& pin, std::uint64_t generation);
    // Under `textLock`: every login step asked for is dropped, and one under way is void.
    void forgetLoginSteps();
    // Under `textLock`: no logout came since the step of `generation` began.
    bool loginCurrent(std::uint64_t generation) const { return login.generation == generation; }
    // Logged in with the client's token: flag, host variable, status; queued texts go out.
    // False, with nothing changed, when a logout came since the step began.
    bool commitLogin(std::uint64_t generation);
    // The service no longer takes the login: logged out, but the kept block stays for the user
    // to replace and the queued texts wait for the next login.
    void loginLost();

    void postQueuedTexts();
    void showPostFailure(PostResult result);

    // One request carried out, signed again and sent once more when the service refused it for
    // a clock that is off (the offset is kept for the rest of the load). True when carried out.
    bool carryOut(const std::function<bool()>& request);
    // What came of one step through v1.1 or, once the service has denied this account v1.1
    // (code 453), through v2 for the rest of the load. Called with the client in use.
    PostResult serviceStep(const std::function<bool()>& v1, const std::function<bool()>& v2);
    PostResult verifyLogin();
    PostResult postText(const std::string& text);
    // When the limit of the last (rate-limited) answer ends, on the wall clock in milliseconds
    // since the epoch; 0 when the answer does not say.
    std::int64_t limitEndsAt();
    // Exclusive use of `client`; a token forgotten by a logout meanwhile is cleared first.
    std::unique_lock<std::mutex> lockClient();
    void startWorker();
    void stopWorker();
    // The answers to the three identity queries, kept between passes: a host that stops
    // answering keeps the track.
    struct DeckIdentity {
        char drive[QUERY_SIZE] = {};
        char path[QUERY_SIZE] = {};
        char name[QUERY_SIZE] = {};
        std::string identity;  // drive + path + name
    };
    // One pass of each worker; how long it may idle after (see PassThread).
    std::int64_t deckPass();
    void autoTweetStep(DeckIdentity& deck);
    std::int64_t xPass();

    void setStatus(const char* text);
    void storeStatus(const char* text);  // under `textLock`
    std::string templateText();
    void setTemplate(const std::string& text);
    void queueText(std::string text, TextOrigin origin);

    // The host's callbacks; nothing happens while the host hasn't set them.
    double hostNumber(const char* query, double preset);
    // Answers into `buffer` (QUERY_SIZE bytes) and returns the answer's length, which never
    // runs past the buffer even when the host leaves it unterminated.
    std::size_t hostText(const char* query, char* buffer);

    std::atomic<bool> running;
    PassThread deckWorker;
    PassThread xWorker;
    PassThread networkWorkers[OTHER_NETWORKS];  // one per network beside X, in their order

    std::int32_t authValue;
    std::int32_t pinValue;
    std::int32_t autoTweetValue;  // written by the host, read by the worker: spfLoadInt32
    std::int32_t manualTweetValue;
    std::int32_t tweetMessageValue;
    std::int32_t editTemplateValue;
    std::int32_t logoutValue;
    char access[ACCESS_SIZE];
    char tweetTemplate[TEMPLATE_SIZE];
    char status[STATUS_SIZE];

    std::atomic<bool> loggedIn;
    std::atomic<bool> manualTweetRequested;
    AnnounceRule announce;  // holds the identity of the track seen last
    Outbox outbox;
    LoginWork login;
    twitterClient client;

    std::mutex textLock;
    std::mutex clientLock;
    // Set by a logout: the signer's token is cleared before the client's next use, so a logout
    // never waits for a post under way.
    std::atomic<bool> tokenForgotten;
    // The service denied v1.1 to this account; guarded by `clientLock`.
    bool useV2 = false;
    std::unique_ptr<WorkerPacing> pacing;       // the deck watcher's; its clocks are every worker's
    std::unique_ptr<WorkerPacing> xPacing;      // X's worker's, a lane of `pacing`
    DeckIdentity deck;                          // the deck watcher's
    std::unique_ptr<TrackpostDialogs> dialogs;  // chosen at load
    HostVariables hostVariables;
    std::unique_ptr<MastodonNetwork> mastodon;
    std::unique_ptr<BlueskyNetwork> bluesky;
    // The login begun last, which the PIN button serves: X's when null. Set as the login begins,
    // on the host's thread, so a press right after never races the page's opening.
    std::atomic<Network*> pinTaker{nullptr};
};

#endif
