#ifndef TRACKPOST_OUTBOX_H
#define TRACKPOST_OUTBOX_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

// A pause that grows after each failure in a row: first, twice that, ... up to last.
class Backoff {
  public:
    Backoff(std::int64_t firstSeconds, std::int64_t lastSeconds)
        : first_(firstSeconds), last_(lastSeconds), next_(firstSeconds) {}
    // The pause after one more failure.
    std::int64_t next();
    void reset() { next_ = first_; }

  private:
    std::int64_t first_;
    std::int64_t last_;
    std::int64_t next_;
};

// Where a queued text came from: a full queue and a late announcement treat them differently.
enum class TextOrigin { Auto, Manual, Typed };

// The service's answer to one post, as the queue's rules see it.
enum class PostResult {
    Accepted,
    Duplicate,       // refused: the same text is stored already
    Refused,         // refused for good: this text will never be taken
    Failed,          // no answer: no connection, reset, time-out, an answer cut short
    ServerError,     // a 5xx answer
    RateLimited,     // a 429 answer: the account or app has posted too much for now
    LoginInvalid,    // a 401 answer: the login is no longer valid
    AccountBlocked,  // no credits left, or the account is suspended: every post will be refused
    Unsendable,      // the client refused it before sending (an empty text)
};

// What the worker shows after an answer. The queue itself has already done the rest: dropped
// the text or kept it, and set the time before which nothing is sent.
struct PostDecision {
    enum class Status { TweetOk, NotAccepted, TweetFailed, RateLimited, LoginFailed };
    Status status;
    // The first failure of an outage, the first refusal of a blocked account since a post last
    // went through, a text that can't be sent.
    bool showBox;
    bool loginLost;  // the login must be given up; the text waits for the next one
};

// A network's words for a decision's status ("Tweet OK" on X, "Post OK" elsewhere).
struct StatusWords {
    const char* ok;
    const char* notAccepted;
    const char* failed;
    const char* rateLimited;
    const char* loginFailed;

    const char* of(PostDecision::Status status) const;
};

// The texts waiting to be posted and the rules of a live set: which text goes next and when,
// what an answer does to it, and what gives way when the queue is full. Knows nothing of the
// host, the service or the clock: `now` is whole seconds on the worker's clock; a rate limit ends
// at a time on the wall clock, `wallMs`, milliseconds since the epoch, since the service counts
// its limits in epoch seconds.
class Outbox {
  public:
    static constexpr std::size_t CAPACITY = 200;
    static constexpr std::int64_t FIRST_RETRY_SECONDS = 2;
    static constexpr std::int64_t LAST_RETRY_SECONDS = 60;
    static constexpr int SERVER_ERROR_LIMIT = 5;  // 5xx answers in a row that drop a text
    static constexpr std::int64_t DEFAULT_LIMIT_SECONDS = 15 * 60;

    // Queues a text; returns its id. While posting is held back, a new automatic announcement
    // replaces the automatic ones still waiting. A full queue gives way oldest first: automatic
    // announcements, then manual ones, then typed texts.
    std::uint64_t push(std::string text, TextOrigin origin);

    // The text at the head, when one may be sent at `now` and `wallMs`.
    bool due(std::int64_t now, std::int64_t wallMs, std::uint64_t& id, std::string& text) const;
    // How long a worker may idle before a text may be due, in milliseconds: 0 when one is,
    // negative when nothing is queued. `now` counts whole seconds, so a hold may end up to a
    // second sooner than it says; the worker then idles again.
    std::int64_t idleMillis(std::int64_t now, std::int64_t wallMs) const;

    // What the answer to the post of text `id` at `now` does. limitEndsAtMs: for RateLimited, the
    // wall-clock time the service's limit ends (0 or less: not said, and a default wait applies).
    PostDecision settle(std::uint64_t id, PostResult result, std::int64_t now,
                        std::int64_t limitEndsAtMs = 0);

    // A login or logout: posting is no longer held back, and the next failure shows its box.
    void endOutage();
    // A new load: nothing queued, nothing held, every box may be shown again.
    void clear();

    bool heldBack() const { return heldBack_; }
    std::size_t size() const { return texts_.size(); }
    // The texts in the order they will be sent.
    std::deque<std::string> texts() const;

  private:
    struct Entry {
        std::uint64_t id;
        std::string text;
        TextOrigin origin;
        bool tried;        // a post of it may have reached the service without an answer
        int serverErrors;  // 5xx answers in a row
    };

    void makeRoom();
    void hold(std::int64_t until);
    void release();
    std::deque<Entry>::iterator find(std::uint64_t id);

    std::deque<Entry> texts_;
    std::uint64_t lastId_ = 0;
    bool heldBack_ = false;
    std::int64_t holdUntil_ = 0;      // worker's clock
    std::int64_t limitEndsAtMs_ = 0;  // wall clock
    Backoff retry_{FIRST_RETRY_SECONDS, LAST_RETRY_SECONDS};
    bool outageBoxShown_ = false;
    bool accountBoxShown_ = false;
};

#endif
