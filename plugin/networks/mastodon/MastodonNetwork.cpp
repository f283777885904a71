#include "MastodonNetwork.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "Fitting.h"
#include "MastodonLength.h"
#include "MastodonVerdict.h"
#include "ServiceSettings.h"
#include "TextBlanks.h"
#include "spfSharedText.h"

namespace {

const char STATUS_NOT_LOGGED_IN[] = "Not Logged In";
const char STATUS_LOGGING_IN[] = "Logging In";
const char STATUS_LOGGED_IN[] = "Logged In";
const char STATUS_LOGIN_FAILED[] = "Login Failed";
const char STATUS_POST_OK[] = "Post OK";
const char STATUS_POST_FAILED[] = "Post Failed";
const char STATUS_NOT_ACCEPTED[] = "Post Not Accepted";
const char STATUS_RATE_LIMITED[] = "Rate Limited";

const char ASK_SERVER[] = "Your Mastodon server, for example mastodon.social:";
const char ASK_CODE[] = "Paste the code that your Mastodon server shows:";
const char NOT_A_SERVER[] =
    "That is not the name of a server. Give your Mastodon server as mastodon.social or "
    "https://mastodon.social/.";
const char EMPTY_POST[] = "An empty post can't be sent: the template gave no text.";

const char APP_NAME[] = "Trackpost";
const char APP_WEBSITE[] = "https://trackpost.org/";
// Posting, and reading the account's name to check the login: "profile" where the server has
// it, the older and wider "read:accounts" elsewhere.
const char SCOPES_WITH_PROFILE[] = "write:statuses profile";
const char SCOPES_WITHOUT_PROFILE[] = "write:statuses read:accounts";

std::string onServer(const std::string& server) {
    return "Mastodon (" + server + ")";
}

std::string handle(const MastodonKept& kept) {
    return "@" + kept.account + "@" + kept.server;
}

// The server's reason, else its HTTP status.
std::string reason(const WebAnswer& answer) {
    if (!answer.carriedOut) return answer.error;
    std::string error = answerError(answer.body);
    return error.empty() ? "HTTP status " + std::to_string(answer.status) : error;
}

}  // namespace

MastodonNetwork::MastodonNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing)
    : host_(host), pacing_(std::move(pacing)), client_(web_) {}

MastodonNetwork::~MastodonNetwork() = default;

void MastodonNetwork::declareParameters(ISpfHost8& host) {
    std::memset(access_, 0, sizeof access_);  // the host restores a kept block as it is declared
    host.declareParameter(&buttonValue_, SPF_PARAM_BUTTON, PARAM_BUTTON, "Mastodon", "MAST", 0);
    host.declareParameter(status_, SPF_PARAM_TEXT, PARAM_STATUS, "Mastodon Status", "MSTA",
                          static_cast<float>(sizeof status_));
    host.declareParameter(access_, SPF_PARAM_KEPT_BLOCK, PARAM_ACCESS, "Mastodon Access", "MACC",
                          static_cast<float>(sizeof access_));
}

void MastodonNetwork::load() {
    applyServiceSettings(web_);
    std::random_device random;
    char prefix[17];
    std::snprintf(prefix, sizeof prefix, "%08x%08x", random(), random());
    std::lock_guard<std::mutex> guard(lock_);
    keyPrefix_ = prefix;
    outbox_.clear();
    lastAnnouncement_.clear();
    revocation_.reset();
    const std::uint64_t generation = login_.generation + 1;
    login_ = Login();
    login_.generation = generation;
    limit_ = MastodonTextLimit();
    loggedIn_ = false;
    host_.setHostVariable(VARIABLE, false);
    kept_ = MastodonKept::fromBlock(spfLoadBytes(access_, sizeof access_));
    // Checked by the worker, so the host never waits for the network.
    login_.verifyKept = login_.enrolled = kept_.loginKept();
    storeStatus(STATUS_NOT_LOGGED_IN);
}

