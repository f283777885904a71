#include "Trackpost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "AnswerVerdict.h"
#include "Fitting.h"
#include "PluginResources.h"
#include "ServiceSettings.h"
#include "TagRepair.h"
#include "TextBlanks.h"
#include "TweetComposer.h"
#include "XLength.h"
#include "spfSharedText.h"

namespace {

const char PLUGIN_NAME[] = "Trackpost";
const char PLUGIN_AUTHOR[] = "Kelm";
const char DEFAULT_TEMPLATE[] = "Now playing %ARTIST% - %TITLE% on #Spinforge";
const char SKIN_XML[] = "skin_trackpost.xml";
const char SKIN_IMAGE[] = "skin_trackpost.png";

const char STATUS_NOT_LOGGED_IN[] = "Not Logged In";
const char STATUS_LOGGED_IN[] = "Logged In";
const char STATUS_LOGIN_FAILED[] = "Login Failed";
const char STATUS_PIN_FAILED[] = "PIN Failed";
const char STATUS_SENDING[] = "Sending Tweet";
const char STATUS_TWEET_OK[] = "Tweet OK";
const char STATUS_NOT_ACCEPTED[] = "Tweet Not Accepted";
const char STATUS_TWEET_FAILED[] = "Tweet Failed";
const char STATUS_RATE_LIMITED[] = "Rate Limited";
const StatusWords X_WORDS{STATUS_TWEET_OK, STATUS_NOT_ACCEPTED, STATUS_TWEET_FAILED,
                          STATUS_RATE_LIMITED, STATUS_LOGIN_FAILED};

const char ASK_OPEN_BROWSER[] =
    "Would you like to open your browser to enable this application in your twitter account?";
const char ASK_PIN[] = "Enter PIN";
const char ASK_TWEET[] = "Please enter your tweet";
const char ASK_TEMPLATE[] = "Please enter your tweet template";
const char NO_REQUEST_TOKEN[] = "The service did not hand out a login token (HTTP status ";
const char SERVER_ERROR[] =
    "The service can't take tweets at the moment (HTTP status %ld). They wait and are sent again.";
const char EMPTY_TWEET[] = "An empty tweet can't be sent: the template gave no text.";
const char ACCOUNT_BLOCKED[] = "The service refuses every tweet of this account (HTTP status %ld).";

// "1" while logged in, "0" otherwise.
const char AUTH_VARIABLE[] = "trackpost_auth";

// The kept block: the access token's key in the first half, its secret in the second, each a
// NUL-terminated text.
const std::size_t ACCESS_HALF = CTrackpost::ACCESS_SIZE / 2;

std::string accessText(const char* half) {
    return std::string(half, strnlen(half, ACCESS_HALF - 1));
}

// Seconds as milliseconds, bounded far beyond any real clock (some 30,000 years), so that a wild
// Date from the network never overflows the sums made with it.
std::int64_t boundedMillis(std::int64_t seconds) {
    constexpr std::int64_t BOUND = 1'000'000'000'000'000;
    return std::clamp<std::int64_t>(seconds, -BOUND / 1000, BOUND / 1000) * 1000;
}

const char QUERY_DRIVE[] = "deck active get_loaded_song 'drive'";
const char QUERY_PATH[] = "deck active get_loaded_song 'filepath'";
const char QUERY_NAME[] = "deck active get_loaded_song 'filename'";
const char QUERY_PLAY[] = "deck active play";
const char QUERY_HISTORY_DELAY[] = "setting 'historyDelay'";

}  // namespace

extern "C" SPFRESULT DllGetClassObject(const SpfGuid& rclsid, const SpfGuid& riid,
                                       void** ppObject) {
    if (ppObject == nullptr || rclsid != CLSID_SpfPlugin8 || riid != IID_ISpfPluginBasic8)
        return static_cast<SPFRESULT>(-1);
    try {
        *ppObject = static_cast<ISpfPlugin8*>(new CTrackpost());
    } catch (const std::exception&) {
        return static_cast<SPFRESULT>(-1);  // out of memory: no object, and the host goes on
    }
    return SPF_OK;
}

