// The queue's rules for a live set, alone, on a clock the test sets: what each answer does to the
// text at the head, when the next try may go, what gives way in a full queue, and which failures
// say why.
#include "Outbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Status = PostDecision::Status;

std::vector<std::string> texts(const Outbox& box) {
    const auto all = box.texts();
    return std::vector<std::string>(all.begin(), all.end());
}

// The wall clock where a test does not set it: the worker's seconds, in milliseconds.
std::int64_t wallAt(std::int64_t now) {
    return now * 1000;
}

// Posts the head at `now` and settles it with `result`; fails the test when nothing is due.
PostDecision postHead(Outbox& box, std::int64_t now, PostResult result,
                      std::int64_t limitEndsAtMs = 0) {
    std::uint64_t id = 0;
    std::string text;
    EXPECT_TRUE(box.due(now, wallAt(now), id, text)) << "nothing due at " << now;
    return box.settle(id, result, now, limitEndsAtMs);
}

// The first moment from `from` on at which a text is due; -1 within an hour.
std::int64_t nextDue(const Outbox& box, std::int64_t from) {
    std::uint64_t id = 0;
    std::string text;
    for (std::int64_t t = from; t < from + 3600; ++t)
        if (box.due(t, wallAt(t), id, text)) return t;
    return -1;
}

TEST(Backoff, DoublesUpToItsLastAndStartsAgainAfterAReset) {
    Backoff pause(2, 60);
    std::vector<std::int64_t> seen;
    for (int i = 0; i < 7; ++i) seen.push_back(pause.next());
    EXPECT_EQ(seen, (std::vector<std::int64_t>{2, 4, 8, 16, 32, 60, 60}));
    pause.reset();
    EXPECT_EQ(pause.next(), 2);
}

// What one answer does to the text at the head, from a queue that was not held back.
TEST(Outbox, EachAnswerToAFirstTry) {
    struct Case {
        PostResult result;
        Status status;
        bool kept;  // the text stays at the head
        bool box;
        bool loginLost;
        bool held;
    };
    const Case cases[] = {
        {PostResult::Accepted, Status::TweetOk, false, false, false, false},
        {PostResult::Duplicate, Status::NotAccepted, false, false, false, false},
        {PostResult::Refused, Status::NotAccepted, false, false, false, false},
        {PostResult::Failed, Status::TweetFailed, true, true, false, true},
        {PostResult::ServerError, Status::TweetFailed, true, true, false, true},
        {PostResult::RateLimited, Status::RateLimited, true, false, false, true},
        {PostResult::LoginInvalid, Status::LoginFailed, true, false, true, false},
        {PostResult::AccountBlocked, Status::NotAccepted, false, true, false, false},
        {PostResult::Unsendable, Status::TweetFailed, false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.result));
        Outbox box;
        box.push("first", TextOrigin::Typed);
        box.push("second", TextOrigin::Auto);
        const PostDecision d = postHead(box, 100, c.result);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.showBox, c.box);
        EXPECT_EQ(d.loginLost, c.loginLost);
        EXPECT_EQ(box.heldBack(), c.held);
        EXPECT_EQ(texts(box), c.kept ? (std::vector<std::string>{"first", "second"})
                                     : (std::vector<std::string>{"second"}));
        EXPECT_EQ(nextDue(box, 100) == 100, !c.held) << "the next text goes at once unless held";
    }
}

TEST(Outbox, TransferFailuresRetryTheSameTextWithAGrowingPauseAndOneBoxPerOutage) {
    Outbox box;
    box.push("one", TextOrigin::Typed);
    box.push("two", TextOrigin::Typed);
    std::int64_t now = 1000;
    std::vector<std::int64_t> pauses;
    std::vector<bool> boxes;
    for (int i = 0; i < 7; ++i) {
        const PostDecision d = postHead(box, now, PostResult::Failed);
        boxes.push_back(d.showBox);
        const std::int64_t next = nextDue(box, now);
        pauses.push_back(next - now);
        now = next;
    }
    EXPECT_EQ(pauses, (std::vector<std::int64_t>{2, 4, 8, 16, 32, 60, 60}));
    EXPECT_EQ(boxes, (std::vector<bool>{true, false, false, false, false, false, false}));
    EXPECT_EQ(texts(box), (std::vector<std::string>{"one", "two"})) << "order kept, nothing lost";

    // The service is back: the outage ends, the next text goes at once, and a new outage says so.
    EXPECT_EQ(postHead(box, now, PostResult::Accepted).status, Status::TweetOk);
    EXPECT_FALSE(box.heldBack());
    const PostDecision again = postHead(box, now, PostResult::Failed);
    EXPECT_TRUE(again.showBox);
    EXPECT_EQ(nextDue(box, now) - now, 2) << "the pause starts small again";
}