bool MastodonNetwork::onParameter(std::int32_t id) {
    if (id != PARAM_BUTTON) return id == PARAM_STATUS || id == PARAM_ACCESS;
    if (spfLoadInt32(&buttonValue_) == 0) pressButton();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The host's thread: the user's boxes; every step on the server is the worker's.

void MastodonNetwork::pressButton() {
    const MastodonKept kept = keptNow();
    if (kept.loginKept()) {
        if (host_.showRequest("Log out of Mastodon (" + handle(kept) + ")?")) logout();
        return;
    }
    const std::optional<std::string> typed =
        host_.askInput(ASK_SERVER, kept.server.empty() ? DEFAULT_SERVER : kept.server);
    if (!typed || trimBlanks(*typed).empty()) return;
    const std::optional<std::string> server = mastodonServer(*typed);
    if (!server) {
        host_.showMessage(NOT_A_SERVER);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        // A new login voids any step of an earlier one.
        const std::uint64_t generation = login_.generation + 1;
        login_ = Login();
        login_.generation = generation;
        login_.enrolled = true;
        login_.server = *server;
        storeStatus(STATUS_LOGGING_IN);
    }
    host_.pinsGoTo(*this);
    pacing_->wake();
}

void MastodonNetwork::pressPin() {
    if (keptNow().loginKept()) return;  // logged in: no code is awaited
    const std::string code = trimBlanks(host_.askInput(ASK_CODE, "").value_or(""));
    if (code.empty()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        login_.code =
            code;  // after a page still being opened; typed again, it replaces one not taken
    }
    pacing_->wake();
}

void MastodonNetwork::logout() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (kept_.loginKept())
            revocation_ =
                Revocation{kept_.server, {kept_.clientId, kept_.clientSecret}, kept_.token};
        // The server and the registration stay for the next login.
        kept_.token.clear();
        kept_.account.clear();
        storeKept(kept_);
        const std::uint64_t generation = login_.generation + 1;
        login_ = Login();
        login_.generation = generation;
        outbox_.clear();
        lastAnnouncement_.clear();
        loggedIn_ = false;
        host_.setHostVariable(VARIABLE, false);
        storeStatus(STATUS_NOT_LOGGED_IN);
    }
    pacing_->wake();
}

bool MastodonNetwork::takesTexts() {
    std::lock_guard<std::mutex> guard(lock_);
    return login_.enrolled;
}

void MastodonNetwork::queueAnnouncement(const std::vector<TextPart>& parts, TextOrigin origin) {
    MastodonTextLimit limit;
    {
        std::lock_guard<std::mutex> guard(lock_);
        limit = limit_;
    }
    std::string text =
        fitAnnouncement(parts, MastodonMeasure(limit.maxCharacters, limit.charactersPerUrl));
    {
        std::lock_guard<std::mutex> guard(lock_);
        // The server takes a repeat where X refuses it: an automatic announcement of what was
        // just announced by hand would post the same text twice.
        if (origin == TextOrigin::Auto && text == lastAnnouncement_) return;
        lastAnnouncement_ = text;
        outbox_.push(std::move(text), origin);
    }
    pacing_->wake();
}

std::optional<std::string> MastodonNetwork::tooLong(const std::string& text) {
    MastodonTextLimit limit;
    {
        std::lock_guard<std::mutex> guard(lock_);
        limit = limit_;
    }
    const std::size_t length =
        MastodonMeasure(limit.maxCharacters, limit.charactersPerUrl).length(text);
    if (length <= limit.maxCharacters) return std::nullopt;
    return "This post is " + std::to_string(length) + " of " + std::to_string(limit.maxCharacters) +
           " characters for Mastodon; shorten it:";
}

void MastodonNetwork::queueTyped(std::string text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        outbox_.push(std::move(text), TextOrigin::Typed);
    }
    pacing_->wake();
}

std::deque<std::string> MastodonNetwork::queued() {
    std::lock_guard<std::mutex> guard(lock_);
    return outbox_.texts();
}

std::string MastodonNetwork::status() {
    return spfLoadText(status_, sizeof status_);
}

void MastodonNetwork::abortTransfers() {
    aborted_ = true;
    web_.abortTransfers();
}

void MastodonNetwork::allowTransfers() {
    web_.allowTransfers();
    aborted_ = false;
}

// ---------------------------------------------------------------------------------------------
// The worker

std::int64_t MastodonNetwork::pass() {
    revokeStep();
    loginStep();
    postDueTexts();
    // Idle until news comes or something waiting falls due.
    std::lock_guard<std::mutex> guard(lock_);
    if (revocation_ || !login_.server.empty() || !login_.code.empty()) return 0;
    const std::int64_t now = pacing_->now();
    std::int64_t idle = loggedIn_ ? outbox_.idleMillis(now, pacing_->wallMillis()) : -1;
    if (login_.verifyKept) {
        const std::int64_t verify = std::max<std::int64_t>(0, (login_.verifyAt - now) * 1000);
        idle = idle < 0 ? verify : std::min(idle, verify);
    }
    return idle;
}

void MastodonNetwork::revokeStep() {
    std::optional<Revocation> revocation;
    {
        std::lock_guard<std::mutex> guard(lock_);
        revocation.swap(revocation_);
    }
    if (!revocation) return;
    client_.setServer(revocation->server);
    client_.revoke(revocation->app, revocation->token);  // best effort: forgotten either way
}