CTrackpost::CTrackpost()
    : running(false),
      authValue(0),
      pinValue(0),
      autoTweetValue(0),
      manualTweetValue(0),
      tweetMessageValue(0),
      editTemplateValue(0),
      logoutValue(0),
      access{},
      tweetTemplate{},
      status{},
      loggedIn(false),
      manualTweetRequested(false),
      tokenForgotten(false),
      pacing(new SteadyPacing()),
      xPacing(pacing->lane()),
      mastodon(new MastodonNetwork(*this, pacing->lane())),
      bluesky(new BlueskyNetwork(*this, pacing->lane())) {}

CTrackpost::~CTrackpost() {
    stopWorker();
}

// ---------------------------------------------------------------------------------------------
// The host's operations

SPFRESULT CTrackpost::OnLoad() {
    const HostCall call(*this);
    // A second load restarts cleanly instead of abandoning a running worker.
    stopWorker();

    loggedIn = false;
    manualTweetRequested = false;
    std::memset(access, 0, sizeof access);
    {
        std::lock_guard<std::mutex> guard(textLock);
        setAuthVariable(false);
        spfStoreText(tweetTemplate, sizeof tweetTemplate, DEFAULT_TEMPLATE,
                     sizeof DEFAULT_TEMPLATE - 1);
        outbox.clear();
        forgetLoginSteps();
    }
    setStatus(STATUS_NOT_LOGGED_IN);
    declareParameters();
    if (!dialogs) dialogs = makePlatformDialogs();
    restoreLogin();
    pinTaker = nullptr;
    for (Network* network : networks()) {
        if (host != nullptr) network->declareParameters(*host);
        network->load();
    }

    try {
        startWorker();
    } catch (const std::exception&) {
        // Throwing into the host would end it; the plug-in stays usable without its worker.
        running = false;
        return SPF_FAIL;
    }
    return SPF_OK;
}

void CTrackpost::declareParameters() {
    if (host == nullptr) return;
    host->declareParameter(&authValue, SPF_PARAM_BUTTON, PARAM_AUTH, "Auth", "AUTH", 0);
    host->declareParameter(&pinValue, SPF_PARAM_BUTTON, PARAM_PIN, "PIN", "PIN", 0);
    host->declareParameter(&autoTweetValue, SPF_PARAM_SWITCH, PARAM_AUTO_TWEET, "Auto Tweet",
                           "AUTO", 0);
    host->declareParameter(&manualTweetValue, SPF_PARAM_BUTTON, PARAM_MANUAL_TWEET, "Manual Tweet",
                           "MAN", 0);
    host->declareParameter(&tweetMessageValue, SPF_PARAM_BUTTON, PARAM_TWEET_MESSAGE,
                           "Tweet Message", "MSG", 0);
    host->declareParameter(&editTemplateValue, SPF_PARAM_BUTTON, PARAM_EDIT_TEMPLATE,
                           "Edit Template", "EDT", 0);
    host->declareParameter(&logoutValue, SPF_PARAM_BUTTON, PARAM_LOGOUT, "Logout", "LOGO", 0);
    host->declareParameter(access, SPF_PARAM_KEPT_BLOCK, PARAM_ACCESS, "Access", "ACC",
                           static_cast<float>(sizeof access));
    host->declareParameter(status, SPF_PARAM_TEXT, PARAM_STATUS, "Status", "STA",
                           static_cast<float>(sizeof status));
    host->declareParameter(tweetTemplate, SPF_PARAM_TEXT, PARAM_TEMPLATE, "Template", "TMP",
                           static_cast<float>(sizeof tweetTemplate));
}

