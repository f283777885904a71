#include "QueuedNetwork.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "Fitting.h"
#include "ServiceSettings.h"
#include "spfSharedText.h"

namespace {

const char STATUS_NOT_LOGGED_IN[] = "Not Logged In";
const char STATUS_LOGGED_IN[] = "Logged In";
const char STATUS_LOGIN_FAILED[] = "Login Failed";
const char EMPTY_POST[] = "An empty post can't be sent: the template gave no text.";
const StatusWords WORDS{"Post OK", "Post Not Accepted", "Post Failed", "Rate Limited",
                        STATUS_LOGIN_FAILED};

}  // namespace

QueuedNetwork::QueuedNetwork(NetworkHost& host, std::unique_ptr<WorkerPacing> pacing,
                             const NetworkIdentity& identity)
    : host_(host), pacing_(std::move(pacing)), identity_(identity) {}

void QueuedNetwork::declareParameters(ISpfHost8& host) {
    std::memset(access_, 0, sizeof access_);  // the host restores a kept block as it is declared
    host.declareParameter(&buttonValue_, SPF_PARAM_BUTTON, identity_.button, identity_.name,
                          identity_.shortName, 0);
    host.declareParameter(status_, SPF_PARAM_TEXT, identity_.status, identity_.statusName,
                          identity_.statusShort, static_cast<float>(sizeof status_));
    host.declareParameter(access_, SPF_PARAM_KEPT_BLOCK, identity_.access, identity_.accessName,
                          identity_.accessShort, static_cast<float>(sizeof access_));
}

void QueuedNetwork::load() {
    applyServiceSettings(web_);
    std::random_device random;
    std::lock_guard<std::mutex> guard(lock_);
    loadNonce_ = (std::uint64_t{random()} << 32) | random();
    outbox_.clear();
    lastAnnouncement_.clear();
    renewGeneration();
    loggedIn_ = false;
    host_.setHostVariable(identity_.variable, false);
    // Checked by the worker, so the host never waits for the network.
    verifyKept_ = enrolled_ = loadKept();
    storeStatus(STATUS_NOT_LOGGED_IN);
}

bool QueuedNetwork::onParameter(std::int32_t id) {
    if (id != identity_.button) return id == identity_.status || id == identity_.access;
    if (spfLoadInt32(&buttonValue_) == 0) pressButton();
    return true;
}

bool QueuedNetwork::takesTexts() {
    std::lock_guard<std::mutex> guard(lock_);
    return enrolled_;
}

void QueuedNetwork::queueAnnouncement(const std::vector<TextPart>& parts, TextOrigin origin) {
    std::string text = fitAnnouncement(parts, *measure());
    {
        std::lock_guard<std::mutex> guard(lock_);
        // These networks take a repeat where X refuses it: an automatic announcement of what
        // was just announced by hand would post the same text twice.
        if (origin == TextOrigin::Auto && text == lastAnnouncement_) return;
        lastAnnouncement_ = text;
        outbox_.push(std::move(text), origin);
    }
    pacing_->wake();
}

std::optional<std::string> QueuedNetwork::tooLong(const std::string& text) {
    const std::unique_ptr<TextMeasure> counting = measure();
    const std::size_t length = counting->length(text);
    if (length <= counting->limit()) return std::nullopt;
    return "This post is " + std::to_string(length) + " of " + std::to_string(counting->limit()) +
           " characters for " + identity_.name + "; shorten it:";
}

void QueuedNetwork::queueTyped(std::string text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        outbox_.push(std::move(text), TextOrigin::Typed);
    }
    pacing_->wake();
}

std::deque<std::string> QueuedNetwork::queued() {
    std::lock_guard<std::mutex> guard(lock_);
    return outbox_.texts();
}

std::string QueuedNetwork::status() {
    return spfLoadText(status_, sizeof status_);
}

void QueuedNetwork::abortTransfers() {
    aborted_ = true;
    web_.abortTransfers();
}

void QueuedNetwork::allowTransfers() {
    web_.allowTransfers();
    aborted_ = false;
}

// ---------------------------------------------------------------------------------------------
// Login state, for the network's steps

std::uint64_t QueuedNetwork::renewGeneration() {
    ++generation_;
    enrolled_ = verifyKept_ = false;
    verifyAt_ = 0;
    verifyRetry_.reset();
    return generation_;
}

void QueuedNetwork::loggedOut() {
    renewGeneration();
    outbox_.clear();
    lastAnnouncement_.clear();
    loggedIn_ = false;
    host_.setHostVariable(identity_.variable, false);
    storeStatus(STATUS_NOT_LOGGED_IN);
}

