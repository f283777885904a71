#include "MastodonNetwork.h"

#include <cstdio>

#include "MastodonLength.h"
#include "MastodonVerdict.h"
#include "TextBlanks.h"

namespace {

const NetworkIdentity IDENTITY{"Mastodon",
                               "MAST",
                               MastodonNetwork::PARAM_BUTTON,
                               MastodonNetwork::PARAM_STATUS,
                               MastodonNetwork::PARAM_ACCESS,
                               "Mastodon Status",
                               "MSTA",
                               "Mastodon Access",
                               "MACC",
                               MastodonNetwork::VARIABLE};

const char STATUS_LOGGING_IN[] = "Logging In";

const char ASK_SERVER[] = "Your Mastodon server, for example mastodon.social:";
const char ASK_CODE[] = "Paste the code that your Mastodon server shows:";
const char NOT_A_SERVER[] =
    "That is not the name of a server. Give your Mastodon server as mastodon.social or "
    "https://mastodon.social/.";

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

}  // namespace

MastodonNetwork::MastodonNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing)
    : QueuedNetwork(host, std::move(pacing), IDENTITY), client_(web()) {}

MastodonNetwork::~MastodonNetwork() = default;

bool MastodonNetwork::loadKept() {
    server_.clear();
    code_.clear();
    revocation_.reset();
    limit_ = MastodonTextLimit();
    kept_ = MastodonKept::fromBlock(keptBlock());
    return kept_.loginKept();
}

std::unique_ptr<TextMeasure> MastodonNetwork::measure() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::make_unique<MastodonMeasure>(limit_.maxCharacters, limit_.charactersPerUrl);
}

// ---------------------------------------------------------------------------------------------
// The host's thread: the user's boxes; every step on the server is the worker's.

void MastodonNetwork::pressButton() {
    const MastodonKept kept = keptNow();
    if (kept.loginKept()) {
        if (host().showRequest("Log out of Mastodon (" + handle(kept) + ")?")) logout();
        return;
    }
    const std::optional<std::string> typed =
        host().askInput(ASK_SERVER, kept.server.empty() ? DEFAULT_SERVER : kept.server);
    if (!typed || trimBlanks(*typed).empty()) return;
    const std::optional<std::string> server = mastodonServer(*typed);
    if (!server) {
        host().showMessage(NOT_A_SERVER);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        renewGeneration();
        enrol();
        code_.clear();
        server_ = *server;
        storeStatus(STATUS_LOGGING_IN);
    }
    host().pinsGoTo(*this);
    pacing().wake();
}

void MastodonNetwork::pressPin() {
    if (keptNow().loginKept()) return;  // logged in: no code is awaited
    const std::string code = trimBlanks(host().askInput(ASK_CODE, "").value_or(""));
    if (code.empty()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        code_ = code;  // after a page still being opened; typed again, it replaces one not taken
    }
    pacing().wake();
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
        server_.clear();
        code_.clear();
        loggedOut();
    }
    pacing().wake();
}

// ---------------------------------------------------------------------------------------------
// The worker

bool MastodonNetwork::stepsWaiting() const {
    return revocation_ || !server_.empty() || !code_.empty();
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

void MastodonNetwork::loginSteps() {
    revokeStep();
    std::string server, code;
    bool verify = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        generation = this->generation();
        if (!server_.empty()) {
            server.swap(server_);
        } else if (!code_.empty()) {
            code.swap(code_);
        } else {
            verify = verifyDue();
        }
    }
    if (!server.empty())
        openAuthorizePage(server, generation);
    else if (!code.empty())
        exchangeCode(code, generation);
    else if (verify)
        verifyKept(generation);
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
    host().openLoginPage(url);
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
        host().showMessage(onServer(kept.server) +
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
    if (current(generation)) verifyFailed(result);
}

bool MastodonNetwork::commitLogin(const MastodonKept& kept, std::uint64_t generation) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!current(generation)) return false;
    kept_ = kept;
    storeKept(kept_);
    loggedInNow();
    return true;
}

void MastodonNetwork::readTextLimit() {
    const WebAnswer answer = client_.instance();
    MastodonTextLimit limit;
    if (!answer.carriedOut || answer.status != 200 || !parseTextLimit(answer.body, limit)) return;
    std::lock_guard<std::mutex> guard(lock_);
    limit_ = limit;
}

MastodonNetwork::Sent MastodonNetwork::post(std::uint64_t id, const std::string& text) {
    const MastodonKept kept = keptNow();
    client_.setServer(kept.server);
    client_.setToken(kept.token);
    Sent sent;
    sent.answer = client_.postStatus(text, idempotencyKey(id));
    sent.result = mastodonVerdict(sent.answer);
    if (sent.result == PostResult::RateLimited)
        sent.limitEndsAtMs = mastodonLimitEndsAt(sent.answer, pacing().wallMillis());
    return sent;
}

void MastodonNetwork::forgetLogin() {
    // Its tokens never expire: a refused one can never work again. The server and the
    // registration stay.
    kept_.token.clear();
    storeKept(kept_);
}

std::string MastodonNetwork::place() {
    return onServer(kept_.server);
}

std::string MastodonNetwork::account() {
    return handle(kept_);
}

std::string MastodonNetwork::errorText(const WebAnswer& answer) {
    return answerError(answer.body);
}

// ---------------------------------------------------------------------------------------------

MastodonKept MastodonNetwork::keptNow() {
    std::lock_guard<std::mutex> guard(lock_);
    return kept_;
}

void MastodonNetwork::storeKept(const MastodonKept& kept) {
    storeBlock(kept.toBlock(ACCESS_SIZE));
}

std::string MastodonNetwork::idempotencyKey(std::uint64_t id) const {
    char prefix[17];
    std::snprintf(prefix, sizeof prefix, "%016llx", static_cast<unsigned long long>(loadNonce()));
    return std::string("trackpost-") + prefix + "-" + std::to_string(id);
}