SPFRESULT CTrackpost::OnGetPluginInfo(TSpfPluginInfo8* info) {
    const HostCall call(*this);
    if (info == nullptr) return SPF_OK;
    info->pluginName = PLUGIN_NAME;
    info->author = PLUGIN_AUTHOR;
    return SPF_OK;
}

SPFRESULT CTrackpost::OnGetUserInterface(TSpfPluginInterface8* ui) {
    const HostCall call(*this);
    if (ui == nullptr) return SPF_OK;
    int xmlSize = 0;
    int imageSize = 0;
    // Both buffers belong to the host from here on.
    char* xml = LoadFileInResource(0, SKIN_XML, xmlSize);
    char* image = LoadFileInResource(0, SKIN_IMAGE, imageSize);
    ui->type = SPF_INTERFACE_SKIN;
    ui->skinXml = xml;
    ui->imageData = image;
    ui->imageSize = image ? imageSize : 0;
    return SPF_OK;
}

char* CTrackpost::LoadFileInResource(int, const char* name, int& size) {
    return loadPluginResource(bundle, name, size);
}

SPFRESULT CTrackpost::OnGetParameterString(std::int32_t id, char* out, std::int32_t size) {
    const HostCall call(*this);
    return ISpfPlugin8::OnGetParameterString(id, out, size);
}

SPFRESULT CTrackpost::OnParameter(std::int32_t id) {
    const HostCall call(*this);
    // Buttons act on release (value 0), so a press and its release act once.
    switch (id) {
        case PARAM_AUTH:
            if (authValue == 0) beginLogin();
            break;
        case PARAM_PIN:
            if (pinValue != 0) break;
            if (Network* taker = pinTaker) {
                taker->pressPin();
            } else if (!loggedIn) {
                finishLogin();
            }
            break;
        case PARAM_MANUAL_TWEET:
            if (manualTweetValue != 0) break;
            manualTweetRequested = true;
            pacing->wake();
            break;
        case PARAM_TWEET_MESSAGE:
            if (tweetMessageValue == 0) tweetMessage();
            break;
        case PARAM_EDIT_TEMPLATE:
            if (editTemplateValue == 0) editTemplate();
            break;
        case PARAM_LOGOUT:
            if (logoutValue == 0) logout(STATUS_NOT_LOGGED_IN);
            break;
        default:
            // "Auto Tweet" is read by the worker; the texts and the kept blocks need nothing.
            for (Network* network : networks())
                if (network->onParameter(id)) break;
            break;
    }
    return SPF_OK;
}

namespace {

// What the text box says when a typed text passes X's limit.
std::string tooLongForX(std::size_t length) {
    return "This tweet is " + std::to_string(length) + " of " + std::to_string(XMeasure::LIMIT) +
           " characters for X; shorten it:";
}

}  // namespace

void CTrackpost::tweetMessage() {
    // A typed text is never cut: the box comes back with it until it fits every network that
    // gets it. The box gives back what it showed on cancel, so a text given back unchanged is
    // dropped.
    const bool toX = xTakesTexts();
    std::vector<Network*> takers;
    for (Network* network : networks())
        if (network->takesTexts()) takers.push_back(network);
    const auto tooLong = [&](const std::string& text) -> std::optional<std::string> {
        if (const std::size_t length = xWeightedLength(text); toX && length > XMeasure::LIMIT)
            return tooLongForX(length);
        for (Network* network : takers)
            if (std::optional<std::string> says = network->tooLong(text)) return says;
        return std::nullopt;
    };
    std::string text = getInput(ASK_TWEET, PLUGIN_NAME, "");
    for (std::optional<std::string> says; !text.empty() && (says = tooLong(text));) {
        std::string shortened = getInput(*says, PLUGIN_NAME, text);
        if (shortened == text) return;
        text = std::move(shortened);
    }
    if (text.empty()) return;
    // As typed: no tokens replaced.
    for (Network* network : takers) network->queueTyped(text);
    if (toX) queueText(std::move(text), TextOrigin::Typed);
}

