// A track too long for one post, announced through the host simulator against the sandbox, which
// counts as the service does: the posted text fits, keeps the template's words, its link and its
// tags whole, and the track's tags come repaired (Windows-1252 bytes, line breaks).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "eventually.h"
#include "sandbox_test_support.h"
#include "sim_process.h"
#include "test_support.h"
#include "twitter_text_oracle.h"

using namespace std::chrono_literals;
using testsupport::TempFolder;

namespace {

const char STATE_HEADER[] = "# spinforge-sim kept values: plug-in, parameter id, bytes in hex";
const char PLUGIN_KEY[] = "TrackpostSandbox";  // the host keeps values under the library's name
const int ACCESS_ID = 10;
const int TEMPLATE_ID = 12;
const std::size_t TEMPLATE_SIZE = 512;
const auto STEP_LIMIT = 60s;  // catches a hang; a sanitizer's run stays far below it
const std::size_t LIMIT = 280;

const std::string ELLIPSIS = u8"\u2026";
const std::string LINK = "https://example.com/sets/harbour-lights-2026";
const std::string TEMPLATE_TAIL = ") " + LINK + " #Spinforge #NowPlaying";
const std::string TEMPLATE = "Now playing %ARTIST% - %TITLE% (%REMIX%" + TEMPLATE_TAIL;

// 406 code points: Latin words, CJK, emoji sequences and a flag.
std::string longTitle() {
    std::string title;
    for (int i = 0; i < 14; ++i)
        title +=
            u8"Nachtmusik \u6771\u4eac\u306e\u591c \U0001f468\u200d\U0001f469\u200d\U0001f467 "
            u8"\U0001f1ef\U0001f1f5 Mix ";
    return title;
}

const std::string ARTIST_1252 = "Caf\xe9 Noir \x93Live\x94";  // Windows-1252, not UTF-8
const std::string ARTIST = u8"Caf\u00e9 Noir \u201cLive\u201d";
const std::string REMIX_BROKEN = u8"Recorded live\rat Harbour Lights\u2028Night \v 2";
const std::string REMIX = "Recorded live at Harbour Lights Night 2";

std::string hexOf(const std::string& bytes) {
    return testsupport::toHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

class AnnouncedThroughTheSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        std::string kept = TEMPLATE;
        kept.resize(TEMPLATE_SIZE, '\0');
        std::ofstream(folder.path() / "state")
            << STATE_HEADER << "\n"
            << PLUGIN_KEY << " " << ACCESS_ID << " " << hexOf(preIssuedBlock()) << "\n"
            << PLUGIN_KEY << " " << TEMPLATE_ID << " " << hexOf(kept) << "\n";
        // Drive, path, file name, title, artist, remix, comment, album, genre, year.
        std::ofstream(folder.path() / "playlist")
            << "/Volumes/Crates\t/Music/Live/\t01 Nachtmusik.flac\t" << longTitle() << "\t"
            << ARTIST_1252 << "\t" << REMIX_BROKEN << "\t\tHarbour Lights\tHouse\t2026\n";
    }

    TempFolder folder{"trackpost-sim-text-"};
};

TEST_F(AnnouncedThroughTheSimulator, ALongTitleIsCutToFitAndTheWordsLinkAndTagsStayWhole) {
    SimProcess sim({SIM_PROGRAM, "--state", (folder.path() / "state").string(), "--playlist",
                    (folder.path() / "playlist").string(), SIM_PLUGIN},
                   {{"TRACKPOST_DIALOGS", "terminal"},
                    {"TRACKPOST_SANDBOX_PROXY", "127.0.0.1:" + std::to_string(sandbox().port())},
                    {"TRACKPOST_SANDBOX_CA", SandboxService::caFile()}});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(sim.send("load 1"));
    ASSERT_TRUE(sim.send("press Manual Tweet"));
    // The post's outcome: "Tweet OK", "Tweet Not Accepted" (refused) or "Tweet Failed".
    const auto outcome = sim.waitForLine(
        [](const SimProcess::Line& line) {
            return line.text.find("Status: 'Tweet ") != std::string::npos;
        },
        0, STEP_LIMIT);
    ASSERT_TRUE(outcome) << sim.transcript();
    EXPECT_NE(outcome->text.find("Status: 'Tweet OK'"), std::string::npos) << sim.transcript();
    ASSERT_TRUE(sim.send("quit"));
    EXPECT_EQ(sim.finish(STEP_LIMIT), 0) << sim.transcript();

    // The sandbox took it, so by its count (the service's library) it is at most 280.
    const std::vector<std::string> posted = timelineTexts();
    ASSERT_EQ(posted.size(), 1u) << sim.transcript();
    const std::string& text = posted[0];

    const std::string head = "Now playing " + ARTIST + " - ";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string tail = " (" + REMIX + TEMPLATE_TAIL;
    ASSERT_GT(text.size(), head.size() + tail.size()) << text;
    ASSERT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0) << text;
    // The title, the longest field, is the one cut: a start of it, then "…".
    const std::string title = text.substr(head.size(), text.size() - head.size() - tail.size());
    ASSERT_GT(title.size(), ELLIPSIS.size()) << text;
    EXPECT_EQ(title.compare(title.size() - ELLIPSIS.size(), ELLIPSIS.size(), ELLIPSIS), 0);
    const std::string kept = title.substr(0, title.size() - ELLIPSIS.size());
    EXPECT_EQ(longTitle().compare(0, kept.size(), kept), 0) << text;

    if (!twitterTextInstalled()) GTEST_SKIP() << TWITTER_TEXT_MISSING;
    const std::vector<std::size_t> counted = countedByTwitterText({text, longTitle()});
    ASSERT_EQ(counted.size(), 2u);
    EXPECT_LE(counted[0], LIMIT) << text;
    EXPECT_GE(counted[0], LIMIT - 4) << "cut more than needed: " << text;
    EXPECT_GT(counted[1], LIMIT) << "the title alone must pass the limit";
}

}  // namespace
