// The plug-in's texts against the scripted host and user: typed texts too long for X come back to
// the box, announcements are fitted, the host's tags repaired.
#include <gtest/gtest.h>

#include "XLength.h"
#include "plugin_test_support.h"

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string TOO_LONG = repeat(u8"\u65e5\u672c", 78);  // 312 as X counts

TEST_F(LoadedPlugin, TypedTextTooLongComesBackUntilItFits) {
    load();
    const std::string shorter = repeat(u8"\u65e5\u672c", 75);  // 300
    const std::string fits = repeat(u8"\u65e5\u672c", 70);     // 280
    user->inputs = {TOO_LONG, shorter, fits};
    pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
    const auto asked = user->callsOf("getInput");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].value, "");
    EXPECT_EQ(asked[1].text, "This tweet is 312 of 280 characters for X; shorten it:");
    EXPECT_EQ(asked[1].value, TOO_LONG);
    EXPECT_EQ(asked[2].text, "This tweet is 300 of 280 characters for X; shorten it:");
    EXPECT_EQ(asked[2].value, shorter);
    EXPECT_EQ(outbox(), std::vector<std::string>{fits});  // never cut
}

TEST_F(LoadedPlugin, TypedTextTooLongIsDroppedOnCancelOrAnEmptyAnswer) {
    load();
    struct Case {
        const char* name;
        std::optional<std::string> answer;
    } cases[] = {
        {"cancel", std::nullopt},
        {"confirmed unchanged", TOO_LONG},
        {"emptied", std::string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        user->inputs = {TOO_LONG, c.answer};
        pressButton(CTrackpost::PARAM_TWEET_MESSAGE);
        EXPECT_TRUE(user->inputs.empty());
        EXPECT_TRUE(outbox().empty());
    }
    EXPECT_EQ(user->callsOf("getInput").size(), 6u);
}

TEST_F(LoadedPlugin, AnnouncementIsFittedFromRepairedTags) {
    load();
    // A title tagged in Windows-1252 with a line end, far too long with the template's link.
    host.loadTrack("a.mp3", "Caf\xe9\r\n" + repeat("Long Title ", 40), "  Deadline\t");
    plugin->tweetCurrent();
    const auto texts = outbox();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_LE(xWeightedLength(texts[0]), XMeasure::LIMIT);
    EXPECT_EQ(texts[0].rfind(u8"Now playing Deadline - Caf\u00e9 Long Title", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find(u8"\u2026 on #Spinforge"), std::string::npos) << texts[0];
}

}  // namespace