void CTrackpost::editTemplate() {
    setTemplate(getInput(ASK_TEMPLATE, PLUGIN_NAME, templateText()));
}

SPFRESULT CTrackpost::Release() {
    stopWorker();
    delete this;
    return SPF_OK;
}

// ---------------------------------------------------------------------------------------------
// The login: the user's boxes on the host's thread, every step on the service on the worker.

void CTrackpost::restoreLogin() {
    const auto use = lockClient();
    applyServiceSettings(client);
    const char* key = access;
    const char* secret = access + ACCESS_HALF;
    if (key[0] == '\0' || secret[0] == '\0') return;  // no login kept

    oAuth& signer = client.getOAuth();
    signer.setOAuthTokenKey(accessText(key));
    signer.setOAuthTokenSecret(accessText(secret));
    std::lock_guard<std::mutex> guard(textLock);
    login.verifyKept = true;  // checked by the worker, so the host never waits for the network
}

void CTrackpost::beginLogin() {
    const auto loginBusy = [this] {
        std::lock_guard<std::mutex> guard(textLock);
        return login.requestToken || login.underWay;
    };
    // One login at a time: a second request token would race the first.
    if (loginBusy() || !showRequest(ASK_OPEN_BROWSER, PLUGIN_NAME)) return;
    logout(STATUS_NOT_LOGGED_IN);
    {
        std::lock_guard<std::mutex> guard(textLock);
        login.requestToken = true;
    }
    pinTaker = nullptr;
    xPacing->wake();
}

void CTrackpost::finishLogin() {
    // A PIN copied from the page often brings blanks or a line end with it.
    std::string pin = trimBlanks(getInput(ASK_PIN, PLUGIN_NAME, ""));
    if (pin.empty()) return;
    {
        // Taken after a request token still under way; a PIN typed again replaces one not taken.
        std::lock_guard<std::mutex> guard(textLock);
        login.pin = std::move(pin);
    }
    xPacing->wake();
}

void CTrackpost::loginSteps() {
    LoginStep step = LoginStep::None;
    std::string pin;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (login.requestToken) {
            step = LoginStep::RequestToken;
            login.requestToken = false;
        } else if (!login.pin.empty()) {
            step = LoginStep::AccessToken;
            pin = std::move(login.pin);
            login.pin.clear();
        } else if (login.verifyKept && xPacing->now() >= login.verifyAt) {
            step = LoginStep::Verify;
        }
        login.underWay = step == LoginStep::RequestToken || step == LoginStep::AccessToken;
        generation = login.generation;
    }
    switch (step) {
        case LoginStep::None:
            return;
        case LoginStep::Verify:
            verifyKeptLogin(generation);
            break;
        case LoginStep::RequestToken:
            fetchRequestToken(generation);
            break;
        case LoginStep::AccessToken:
            exchangePin(pin, generation);
            break;
    }
    std::lock_guard<std::mutex> guard(textLock);
    login.underWay = false;
}

void CTrackpost::verifyKeptLogin(std::uint64_t generation) {
    const auto use = lockClient();
    const PostResult result = verifyLogin();
    if (result == PostResult::Accepted && commitLogin(generation)) return;
    std::lock_guard<std::mutex> guard(textLock);
    if (!loginCurrent(generation)) return;
    // The block stays kept either way: the user may log in anew meanwhile. A check that could
    // not be made is made again later; a refusal (perhaps only for the moment) waits for the
    // next load.
    const bool passing = result == PostResult::Failed || result == PostResult::ServerError ||
                         result == PostResult::RateLimited;
    login.verifyKept = passing;
    if (passing) login.verifyAt = xPacing->now() + login.verifyRetry.next();
    storeStatus(STATUS_LOGIN_FAILED);
}

