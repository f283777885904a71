#include "Outbox.h"

#include <algorithm>

std::int64_t Backoff::next() {
    const std::int64_t pause = next_;
    next_ = std::min(next_ * 2, last_);
    return pause;
}

std::uint64_t Outbox::push(std::string text, TextOrigin origin) {
    // Only what plays now is worth announcing late.
    if (heldBack_ && origin == TextOrigin::Auto)
        texts_.erase(std::remove_if(texts_.begin(), texts_.end(),
                                    [](const Entry& e) { return e.origin == TextOrigin::Auto; }),
                     texts_.end());
    while (texts_.size() >= CAPACITY) makeRoom();
    texts_.push_back(Entry{++lastId_, std::move(text), origin, false, 0});
    return lastId_;
}

void Outbox::makeRoom() {
    for (TextOrigin first : {TextOrigin::Auto, TextOrigin::Manual, TextOrigin::Typed}) {
        const auto oldest = std::find_if(texts_.begin(), texts_.end(),
                                         [&](const Entry& e) { return e.origin == first; });
        if (oldest != texts_.end()) {
            texts_.erase(oldest);
            return;
        }
    }
}

bool Outbox::due(std::int64_t now, std::int64_t wallMs, std::uint64_t& id,
                 std::string& text) const {
    if (texts_.empty() || (heldBack_ && (now < holdUntil_ || wallMs < limitEndsAtMs_)))
        return false;
    id = texts_.front().id;
    text = texts_.front().text;
    return true;
}

std::int64_t Outbox::idleMillis(std::int64_t now, std::int64_t wallMs) const {
    if (texts_.empty()) return -1;
    if (!heldBack_) return 0;
    return std::max<std::int64_t>({0, (holdUntil_ - now) * 1000, limitEndsAtMs_ - wallMs});
}

const char* StatusWords::of(PostDecision::Status status) const {
    switch (status) {
        case PostDecision::Status::TweetOk:
            return ok;
        case PostDecision::Status::NotAccepted:
            return notAccepted;
        case PostDecision::Status::TweetFailed:
            return failed;
        case PostDecision::Status::RateLimited:
            return rateLimited;
        case PostDecision::Status::LoginFailed:
            break;
    }
    return loginFailed;
}

PostDecision Outbox::settle(std::uint64_t id, PostResult result, std::int64_t now,
                            std::int64_t limitEndsAtMs) {
    using Status = PostDecision::Status;
    // The text may have given way to others meanwhile; the answer still tells about the service.
    const auto entry = find(id);
    const bool known = entry != texts_.end();
    const auto drop = [&] {
        if (known) texts_.erase(entry);
    };
    // A failure of this outage: the text waits for the next try, and only the first says why.
    const auto failure = [&](Status status) {
        hold(now + retry_.next());
        const bool first = !outageBoxShown_;
        outageBoxShown_ = true;
        return PostDecision{status, first, false};
    };

    // A post went through: a blocked account has been set right since its box.
    const auto wentThrough = [&] {
        drop();
        release();
        accountBoxShown_ = false;
        return PostDecision{Status::TweetOk, false, false};
    };

    switch (result) {
        case PostResult::Accepted:
            return wentThrough();
        case PostResult::Duplicate: {
            // A try whose answer was lost may have been stored: its copy is the one refused.
            if (known && entry->tried) return wentThrough();
            drop();
            release();
            return {Status::NotAccepted, false, false};
        }
        case PostResult::Refused:
            drop();
            release();
            return {Status::NotAccepted, false, false};
        case PostResult::Failed:
            if (known) entry->tried = true;
            return failure(Status::TweetFailed);
        case PostResult::ServerError: {
            bool givenUp = false;
            if (known) {
                entry->tried = true;
                givenUp = ++entry->serverErrors >= SERVER_ERROR_LIMIT;
                if (givenUp) drop();
            }
            return failure(givenUp ? Status::NotAccepted : Status::TweetFailed);
        }
        case PostResult::RateLimited:
            if (limitEndsAtMs > 0) {
                hold(now);
                limitEndsAtMs_ = limitEndsAtMs;
            } else {
                hold(now + DEFAULT_LIMIT_SECONDS);
            }
            return {Status::RateLimited, false, false};
        case PostResult::LoginInvalid:
            // Kept for the next login, which is not held back.
            release();
            return {Status::LoginFailed, false, true};
        case PostResult::Unsendable:
            // Says nothing about the service.
            drop();
            return {Status::TweetFailed, true, false};
        case PostResult::AccountBlocked: {
            drop();
            release();
            const bool first = !accountBoxShown_;
            accountBoxShown_ = true;
            return {Status::NotAccepted, first, false};
        }
    }
    return {Status::NotAccepted, false, false};
}

void Outbox::endOutage() {
    release();
}

void Outbox::clear() {
    texts_.clear();
    release();
    accountBoxShown_ = false;
}

std::deque<std::string> Outbox::texts() const {
    std::deque<std::string> out;
    for (const Entry& e : texts_) out.push_back(e.text);
    return out;
}

void Outbox::hold(std::int64_t until) {
    heldBack_ = true;
    holdUntil_ = until;
    limitEndsAtMs_ = 0;
}

void Outbox::release() {
    heldBack_ = false;
    holdUntil_ = 0;
    limitEndsAtMs_ = 0;
    retry_.reset();
    outageBoxShown_ = false;
}

std::deque<Outbox::Entry>::iterator Outbox::find(std::uint64_t id) {
    return std::find_if(texts_.begin(), texts_.end(), [&](const Entry& e) { return e.id == id; });
}