TEST(Outbox, ALoginOrLogoutEndsTheOutage) {
    Outbox box;
    box.push("one", TextOrigin::Typed);
    EXPECT_TRUE(postHead(box, 10, PostResult::Failed).showBox);
    box.endOutage();
    EXPECT_EQ(nextDue(box, 10), 10) << "not held after a login";
    EXPECT_TRUE(postHead(box, 10, PostResult::Failed).showBox);
}

TEST(Outbox, ARetriedTextRefusedAsADuplicateWasStoredByAnEarlierTry) {
    for (PostResult first : {PostResult::Failed, PostResult::ServerError}) {
        Outbox box;
        box.push("one", TextOrigin::Typed);
        postHead(box, 0, first);
        EXPECT_EQ(postHead(box, nextDue(box, 0), PostResult::Duplicate).status, Status::TweetOk);
        EXPECT_EQ(box.size(), 0u);
    }
    // Neither a rate limit nor a lost login sent it anywhere.
    for (PostResult first : {PostResult::RateLimited, PostResult::LoginInvalid}) {
        Outbox box;
        box.push("one", TextOrigin::Typed);
        postHead(box, 0, first, 5);
        EXPECT_EQ(postHead(box, nextDue(box, 0), PostResult::Duplicate).status,
                  Status::NotAccepted);
    }
}

TEST(Outbox, ATextAnsweredWithServerErrorsFiveTimesInARowIsDropped) {
    Outbox box;
    box.push("one", TextOrigin::Typed);
    box.push("two", TextOrigin::Typed);
    std::int64_t now = 0;
    std::vector<Status> seen;
    for (int i = 0; i < Outbox::SERVER_ERROR_LIMIT; ++i) {
        seen.push_back(postHead(box, now, PostResult::ServerError).status);
        now = nextDue(box, now);
    }
    EXPECT_EQ(seen,
              (std::vector<Status>{Status::TweetFailed, Status::TweetFailed, Status::TweetFailed,
                                   Status::TweetFailed, Status::NotAccepted}));
    EXPECT_EQ(texts(box), std::vector<std::string>{"two"});
    EXPECT_TRUE(box.heldBack()) << "the service still fails: the next text waits too";
}