void CTrackpost::fetchRequestToken(std::uint64_t generation) {
    std::string url;
    {
        const auto use = lockClient();
        const bool carriedOut = carryOut([&] { return client.oAuthRequestToken(url); });
        std::string token;
        client.getOAuth().getOAuthTokenKey(token);
        {
            std::lock_guard<std::mutex> guard(textLock);
            if (!loginCurrent(generation)) return;  // logged out meanwhile: nothing to open
        }
        if (!carriedOut || token.empty()) {
            // No address without a token: the service's page would only show an error.
            setStatus(STATUS_LOGIN_FAILED);
            if (carriedOut)
                showMessage(NO_REQUEST_TOKEN + std::to_string(client.getLastHttpStatus()) + ").",
                            PLUGIN_NAME);
            else if (running)
                showError();
            return;
        }
    }
    openURL(url);
}

void CTrackpost::exchangePin(const std::string& pin, std::uint64_t generation) {
    const auto use = lockClient();
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (!loginCurrent(generation)) return;
    }
    loggedIn = false;
    oAuth& signer = client.getOAuth();
    signer.setOAuthPin(pin);
    PostResult result = PostResult::Failed;
    if (carryOut([&] { return client.oAuthAccessToken(); })) result = verifyLogin();
    if (result == PostResult::Accepted && commitLogin(generation)) return;
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (!loginCurrent(generation)) return;
    }
    if (result == PostResult::Failed) {
        logout(STATUS_LOGIN_FAILED);
        if (running) showError();
    } else {
        logout(STATUS_PIN_FAILED);
    }
}

bool CTrackpost::commitLogin(std::uint64_t generation) {
    std::string key, secret;
    client.getOAuth().getOAuthTokenKey(key);
    client.getOAuth().getOAuthTokenSecret(secret);
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (!loginCurrent(generation)) return false;
        // The rest of each half keeps what it held (zero after the logout that began a login).
        spfStoreText(access, ACCESS_HALF, key);
        spfStoreText(access + ACCESS_HALF, ACCESS_HALF, secret);
        login.verifyKept = false;
        login.verifyRetry.reset();
        outbox.endOutage();
        loggedIn = true;
        setAuthVariable(true);
        storeStatus(STATUS_LOGGED_IN);
    }
    xPacing->wake();  // texts queued meanwhile go out now
    return true;
}

void CTrackpost::loginLost() {
    std::lock_guard<std::mutex> guard(textLock);
    loggedIn = false;
    setAuthVariable(false);
    storeStatus(STATUS_LOGIN_FAILED);
}

void CTrackpost::logout(const char* message) {
    {
        std::lock_guard<std::mutex> guard(textLock);
        for (char& byte : access) __atomic_store_n(&byte, '\0', __ATOMIC_RELAXED);
        forgetLoginSteps();
        outbox.endOutage();
        loggedIn = false;
        setAuthVariable(false);
    }
    tokenForgotten = true;
    setStatus(message);
}

void CTrackpost::showError() {
    std::string error;
    client.getLastCurlError(error);
    showMessage(error, PLUGIN_NAME);
}

bool CTrackpost::carryOut(const std::function<bool()>& request) {
    oAuth& signer = client.getOAuth();
    const std::int64_t signedAt = static_cast<std::int64_t>(std::time(nullptr));
    if (!request()) return false;
    std::int64_t serviceTime = 0;
    const bool haveDate = client.getLastAnswerDate(serviceTime);
    std::string body;
    client.getLastWebResponse(body);
    if (!answerRefusesTimestamp(client.getLastHttpStatus(), body, haveDate, serviceTime,
                                signedAt + signer.getClockOffset()) ||
        !haveDate)
        return true;
    // Our clock is off: sign with the service's time from now on, and send once more.
    signer.setClockOffset(serviceTime - static_cast<std::int64_t>(std::time(nullptr)));
    return request();
}