void QueuedNetwork::loggedInNow() {
    verifyKept_ = false;
    verifyRetry_.reset();
    enrolled_ = true;
    outbox_.endOutage();
    loggedIn_ = true;
    host_.setHostVariable(identity_.variable, true);
    storeStatus(STATUS_LOGGED_IN);
    pacing_->wake();  // texts queued meanwhile go out now
}

void QueuedNetwork::loginFailed(const std::string& message, std::uint64_t generation) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current(generation)) return;  // voided by a logout or a new login
        storeStatus(STATUS_LOGIN_FAILED);
    }
    if (!aborted_) host_.showMessage(message);
}

bool QueuedNetwork::verifyDue() const {
    return verifyKept_ && pacing_->now() >= verifyAt_;
}

void QueuedNetwork::verifyFailed(PostResult result) {
    const bool passing = result == PostResult::Failed || result == PostResult::ServerError ||
                         result == PostResult::RateLimited;
    verifyKept_ = passing;
    if (passing) verifyAt_ = pacing_->now() + verifyRetry_.next();
    if (result == PostResult::LoginInvalid) forgetLogin();
    storeStatus(STATUS_LOGIN_FAILED);
}

// ---------------------------------------------------------------------------------------------
// The worker

std::int64_t QueuedNetwork::pass() {
    loginSteps();
    postDueTexts();
    // Idle until news comes or something waiting falls due.
    std::lock_guard<std::mutex> guard(lock_);
    if (stepsWaiting()) return 0;
    const std::int64_t now = pacing_->now();
    std::int64_t idle = loggedIn_ ? outbox_.idleMillis(now, pacing_->wallMillis()) : -1;
    if (verifyKept_) {
        const std::int64_t verify = std::max<std::int64_t>(0, (verifyAt_ - now) * 1000);
        idle = idle < 0 ? verify : std::min(idle, verify);
    }
    return idle;
}

void QueuedNetwork::postDueTexts() {
    while (loggedIn_ && !aborted_) {
        std::uint64_t id = 0, generation = 0;
        std::string text;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!outbox_.due(pacing_->now(), pacing_->wallMillis(), id, text)) return;
            generation = generation_;
        }
        Sent sent;
        if (!text.empty()) {
            web_.setStallLimit(POST_STALL_LIMIT_SECONDS);
            sent = post(id, text);
            web_.setStallLimit(WebClient::STALL_LIMIT_SECONDS);
        }
        if (sent.result == PostResult::Failed && aborted_) return;  // cut off by the release
        PostDecision decision;
        std::string lost;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!current(generation)) return;  // logged out meanwhile: the queue went with it
            decision = outbox_.settle(id, sent.result, pacing_->now(), sent.limitEndsAtMs);
            if (decision.loginLost) {
                lost = place() + " no longer takes the login of " + account() + ": press " +
                       identity_.name + " to log in again. The posts wait for it.";
                loggedIn_ = false;
                host_.setHostVariable(identity_.variable, false);
                forgetLogin();
            }
            storeStatus(WORDS.of(decision.status));
        }
        if (decision.loginLost) {
            host_.showMessage(lost);
            return;
        }
        if (decision.showBox) showPostFailure(sent);
    }
}

void QueuedNetwork::showPostFailure(const Sent& sent) {
    std::string where;
    {
        std::lock_guard<std::mutex> guard(lock_);
        where = place();
    }
    const WebAnswer& answer = sent.answer;
    switch (sent.result) {
        case PostResult::Failed:
            host_.showMessage(where + " could not be reached: " + answer.error);
            break;
        case PostResult::Unsendable:
            host_.showMessage(EMPTY_POST);
            break;
        case PostResult::AccountBlocked:
            host_.showMessage(where + " refuses every post of this account: " + reason(answer));
            break;
        default:
            host_.showMessage(where + " can't take posts at the moment (HTTP status " +
                              std::to_string(answer.status) + "). They wait and are sent again.");
            break;
    }
}

std::string QueuedNetwork::reason(const WebAnswer& answer) {
    if (!answer.carriedOut) return answer.error;
    const std::string text = errorText(answer);
    return text.empty() ? "HTTP status " + std::to_string(answer.status) : text;
}

// ---------------------------------------------------------------------------------------------

std::string QueuedNetwork::keptBlock() const {
    return spfLoadBytes(access_, sizeof access_);
}

void QueuedNetwork::storeBlock(const std::string& block) {
    for (char& byte : access_) __atomic_store_n(&byte, '\0', __ATOMIC_RELAXED);
    spfStoreText(access_, sizeof access_, block);
}

void QueuedNetwork::storeStatus(const char* text) {
    spfStoreText(status_, sizeof status_, text, std::strlen(text));
}