// The limit ends at a second of the service's epoch clock, which the worker's whole seconds do not
// line up with: 16 of them may pass while the wall clock is still 30 ms short of the reset.
TEST(Outbox, ARateLimitHoldsEveryTextUntilTheWallClockReachesTheReset) {
    Outbox box;
    box.push("one", TextOrigin::Typed);
    box.push("two", TextOrigin::Typed);
    const std::int64_t wallAtAnswer = 1'800'000'000'970;  // ms
    const std::int64_t reset = 1'800'000'017'000;
    std::uint64_t id = 0;
    std::string text;
    ASSERT_TRUE(box.due(100, wallAtAnswer, id, text));
    const PostDecision d = box.settle(id, PostResult::RateLimited, 100, reset);
    EXPECT_EQ(d.status, Status::RateLimited);
    EXPECT_FALSE(d.showBox);
    for (const std::int64_t early : {wallAtAnswer, wallAtAnswer + 15'000, reset - 30, reset - 1})
        EXPECT_FALSE(box.due(100 + 17, early, id, text)) << "due at " << early;
    EXPECT_TRUE(box.due(100 + 16, reset, id, text)) << "due at the reset, whatever our seconds";
    EXPECT_EQ(text, "one");
    EXPECT_EQ(texts(box), (std::vector<std::string>{"one", "two"}));

    Outbox untold;
    untold.push("one", TextOrigin::Typed);
    postHead(untold, 100, PostResult::RateLimited, 0);
    EXPECT_EQ(nextDue(untold, 100), 100 + Outbox::DEFAULT_LIMIT_SECONDS)
        << "15 minutes when the answer does not say";

    // A limit is over once a post goes through; a later failure waits only its own pause.
    ASSERT_TRUE(box.due(200, reset, id, text));
    box.settle(id, PostResult::Accepted, 200);
    postHead(box, 200, PostResult::Failed);
    EXPECT_EQ(nextDue(box, 200), 200 + Outbox::FIRST_RETRY_SECONDS);
}

// One box per blocked period: the account's refusals say why once, until a post goes through
// again (the account was set right) or the plug-in is loaded anew.
TEST(Outbox, ABlockedAccountSaysWhyOncePerBlockedPeriod) {
    Outbox box;
    std::int64_t now = 0;
    const auto blockedBox = [&] {
        box.push("text " + std::to_string(now), TextOrigin::Typed);
        return postHead(box, ++now, PostResult::AccountBlocked).showBox;
    };
    const auto post = [&](PostResult result) {
        box.push("text " + std::to_string(now), TextOrigin::Typed);
        postHead(box, ++now, result);
    };
    std::vector<bool> boxes;
    for (int i = 0; i < 3; ++i) boxes.push_back(blockedBox());
    post(PostResult::Refused);    // refused for itself: says nothing of the account
    post(PostResult::Duplicate);  // a first try refused as a duplicate: neither
    boxes.push_back(blockedBox());
    post(PostResult::Accepted);  // topped up: posts go through
    boxes.push_back(blockedBox());
    boxes.push_back(blockedBox());
    EXPECT_EQ(boxes, (std::vector<bool>{true, false, false, false, true, false}));

    // A try whose answer was lost and that is then refused as a duplicate went through too.
    box.push("lost answer", TextOrigin::Typed);
    postHead(box, ++now, PostResult::Failed);
    now = nextDue(box, now);
    EXPECT_EQ(postHead(box, now, PostResult::Duplicate).status, Status::TweetOk);
    EXPECT_TRUE(blockedBox());

    box.clear();  // a new load
    EXPECT_TRUE(blockedBox());
}

TEST(Outbox, WhileHeldBackANewAnnouncementReplacesTheAutomaticOnesWaiting) {
    Outbox box;
    box.push("auto 1", TextOrigin::Auto);
    box.push("typed", TextOrigin::Typed);
    box.push("manual", TextOrigin::Manual);
    box.push("auto 2", TextOrigin::Auto);
    EXPECT_EQ(box.size(), 4u) << "not held: every announcement waits its turn";

    postHead(box, 0, PostResult::Failed);
    box.push("auto 3", TextOrigin::Auto);
    EXPECT_EQ(texts(box), (std::vector<std::string>{"typed", "manual", "auto 3"}));
    box.push("typed 2", TextOrigin::Typed);
    box.push("manual 2", TextOrigin::Manual);
    EXPECT_EQ(texts(box),
              (std::vector<std::string>{"typed", "manual", "auto 3", "typed 2", "manual 2"}));

    // Logged out (a lost login) is not held back: the queue goes out in order after the login.
    Outbox loggedOut;
    loggedOut.push("auto 1", TextOrigin::Auto);
    postHead(loggedOut, 0, PostResult::LoginInvalid);
    loggedOut.push("auto 2", TextOrigin::Auto);
    EXPECT_EQ(texts(loggedOut), (std::vector<std::string>{"auto 1", "auto 2"}));
}

TEST(Outbox, AFullQueueGivesWayOldestAutomaticFirstTypedLast) {
    Outbox box;
    box.push("manual 0", TextOrigin::Manual);
    box.push("typed 0", TextOrigin::Typed);
    for (std::size_t i = 2; i < Outbox::CAPACITY; ++i)
        box.push("auto " + std::to_string(i), TextOrigin::Auto);
    ASSERT_EQ(box.size(), Outbox::CAPACITY);

    box.push("typed 1", TextOrigin::Typed);
    EXPECT_EQ(box.size(), Outbox::CAPACITY);
    auto all = texts(box);
    EXPECT_EQ(all.front(), "manual 0");
    EXPECT_EQ(all[2], "auto 3") << "the oldest announcement gave way";
    EXPECT_EQ(all.back(), "typed 1");

    // With only typed and manual texts left, the manual ones give way before any typed one.
    Outbox people;
    for (std::size_t i = 0; i < Outbox::CAPACITY; ++i)
        people.push((i % 2 ? "typed " : "manual ") + std::to_string(i),
                    i % 2 ? TextOrigin::Typed : TextOrigin::Manual);
    people.push("typed new", TextOrigin::Typed);
    all = texts(people);
    EXPECT_EQ(all.front(), "typed 1");
    people = Outbox();
    for (std::size_t i = 0; i < Outbox::CAPACITY + 1; ++i)
        people.push("typed " + std::to_string(i), TextOrigin::Typed);
    EXPECT_EQ(texts(people).front(), "typed 1") << "typed texts last, oldest first";
}

TEST(Outbox, AnAnswerForATextThatGaveWayStillTellsAboutTheService) {
    Outbox box;
    box.push("auto 1", TextOrigin::Auto);
    std::uint64_t id = 0;
    std::string text;
    ASSERT_TRUE(box.due(0, 0, id, text));
    for (std::size_t i = 0; i < Outbox::CAPACITY; ++i)
        box.push("typed " + std::to_string(i), TextOrigin::Typed);  // "auto 1" gives way
    const PostDecision d = box.settle(id, PostResult::Failed, 0);
    EXPECT_EQ(d.status, Status::TweetFailed);
    EXPECT_TRUE(d.showBox);
    EXPECT_TRUE(box.heldBack());
    EXPECT_EQ(box.size(), Outbox::CAPACITY);
    EXPECT_EQ(texts(box).front(), "typed 0");
}

}  // namespace