PostResult CTrackpost::serviceStep(const std::function<bool()>& v1,
                                   const std::function<bool()>& v2) {
    std::string body;
    if (!useV2) {
        if (!carryOut(v1)) return PostResult::Failed;
        client.getLastWebResponse(body);
        const long status = client.getLastHttpStatus();
        if (!answerDeniesV1(status, body)) return postResult(status, body, false);
        // Not a retry: the service refused the v1.1 request without acting on it.
        useV2 = true;
    }
    if (!carryOut(v2)) return PostResult::Failed;
    client.getLastWebResponse(body);
    return postResult(client.getLastHttpStatus(), body, true);
}

PostResult CTrackpost::verifyLogin() {
    return serviceStep([this] { return client.accountVerifyCredGet(); },
                       [this] { return client.usersMeGet(); });
}

PostResult CTrackpost::postText(const std::string& text) {
    // A post stalled this long is given up and tried again: a retry never doubles it (a retried
    // text refused as a duplicate counts as posted), and the texts behind it wait meanwhile.
    struct PostStallLimit {
        twitterClient& client;
        explicit PostStallLimit(twitterClient& c) : client(c) {
            client.setStallLimit(POST_STALL_LIMIT_SECONDS);
        }
        ~PostStallLimit() { client.setStallLimit(twitterClient::STALL_LIMIT_SECONDS); }
    } limit(client);
    return serviceStep([&] { return client.statusUpdate(text, ""); },
                       [&] { return client.tweetCreate(text); });
}

std::int64_t CTrackpost::limitEndsAt() {
    const std::int64_t wallMs = xPacing->wallMillis();
    // The service's time now: its answer's Date, which is never ahead of it, so the wait is
    // never short; else our clock with the offset taken from the service.
    std::int64_t dateSeconds = 0;
    const std::int64_t serviceNowMs =
        client.getLastAnswerDate(dateSeconds)
            ? boundedMillis(dateSeconds)
            : wallMs + boundedMillis(client.getOAuth().getClockOffset());
    const std::int64_t wait = limitWaitMillis(
        [this](const char* name, std::string& value) {
            return client.getLastResponseHeader(name, value);
        },
        serviceNowMs);
    return wait > 0 ? wallMs + wait : 0;
}

std::unique_lock<std::mutex> CTrackpost::lockClient() {
    std::unique_lock<std::mutex> use(clientLock);
    if (tokenForgotten.exchange(false)) {
        client.getOAuth().setOAuthTokenKey("");
        client.getOAuth().setOAuthTokenSecret("");
    }
    return use;
}

// ---------------------------------------------------------------------------------------------
// Dialogs: the realisation chosen at load; none before it.

void CTrackpost::showMessage(std::string text, std::string headline) {
    if (dialogs) dialogs->showMessage(text, headline);
}

std::string CTrackpost::getInput(std::string text, std::string headline, std::string defaultValue) {
    return dialogs ? dialogs->getInput(text, headline, defaultValue) : defaultValue;
}

bool CTrackpost::showRequest(std::string text, std::string headline) {
    return dialogs && dialogs->showRequest(text, headline);
}

void CTrackpost::openURL(std::string url) {
    if (dialogs) dialogs->openURL(url);
}

void CTrackpost::showMessage(const std::string& text) {
    showMessage(text, PLUGIN_NAME);
}

std::optional<std::string> CTrackpost::askInput(const std::string& text, const std::string& value) {
    if (!dialogs) return std::nullopt;
    return dialogs->askInput(text, PLUGIN_NAME, value);
}

std::optional<std::string> CTrackpost::askSecret(const std::string& text) {
    if (!dialogs) return std::nullopt;
    return dialogs->getSecret(text, PLUGIN_NAME);
}

bool CTrackpost::showRequest(const std::string& text) {
    return showRequest(text, PLUGIN_NAME);
}

void CTrackpost::pinsGoTo(Network& network) {
    pinTaker = &network;
}

void CTrackpost::openLoginPage(const std::string& url) {
    openURL(url);
}

void CTrackpost::setHostVariable(const char* name, bool on) {
    hostVariables.set(name, on ? "1" : "0");
}