void MastodonNetwork::loginStep() {
    std::string server, code;
    bool verify = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        generation = login_.generation;
        if (!login_.server.empty()) {
            server.swap(login_.server);
        } else if (!login_.code.empty()) {
            code.swap(login_.code);
        } else if (login_.verifyKept && pacing_->now() >= login_.verifyAt) {
            verify = true;
        }
    }
    if (!server.empty())
        openAuthorizePage(server, generation);
    else if (!code.empty())
        exchangeCode(code, generation);
    else if (verify)
        verifyKept(generation);
}

void MastodonNetwork::loginFailed(const std::string& message, std::uint64_t generation) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) return;  // voided by a logout or a new login
        storeStatus(STATUS_LOGIN_FAILED);
    }
    if (!aborted_) host_.showMessage(message);
}

void MastodonNetwork::openAuthorizePage(const std::string& server, std::uint64_t generation) {
    const auto fail = [&](const std::string& message) { loginFailed(message, generation); };
    client_.setServer(server);
    const WebAnswer metadata = client_.authorizationServerMetadata();
    if (!metadata.carriedOut)
        return fail(onServer(server) + " could not be reached: " + metadata.error);
    const char* scopes = metadata.status == 200 && serverOffersProfileScope(metadata.body)
                             ? SCOPES_WITH_PROFILE
                             : SCOPES_WITHOUT_PROFILE;
    MastodonKept kept = keptNow();
    if (kept.server != server || !kept.registered()) {
        const WebAnswer registration = client_.registerApp(APP_NAME, scopes, APP_WEBSITE);
        MastodonApp app;
        if (!registration.carriedOut || registration.status != 200 ||
            !parseApp(registration.body, app))
            return fail(onServer(server) + " did not register Trackpost: " + reason(registration));
        kept = MastodonKept{server, app.clientId, app.clientSecret, "", ""};
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) return;
        kept_ = kept;
        storeKept(kept_);
    }
    const std::string url = client_.authorizeUrl({kept.clientId, kept.clientSecret}, scopes);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) return;
    }
    host_.openLoginPage(url);
}

void MastodonNetwork::exchangeCode(const std::string& code, std::uint64_t generation) {
    const auto fail = [&](const std::string& message) { loginFailed(message, generation); };
    MastodonKept kept = keptNow();
    if (!kept.registered()) return fail("Press Mastodon to log in first; then paste the code.");
    client_.setServer(kept.server);
    const WebAnswer exchange = client_.exchangeCode({kept.clientId, kept.clientSecret}, code);
    if (exchange.carriedOut && exchange.status == 401) {
        // The server no longer knows the registration: made again, and a new page opened.
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!current(generation)) return;
            kept_.clientId.clear();
            kept_.clientSecret.clear();
            storeKept(kept_);
        }
        host_.showMessage(onServer(kept.server) +
                          " no longer knew Trackpost: a new page opens; paste the code it shows.");
        openAuthorizePage(kept.server, generation);
        return;
    }
    std::string token;
    if (!exchange.carriedOut || exchange.status != 200 || !parseAccessToken(exchange.body, token))
        return fail(onServer(kept.server) + " refused the code: " + reason(exchange));
    client_.setToken(token);
    const WebAnswer account = client_.verifyCredentials();
    std::string name;
    if (!account.carriedOut || account.status != 200 || !parseAccountName(account.body, name))
        return fail(onServer(kept.server) + " did not confirm the login: " + reason(account));
    kept.token = token;
    kept.account = name;
    if (commitLogin(kept, generation)) readTextLimit();
}

void MastodonNetwork::verifyKept(std::uint64_t generation) {
    MastodonKept kept = keptNow();
    client_.setServer(kept.server);
    client_.setToken(kept.token);
    const WebAnswer account = client_.verifyCredentials();
    std::string name;
    if (account.carriedOut && account.status == 200 && parseAccountName(account.body, name)) {
        kept.account = name;
        if (commitLogin(kept, generation)) readTextLimit();
        return;
    }
    const PostResult result = mastodonVerdict(account);
    std::lock_guard<std::mutex> guard(lock_);
    if (!current(generation)) return;
    // A check that could not be made is made again later; a refusal waits for a new login, and
    // a token the server no longer takes is forgotten.
    const bool passing = result == PostResult::Failed || result == PostResult::ServerError ||
                         result == PostResult::RateLimited;
    login_.verifyKept = passing;
    if (passing) login_.verifyAt = pacing_->now() + login_.verifyRetry.next();
    if (result == PostResult::LoginInvalid) {
        kept_.token.clear();
        storeKept(kept_);
    }
    storeStatus(STATUS_LOGIN_FAILED);
}

