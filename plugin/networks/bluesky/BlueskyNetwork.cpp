#include "BlueskyNetwork.h"

#include "BlueskyText.h"
#include "BlueskyVerdict.h"
#include "TextBlanks.h"

namespace {

const NetworkIdentity IDENTITY{"Bluesky",
                               "BSKY",
                               BlueskyNetwork::PARAM_BUTTON,
                               BlueskyNetwork::PARAM_STATUS,
                               BlueskyNetwork::PARAM_ACCESS,
                               "Bluesky Status",
                               "BSTA",
                               "Bluesky Access",
                               "BACC",
                               BlueskyNetwork::VARIABLE};

const char STATUS_LOGGING_IN[] = "Logging In";

const char ASK_HANDLE[] = "Your Bluesky handle, for example dj.bsky.social:";
const char ASK_APP_PASSWORD[] =
    "An app password for Trackpost (Bluesky: Settings, Privacy and security, App passwords):";
const char NOT_A_HANDLE[] =
    "That is not a Bluesky handle. Give it as it shows on your profile, for example "
    "dj.bsky.social.";
const char NOT_AN_APP_PASSWORD[] =
    "That is not an app password. Trackpost never takes your account's own password: Bluesky "
    "makes a password for each app, of the form xxxx-xxxx-xxxx-xxxx, that you can revoke on its "
    "own. In Bluesky open Settings, Privacy and security, App passwords, add one for Trackpost "
    "and paste it here.";

std::vector<RecordFacet> recordFacets(const std::string& text) {
    std::vector<RecordFacet> facets;
    for (const BlueskyFacet& facet : findBlueskyFacets(text))
        facets.push_back({facet.byteStart, facet.byteEnd,
                          facet.kind == BlueskyFacet::Kind::Link ? RecordFacet::Kind::Link
                                                                 : RecordFacet::Kind::Tag,
                          facet.value});
    return facets;
}

bool madeSession(const WebAnswer& answer, const std::string& server, BlueskySession& session) {
    return answer.carriedOut && answer.status == 200 && parseSession(answer.body, server, session);
}

}  // namespace

BlueskyNetwork::BlueskyNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing)
    : QueuedNetwork(host, std::move(pacing), IDENTITY), client_(web()) {}

BlueskyNetwork::~BlueskyNetwork() = default;

bool BlueskyNetwork::loadKept() {
    credentials_.reset();
    deletion_.reset();
    session_ = BlueskySession();
    record_ = {0, std::string()};
    tidClock_ = static_cast<std::uint64_t>(pacing().wallMillis()) * 1000;
    kept_ = BlueskyKept::fromBlock(keptBlock());
    return kept_.loginKept();
}

std::unique_ptr<TextMeasure> BlueskyNetwork::measure() {
    return std::make_unique<BlueskyMeasure>();
}

std::optional<std::string> BlueskyNetwork::tooLong(const std::string& text) {
    // The byte cap passes only with long emoji sequences; said in bytes, it is exact.
    if (text.size() > BlueskyMeasure::MAX_BYTES)
        return "This post is " + std::to_string(text.size()) + " of " +
               std::to_string(BlueskyMeasure::MAX_BYTES) + " bytes for Bluesky; shorten it:";
    return QueuedNetwork::tooLong(text);
}

std::string BlueskyNetwork::errorText(const WebAnswer& answer) {
    const BlueskyError error = parseError(answer.body);
    if (error.message.empty()) return error.error;
    return error.error.empty() ? error.message : error.error + ": " + error.message;
}

// ---------------------------------------------------------------------------------------------
// The host's thread: the user's boxes; every step on the server is the worker's.

void BlueskyNetwork::pressButton() {
    const BlueskyKept kept = keptNow();
    if (kept.loginKept()) {
        if (host().showRequest("Log out of Bluesky (@" + kept.handle + ")?")) logout();
        return;
    }
    const std::optional<std::string> typed = host().askInput(ASK_HANDLE, kept.handle);
    if (!typed || trimBlanks(*typed).empty()) return;
    const std::optional<std::string> handle = blueskyHandle(*typed);
    if (!handle) {
        host().showMessage(NOT_A_HANDLE);
        return;
    }
    const std::optional<std::string> secret = host().askSecret(ASK_APP_PASSWORD);
    if (!secret) return;
    const std::string password = trimBlanks(*secret);
    if (password.empty()) return;
    if (!isAppPassword(password)) {
        host().showMessage(NOT_AN_APP_PASSWORD);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        renewGeneration();
        enrol();
        credentials_ = Credentials{*handle, password};
        storeStatus(STATUS_LOGGING_IN);
    }
    pacing().wake();
}

void BlueskyNetwork::logout() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!session_.refreshJwt.empty()) deletion_ = session_;
        session_ = BlueskySession();
        // The handle stays for the next login; the app password goes.
        kept_.appPassword.clear();
        storeKept(kept_);
        credentials_.reset();
        loggedOut();
    }
    pacing().wake();
}

// ---------------------------------------------------------------------------------------------
// The worker

bool BlueskyNetwork::stepsWaiting() const {
    return credentials_ || deletion_;
}