// ---------------------------------------------------------------------------------------------
// Composition

void CTrackpost::tweetCurrent(TextOrigin origin) {
    char answer[QUERY_SIZE];
    const TrackQuery ask = [&](const char* query) {
        answer[0] = '\0';  // a query the host leaves unanswered gives an empty value
        return repairTag(std::string_view(answer, hostText(query, answer)));
    };
    const std::vector<TextPart> parts = composeParts(templateText(), ask);
    for (Network* network : networks())
        if (network->takesTexts()) network->queueAnnouncement(parts, origin);
    if (xTakesTexts()) queueText(fitAnnouncement(parts, XMeasure()), origin);
}

bool CTrackpost::xTakesTexts() {
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (loggedIn || access[0] != '\0' || login.verifyKept || login.requestToken ||
            login.underWay || !login.pin.empty())
            return true;
    }
    for (Network* network : networks())
        if (network->loggedIn()) return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// The auto-tweet worker

void CTrackpost::startWorker() {
    running = true;
    deck = DeckIdentity();
    deckWorker.start(*pacing, running, [this] { return deckPass(); });
    xWorker.start(*xPacing, running, [this] { return xPass(); });
    const auto others = networks();
    for (std::size_t i = 0; i < others.size(); ++i)
        networkWorkers[i].start(others[i]->pacing(), running,
                                [network = others[i]] { return network->pass(); });
}

void CTrackpost::stopWorker() {
    running = false;
    if (!deckWorker.started() && !xWorker.started()) return;
    pacing->wake();
    xPacing->wake();
    for (Network* network : networks()) network->pacing().wake();
    // A post under way may finish, but a stalled one must not hold the host until the stall limit.
    const auto deadline = std::chrono::steady_clock::now() + RELEASE_GRACE;
    if (!xWorker.endedBy(deadline)) client.abortTransfers();
    const auto others = networks();
    for (std::size_t i = 0; i < others.size(); ++i)
        if (!networkWorkers[i].endedBy(deadline)) others[i]->abortTransfers();
    deckWorker.join();
    xWorker.join();
    for (PassThread& worker : networkWorkers) worker.join();
    client.allowTransfers();  // for a later load of the same object
    for (Network* network : networks()) network->allowTransfers();
}

std::int64_t CTrackpost::deckPass() {
    if (spfLoadInt32(&autoTweetValue) != 0) autoTweetStep(deck);
    if (manualTweetRequested.exchange(false)) tweetCurrent(TextOrigin::Manual);
    return PassThread::POLL;
}

std::int64_t CTrackpost::xPass() {
    loginSteps();
    postQueuedTexts();
    // Idle until news comes or something waiting falls due: a text, or the check of a kept login.
    std::lock_guard<std::mutex> guard(textLock);
    const std::int64_t now = xPacing->now();
    std::int64_t idle = loggedIn ? outbox.idleMillis(now, xPacing->wallMillis()) : -1;
    if (login.verifyKept) {
        const std::int64_t verify = std::max<std::int64_t>(0, (login.verifyAt - now) * 1000);
        idle = idle < 0 ? verify : std::min(idle, verify);
    }
    return idle;
}

void CTrackpost::autoTweetStep(DeckIdentity& deck) {
    const std::int64_t now = pacing->now();
    deck.identity.clear();
    deck.identity.append(deck.drive, hostText(QUERY_DRIVE, deck.drive));
    deck.identity.append(deck.path, hostText(QUERY_PATH, deck.path));
    deck.identity.append(deck.name, hostText(QUERY_NAME, deck.name));
    const double playing = hostNumber(QUERY_PLAY, 0.0);
    const double delay = hostNumber(QUERY_HISTORY_DELAY, AnnounceRule::DEFAULT_DELAY_SECONDS);
    // Only an exact 0.0 is "stopped"; any other answer, NaN included, is playing.
    if (announce.poll(now, deck.identity, playing != 0.0, delay)) tweetCurrent(TextOrigin::Auto);
}