bool MastodonNetwork::commitLogin(const MastodonKept& kept, std::uint64_t generation) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) return false;
        kept_ = kept;
        storeKept(kept_);
        login_.verifyKept = false;
        login_.verifyRetry.reset();
        login_.enrolled = true;
        outbox_.endOutage();
        loggedIn_ = true;
        host_.setHostVariable(VARIABLE, true);
        storeStatus(STATUS_LOGGED_IN);
    }
    pacing_->wake();  // texts queued meanwhile go out now
    return true;
}

void MastodonNetwork::readTextLimit() {
    const WebAnswer answer = client_.instance();
    MastodonTextLimit limit;
    if (!answer.carriedOut || answer.status != 200 || !parseTextLimit(answer.body, limit)) return;
    std::lock_guard<std::mutex> guard(lock_);
    limit_ = limit;
}

void MastodonNetwork::postDueTexts() {
    while (loggedIn_ && !aborted_) {
        std::uint64_t id = 0, generation = 0;
        std::string text;
        MastodonKept kept;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!outbox_.due(pacing_->now(), pacing_->wallMillis(), id, text)) return;
            kept = kept_;
            generation = login_.generation;
        }
        WebAnswer answer;
        PostResult result = PostResult::Unsendable;
        if (!text.empty()) {
            client_.setServer(kept.server);
            client_.setToken(kept.token);
            // A stalled post is given up and tried again: its key keeps the retry from
            // doubling it, and the texts behind it wait meanwhile.
            web_.setStallLimit(POST_STALL_LIMIT_SECONDS);
            answer = client_.postStatus(text, idempotencyKey(id));
            web_.setStallLimit(WebClient::STALL_LIMIT_SECONDS);
            result = mastodonVerdict(answer);
        }
        if (result == PostResult::Failed && aborted_) return;  // cut off by the release
        const std::int64_t limitEnd = result == PostResult::RateLimited
                                          ? mastodonLimitEndsAt(answer, pacing_->wallMillis())
                                          : 0;
        PostDecision decision;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!current(generation)) return;  // logged out meanwhile: the queue went with it
            decision = outbox_.settle(id, result, pacing_->now(), limitEnd);
            if (decision.loginLost) {
                loggedIn_ = false;
                host_.setHostVariable(VARIABLE, false);
                kept_.token.clear();
                storeKept(kept_);
            }
            switch (decision.status) {
                case PostDecision::Status::TweetOk:
                    storeStatus(STATUS_POST_OK);
                    break;
                case PostDecision::Status::NotAccepted:
                    storeStatus(STATUS_NOT_ACCEPTED);
                    break;
                case PostDecision::Status::TweetFailed:
                    storeStatus(STATUS_POST_FAILED);
                    break;
                case PostDecision::Status::RateLimited:
                    storeStatus(STATUS_RATE_LIMITED);
                    break;
                case PostDecision::Status::LoginFailed:
                    storeStatus(STATUS_LOGIN_FAILED);
                    break;
            }
        }
        if (decision.loginLost) {
            host_.showMessage(onServer(kept.server) + " no longer takes the login of " +
                              handle(kept) +
                              ": press Mastodon to log in again. The posts wait for it.");
            return;
        }
        if (decision.showBox) showPostFailure(result, answer, kept.server);
    }
}

void MastodonNetwork::showPostFailure(PostResult result, const WebAnswer& answer,
                                      const std::string& server) {
    switch (result) {
        case PostResult::Failed:
            host_.showMessage(onServer(server) + " could not be reached: " + answer.error);
            break;
        case PostResult::Unsendable:
            host_.showMessage(EMPTY_POST);
            break;
        case PostResult::AccountBlocked:
            host_.showMessage(onServer(server) +
                              " refuses every post of this account: " + reason(answer));
            break;
        default:
            host_.showMessage(onServer(server) + " can't take posts at the moment (HTTP status " +
                              std::to_string(answer.status) + "). They wait and are sent again.");
            break;
    }
}

// ---------------------------------------------------------------------------------------------

MastodonKept MastodonNetwork::keptNow() {
    std::lock_guard<std::mutex> guard(lock_);
    return kept_;
}

void MastodonNetwork::storeKept(const MastodonKept& kept) {
    const std::string block = kept.toBlock(sizeof access_);
    for (char& byte : access_) __atomic_store_n(&byte, '\0', __ATOMIC_RELAXED);
    spfStoreText(access_, sizeof access_, block);
}

void MastodonNetwork::storeStatus(const char* text) {
    spfStoreText(status_, sizeof status_, text, std::strlen(text));
}

std::string MastodonNetwork::idempotencyKey(std::uint64_t id) const {
    return "trackpost-" + keyPrefix_ + "-" + std::to_string(id);
}
