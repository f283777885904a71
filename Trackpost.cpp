#include "Trackpost.h"

#include <cstring>
#include <system_error>

#include "PluginResources.h"
#include "TweetComposer.h"
#include "spfSharedText.h"

namespace {

const char PLUGIN_NAME[] = "Trackpost";
const char PLUGIN_AUTHOR[] = "Kelm";
const char DEFAULT_TEMPLATE[] = "Now playing %ARTIST% - %TITLE% on #Spinforge";
const char SKIN_XML[] = "skin_trackpost.xml";
const char SKIN_IMAGE[] = "skin_trackpost.png";

const char STATUS_NOT_LOGGED_IN[] = "Not Logged In";

const char CMD_AUTH_OFF[] = "set $trackpost_auth 0";

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
      pacing(new SteadyPacing()) {}

CTrackpost::~CTrackpost() {
    stopWorker();
}

// ---------------------------------------------------------------------------------------------
// The host's operations

SPFRESULT CTrackpost::OnLoad() {
    // A second load restarts cleanly instead of abandoning a running worker.
    stopWorker();

    loggedIn = false;
    manualTweetRequested = false;
    hostRun(CMD_AUTH_OFF);
    std::memset(access, 0, sizeof access);
    {
        std::lock_guard<std::mutex> guard(textLock);
        spfStoreText(tweetTemplate, sizeof tweetTemplate, DEFAULT_TEMPLATE,
                     sizeof DEFAULT_TEMPLATE - 1);
    }
    setStatus(STATUS_NOT_LOGGED_IN);
    declareParameters();

    try {
        startWorker();
    } catch (const std::system_error&) {
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
    if (info == nullptr) return SPF_OK;
    info->pluginName = PLUGIN_NAME;
    info->author = PLUGIN_AUTHOR;
    return SPF_OK;
}

SPFRESULT CTrackpost::OnGetUserInterface(TSpfPluginInterface8* ui) {
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

SPFRESULT CTrackpost::OnParameter(std::int32_t id) {
    switch (id) {
        case PARAM_MANUAL_TWEET:
            // Buttons act on release (value 0), so a press and its release act once.
            if (manualTweetValue != 0) break;
            manualTweetRequested = true;
            pacing->wake();
            break;
        default:
            // "Auto Tweet" is read by the worker; the texts and the kept block need nothing.
            break;
    }
    return SPF_OK;
}

SPFRESULT CTrackpost::Release() {
    stopWorker();
    delete this;
    return SPF_OK;
}

// ---------------------------------------------------------------------------------------------
// Composition

void CTrackpost::tweetCurrent() {
    char answer[QUERY_SIZE];
    const TrackQuery ask = [&](const char* query) {
        answer[0] = '\0';  // a query the host leaves unanswered gives an empty value
        return std::string(answer, hostText(query, answer));
    };
    queueText(composeTweet(templateText(), ask));
}

// ---------------------------------------------------------------------------------------------
// The auto-tweet worker

void CTrackpost::startWorker() {
    running = true;
    worker = std::thread(&CTrackpost::workerMain, this);
}

void CTrackpost::stopWorker() {
    running = false;
    if (!worker.joinable()) return;
    pacing->wake();
    worker.join();
}

void CTrackpost::workerMain() {
    DeckIdentity deck;
    while (running) {
        try {
            workerPass(deck);
        } catch (const std::exception&) {
            // Out of memory during one pass: drop that pass's work, never the host.
        }
        pacing->pause(running);
    }
}

void CTrackpost::workerPass(DeckIdentity& deck) {
    if (spfLoadInt32(&autoTweetValue) != 0) autoTweetStep(deck);
    if (manualTweetRequested.exchange(false)) tweetCurrent();
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
    if (announce.poll(now, deck.identity, playing != 0.0, delay)) tweetCurrent();
}

// ---------------------------------------------------------------------------------------------
// Shared texts and the host's callbacks

void CTrackpost::setStatus(const char* text) {
    std::lock_guard<std::mutex> guard(textLock);
    spfStoreText(status, sizeof status, text, std::strlen(text));
}

std::string CTrackpost::templateText() {
    std::lock_guard<std::mutex> guard(textLock);
    return spfLoadText(tweetTemplate, sizeof tweetTemplate);
}

void CTrackpost::queueText(std::string text) {
    std::lock_guard<std::mutex> guard(textLock);
    outbox.push_back(std::move(text));
}

void CTrackpost::hostRun(const char* command) {
    if (host != nullptr) host->runCommand(command);
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