// ---------------------------------------------------------------------------------------------
// Posting: the queued texts, oldest first, while logged in; the queue's rules say what an answer
// does to a text and when the next one may go.

void CTrackpost::postQueuedTexts() {
    while (loggedIn && running) {
        std::uint64_t id = 0;
        std::string text;
        {
            std::lock_guard<std::mutex> guard(textLock);
            if (!outbox.due(xPacing->now(), xPacing->wallMillis(), id, text)) return;
        }
        const auto use = lockClient();
        // A login or logout may have come between the texts.
        if (!loggedIn) return;
        setStatus(STATUS_SENDING);
        const PostResult result = text.empty() ? PostResult::Unsendable : postText(text);
        if (result == PostResult::Failed && !running) {
            // Cut off by Release: ours, not news for the user; the queue goes with the plug-in.
            setStatus(STATUS_TWEET_FAILED);
            return;
        }
        const std::int64_t limitEnd = result == PostResult::RateLimited ? limitEndsAt() : 0;
        PostDecision decision;
        {
            std::lock_guard<std::mutex> guard(textLock);
            decision = outbox.settle(id, result, xPacing->now(), limitEnd);
        }
        if (decision.loginLost) {
            loginLost();
            return;
        }
        setStatus(X_WORDS.of(decision.status));
        if (decision.showBox) showPostFailure(result);
    }
}

void CTrackpost::showPostFailure(PostResult result) {
    if (result == PostResult::Failed) {
        showError();
        return;
    }
    if (result == PostResult::Unsendable) {
        showMessage(EMPTY_TWEET, PLUGIN_NAME);
        return;
    }
    std::string body;
    client.getLastWebResponse(body);
    std::string message = result == PostResult::AccountBlocked ? answerDetail(body) : "";
    if (message.empty()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      result == PostResult::AccountBlocked ? ACCOUNT_BLOCKED : SERVER_ERROR,
                      client.getLastHttpStatus());
        message = text;
    }
    showMessage(message, PLUGIN_NAME);
}

// ---------------------------------------------------------------------------------------------
// Shared texts and the host's callbacks

void CTrackpost::setStatus(const char* text) {
    std::lock_guard<std::mutex> guard(textLock);
    storeStatus(text);
}

void CTrackpost::storeStatus(const char* text) {
    spfStoreText(status, sizeof status, text, std::strlen(text));
}

void CTrackpost::forgetLoginSteps() {
    const std::uint64_t generation = login.generation;
    login = LoginWork();
    login.generation = generation + 1;
}

std::string CTrackpost::templateText() {
    std::lock_guard<std::mutex> guard(textLock);
    return spfLoadText(tweetTemplate, sizeof tweetTemplate);
}

void CTrackpost::setTemplate(const std::string& text) {
    std::lock_guard<std::mutex> guard(textLock);
    spfStoreText(tweetTemplate, sizeof tweetTemplate, text);
}

void CTrackpost::queueText(std::string text, TextOrigin origin) {
    {
        std::lock_guard<std::mutex> guard(textLock);
        outbox.push(std::move(text), origin);
    }
    xPacing->wake();
}

void CTrackpost::setAuthVariable(bool on) {
    setHostVariable(AUTH_VARIABLE, on);
}

void CTrackpost::handOverHostVariables() {
    if (host == nullptr) return;
    for (const std::string& command : hostVariables.take()) host->runCommand(command.c_str());
}

double CTrackpost::hostNumber(const char* query, double preset) {
    double value = preset;
    if (host != nullptr) host->queryNumber(query, &value);
    return value;
}

std::size_t CTrackpost::hostText(const char* query, char* buffer) {
    if (host != nullptr) host->queryText(query, buffer, QUERY_SIZE);
    return strnlen(buffer, QUERY_SIZE);
}