void BlueskyNetwork::deleteStep() {
    std::optional<BlueskySession> deletion;
    {
        std::lock_guard<std::mutex> guard(lock_);
        deletion.swap(deletion_);
    }
    if (deletion) client_.deleteSession(deletion->pds, deletion->refreshJwt);  // best effort
}

void BlueskyNetwork::loginSteps() {
    deleteStep();
    std::optional<Credentials> credentials;
    bool kept = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        generation = this->generation();
        credentials.swap(credentials_);
        if (!credentials && verifyDue()) {
            credentials = Credentials{kept_.handle, kept_.appPassword};
            kept = true;
        }
    }
    if (credentials) logIn(*credentials, kept, generation);
}

void BlueskyNetwork::logIn(const Credentials& credentials, bool kept, std::uint64_t generation) {
    const WebAnswer answer =
        client_.createSession(BlueskyClient::ENTRYWAY, credentials.handle, credentials.appPassword);
    BlueskySession session;
    if (madeSession(answer, BlueskyClient::ENTRYWAY, session)) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) {
            deletion_ = session;  // a logout came meanwhile: this session is given up too
            return;
        }
        kept_ = BlueskyKept{session.handle.empty() ? credentials.handle : session.handle,
                            session.did, session.pds, credentials.appPassword};
        storeKept(kept_);
        session_ = session;
        loggedInNow();
        return;
    }
    if (kept) {
        // Made again later where it could not be made; a refused app password is forgotten.
        std::lock_guard<std::mutex> guard(lock_);
        if (current(generation)) verifyFailed(blueskyVerdict(answer).result);
        return;
    }
    loginFailed(answer.carriedOut
                    ? "Bluesky refused the login of @" + credentials.handle + ": " + reason(answer)
                    : "Bluesky could not be reached: " + answer.error,
                generation);
}

std::optional<WebAnswer> BlueskyNetwork::renewSession(bool refreshFirst) {
    BlueskySession session;
    BlueskyKept kept;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        session = session_;
        kept = kept_;
        generation = this->generation();
    }
    BlueskySession renewed;
    WebAnswer answer;
    bool made = false;
    if (refreshFirst && !session.refreshJwt.empty()) {
        answer = client_.refreshSession(session.pds, session.refreshJwt);
        made = madeSession(answer, session.pds, renewed);
        if (!made && !answer.carriedOut) return answer;  // tried again with the next post
    }
    if (!made) {
        answer = client_.createSession(BlueskyClient::ENTRYWAY, kept.handle, kept.appPassword);
        made = madeSession(answer, BlueskyClient::ENTRYWAY, renewed);
    }
    if (!made) return answer;
    std::lock_guard<std::mutex> guard(lock_);
    if (current(generation)) session_ = renewed;
    return std::nullopt;
}

WebAnswer BlueskyNetwork::putWithSession(const std::string& rkey, const std::string& record) {
    const auto put = [&] {
        BlueskySession session;
        {
            std::lock_guard<std::mutex> guard(lock_);
            session = session_;
        }
        return client_.putRecord(session.pds, session.accessJwt, session.did, rkey, record);
    };
    bool hasSession = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hasSession = !session_.accessJwt.empty();
    }
    if (!hasSession)
        if (std::optional<WebAnswer> refused = renewSession(false)) return *refused;
    WebAnswer answer = put();
    const BlueskyVerdict verdict = blueskyVerdict(answer);
    if (verdict.result != PostResult::LoginInvalid) return answer;
    // An expired session is refreshed; a refused one made again from the app password, which
    // a revoked app password refuses too: then the login is lost.
    if (std::optional<WebAnswer> refused = renewSession(verdict.refresh)) return *refused;
    return put();
}

BlueskyNetwork::Sent BlueskyNetwork::post(std::uint64_t id, const std::string& text) {
    if (record_.first != id)
        record_ = {id,
                   postRecord(text, rfc3339Millis(pacing().wallMillis()), {}, recordFacets(text))};
    Sent sent;
    sent.answer = putWithSession(recordKey(id), record_.second);
    sent.result = blueskyVerdict(sent.answer).result;
    if (sent.result == PostResult::RateLimited)
        sent.limitEndsAtMs = blueskyLimitEndsAt(sent.answer, pacing().wallMillis());
    return sent;
}

void BlueskyNetwork::forgetLogin() {
    // The app password no longer makes sessions: the next login asks for a new one.
    kept_.appPassword.clear();
    storeKept(kept_);
    session_ = BlueskySession();
}

// ---------------------------------------------------------------------------------------------

BlueskyKept BlueskyNetwork::keptNow() {
    std::lock_guard<std::mutex> guard(lock_);
    return kept_;
}

void BlueskyNetwork::storeKept(const BlueskyKept& kept) {
    storeBlock(kept.toBlock(ACCESS_SIZE));
}

std::string BlueskyNetwork::recordKey(std::uint64_t id) const {
    // Counted on from the load's clock: keys of one load in order, never one of another load.
    return newTid(tidClock_ + id, static_cast<std::uint32_t>(loadNonce() & 0x3ff));
}
