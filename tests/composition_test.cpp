// Tweet composition and the announce rule, as pure functions of their inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "AnnounceRule.h"
#include "TweetComposer.h"

namespace {

TEST(ReplaceAll, Cases) {
    struct Case {
        const char *text, *token, *value, *expected;
    } cases[] = {
        {"a %X% b %X%", "%X%", "1", "a 1 b 1"},
        {"%X%%X%", "%X%", "", ""},
        {"no token", "%X%", "1", "no token"},
        {"aaa", "aa", "b", "ba"},            // left to right, never overlapping
        {"%X%", "%X%", "%X%%X%", "%X%%X%"},  // inserted values are not searched again
        {"", "%X%", "1", ""},
        {"x%X", "%X%", "1", "x%X"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replaceAll(c.text, c.token, c.value), c.expected) << c.text;
}

// Composes with a host that answers from a table and records what it was asked.
struct RecordingQuery {
    std::map<std::string, std::string> answers;
    std::vector<std::string> asked;

    std::string compose(const std::string& tmpl) {
        return composeTweet(tmpl, [this](const char* query) {
            asked.push_back(query);
            return answers[query];
        });
    }
};

std::string q(const char* field) {
    return std::string("deck active get_loaded_song '") + field + "'";
}

TEST(ComposeTweet, Cases) {
    const std::map<std::string, std::string> track = {
        {q("title"), "Strobe"}, {q("artist"), "Deadline"}, {q("remix"), "Club Mix"},
        {q("comment"), "100%"}, {q("album"), "Lights"},    {q("genre"), "House"},
        {q("year"), "2009"},
    };
    struct Case {
        const char* name;
        std::string tmpl;
        std::map<std::string, std::string> overrides;
        std::string expected;
        std::vector<std::string> asked;
    } cases[] = {
        {"default template, title first",
         "Now playing %ARTIST% - %TITLE% on #Spinforge",
         {},
         "Now playing Deadline - Strobe on #Spinforge",
         {q("title"), q("artist")}},
        {"no tokens, no queries", "Just text %BPM% %title%", {}, "Just text %BPM% %title%", {}},
        {"empty template", "", {}, "", {}},
        {"every token in table order",
         "%YEAR%|%GENRE%|%ALBUM%|%COMMENT%|%REMIX%|%ARTIST%|%TITLE%",
         {},
         "2009|House|Lights|100%|Club Mix|Deadline|Strobe",
         {q("title"), q("artist"), q("remix"), q("comment"), q("album"), q("genre"), q("year")}},
        {"a repeated token costs one query", "%TITLE% %TITLE%", {}, "Strobe Strobe", {q("title")}},
        {"a value holding a later token is expanded",
         "%TITLE%",
         {{q("title"), "by %ARTIST%"}},
         "by Deadline",
         {q("title"), q("artist")}},
        {"a value holding an earlier token is not",
         "%ARTIST%",
         {{q("artist"), "%TITLE%"}},
         "%TITLE%",
         {q("artist")}},
        {"empty answers",
         "%TITLE%-%ARTIST%",
         {{q("title"), ""}, {q("artist"), ""}},
         "-",
         {q("title"), q("artist")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingQuery host;
        host.answers = track;
        for (const auto& [query, value] : c.overrides) host.answers[query] = value;
        EXPECT_EQ(host.compose(c.tmpl), c.expected);
        EXPECT_EQ(host.asked, c.asked);
    }
}

// One poll of the deck: time, file identity, playing, history delay.
struct Poll {
    std::int64_t now;
    const char* identity;
    bool playing;
    double delay;
};

TEST(AnnounceRule, Table) {
    const double nan = std::nan("");
    struct Case {
        const char* name;
        std::vector<Poll> polls;
        std::vector<std::int64_t> announcedAt;
    } cases[] = {
        {"default delay while playing",
         {{0, "a", true, 45}, {44, "a", true, 45}, {45, "a", true, 45}, {90, "a", true, 45}},
         {45}},
        {"delay 0 announces on the first poll, playing or not", {{7, "a", false, 0}}, {7}},
        {"a negative delay announces at once", {{7, "a", true, -3}}, {7}},
        {"30.9 counts as 30",
         {{0, "a", true, 30.9}, {29, "a", true, 30.9}, {30, "a", true, 30.9}},
         {30}},
        {"-0.5 counts as 0", {{3, "a", false, -0.5}}, {3}},
        {"an unreadable delay counts as the default",
         {{0, "a", true, nan}, {44, "a", true, nan}, {45, "a", true, nan}},
         {45}},
        {"a huge delay is not reached in a year",
         {{0, "a", true, 1e300}, {365LL * 86400, "a", true, 1e300}},
         {}},
        {"a pause restarts the wait in full",
         {{0, "a", true, 45},
          {40, "a", true, 45},
          {41, "a", false, 45},
          {42, "a", true, 45},
          {82, "a", true, 45},
          {86, "a", true, 45}},
         {86}},
        {"a track replaced before its delay is never announced",
         {{0, "a", true, 45}, {30, "b", true, 45}, {46, "b", true, 45}, {75, "b", true, 45}},
         {75}},
        {"reloading the same file announces nothing",
         {{0, "a", true, 0}, {10, "a", false, 0}, {20, "a", true, 0}},
         {0}},
        {"a file loaded again after another is new again",
         {{0, "a", true, 0}, {10, "b", true, 0}, {20, "a", true, 0}},
         {0, 10, 20}},
        {"an empty deck at the start is no new track", {{0, "", true, 0}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnnounceRule rule;
        std::vector<std::int64_t> announced;
        for (const Poll& p : c.polls)
            if (rule.poll(p.now, p.identity, p.playing, p.delay)) announced.push_back(p.now);
        EXPECT_EQ(announced, c.announcedAt);
    }
}

TEST(AnnounceRule, WholeSecondsClampsWhatAnIntCannotHold) {
    EXPECT_EQ(AnnounceRule::wholeSeconds(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(AnnounceRule::wholeSeconds(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(AnnounceRule::wholeSeconds(std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(AnnounceRule::wholeSeconds(-30.9), -30);
}

}  // namespace
