// The plug-in object against a scripted host: factory, loading, parameters, skin, release and the
// worker, stepped pass by pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "PluginResources.h"
#include "eventually.h"
#include "plugin_test_support.h"

namespace {

const char TITLE_QUERY[] = "deck active get_loaded_song 'title'";
const char ARTIST_QUERY[] = "deck active get_loaded_song 'artist'";
const char PLAY_QUERY[] = "deck active play";
const char DELAY_QUERY[] = "setting 'historyDelay'";

SpfGuid otherGuid(SpfGuid g, int byte) {
    g.data4[byte] ^= 1;
    return g;
}

TEST(Factory, AcceptsOnlyItsClassAndInterface) {
    struct Case {
        const char* name;
        SpfGuid clsid;
        SpfGuid iid;
    };
    const Case refused[] = {
        {"wrong class", otherGuid(CLSID_SpfPlugin8, 7), IID_ISpfPluginBasic8},
        {"wrong interface", CLSID_SpfPlugin8, otherGuid(IID_ISpfPluginBasic8, 0)},
        {"swapped", IID_ISpfPluginBasic8, CLSID_SpfPlugin8},
    };
    for (const Case& c : refused) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &out), static_cast<SPFRESULT>(-1)) << c.name;
        EXPECT_EQ(out, reinterpret_cast<void*>(0x1234)) << c.name;
    }
    EXPECT_EQ(DllGetClassObject(CLSID_SpfPlugin8, IID_ISpfPluginBasic8, nullptr),
              static_cast<SPFRESULT>(-1));

    void* out = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_SpfPlugin8, IID_ISpfPluginBasic8, &out), SPF_OK);
    ASSERT_NE(out, nullptr);
    auto* plugin = static_cast<ISpfPlugin8*>(out);
    EXPECT_EQ(plugin->bundle, nullptr);
    EXPECT_EQ(plugin->host, nullptr);
    TSpfPluginInfo8 info{};
    EXPECT_EQ(plugin->OnGetPluginInfo(&info), SPF_OK);
    EXPECT_STREQ(info.pluginName, "Trackpost");
    EXPECT_STREQ(info.author, "Kelm");
    char text[16] = "untouched";
    EXPECT_EQ(plugin->OnGetParameterString(11, text, sizeof text), SPF_NOTIMPL);
    EXPECT_STREQ(text, "untouched");
    // Released without ever being loaded: no worker to stop, nothing to crash.
    EXPECT_EQ(plugin->Release(), SPF_OK);
}

// What the worker decides waits for the host's thread; between two hand-overs the last value of
// each variable wins, in the order the variables were first set.
TEST(HostVariables, HandsOverTheLastValueOfEachOnce) {
    HostVariables variables;
    EXPECT_TRUE(variables.take().empty());
    variables.set("trackpost_auth", "1");
    variables.set("other", "x");
    variables.set("trackpost_auth", "0");
    EXPECT_EQ(variables.take(),
              (std::vector<std::string>{"set $trackpost_auth 0", "set $other x"}));
    EXPECT_TRUE(variables.take().empty()) << "each change is made once";
}

TEST_F(LoadedPlugin, DeclaresItsParametersWithDefaults) {
    load();
    struct Expected {
        std::int32_t id, kind;
        const char *name, *shortName;
        float value;
    };
    const Expected expected[] = {
        {0, 0, "Auth", "AUTH", 0},
        {1, 0, "PIN", "PIN", 0},
        {2, 2, "Auto Tweet", "AUTO", 0},
        {3, 0, "Manual Tweet", "MAN", 0},
        {4, 0, "Tweet Message", "MSG", 0},
        {5, 0, "Edit Template", "EDT", 0},
        {6, 0, "Logout", "LOGO", 0},
        {10, 4, "Access", "ACC", 256},
        {11, 3, "Status", "STA", 64},
        {12, 3, "Template", "TMP", 512},
        {20, 0, "Mastodon", "MAST", 0},
        {22, 3, "Mastodon Status", "MSTA", 64},
        {24, 4, "Mastodon Access", "MACC", 1024},
        {21, 0, "Bluesky", "BSKY", 0},
        {23, 3, "Bluesky Status", "BSTA", 64},
        {25, 4, "Bluesky Access", "BACC", 1024},
    };
    ASSERT_EQ(host.declarations.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& d = host.declarations[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(d.id, expected[i].id);
        EXPECT_EQ(d.kind, expected[i].kind);
        EXPECT_EQ(d.name, expected[i].name);
        EXPECT_EQ(d.shortName, expected[i].shortName);
        EXPECT_EQ(d.value, expected[i].value);
        ASSERT_NE(d.storage, nullptr);
        if (d.kind == 0 || d.kind == 2) {
            EXPECT_EQ(*static_cast<std::int32_t*>(d.storage), 0);
        }
    }
    EXPECT_EQ(host.commands,
              (std::vector<std::string>{"set $trackpost_auth 0", "set $trackpost_mastodon 0",
                                        "set $trackpost_bluesky 0"}));
    EXPECT_EQ(CTrackpostTestAccess::status(*plugin), "Not Logged In");
    EXPECT_EQ(CTrackpostTestAccess::tweetTemplate(*plugin),
              "Now playing %ARTIST% - %TITLE% on #Spinforge");
    const char* access = CTrackpostTestAccess::access(*plugin);
    EXPECT_TRUE(std::all_of(access, access + 256, [](char c) { return c == 0; }));
    EXPECT_EQ(host.storage<char>(10), access);
}

TEST_F(LoadedPlugin, KeptValuesRestoredDuringTheDeclarationsWin) {
    std::string block(256, '\0');
    block.replace(0, 5, "key-1");
    block.replace(128, 8, "secret-1");
    block[200] = '\x7f';  // kept whole, every byte
    std::string tmpl(512, '\0');
    tmpl.replace(0, 8, "%TITLE%!");
    host.kept[10] = block;
    host.kept[12] = tmpl;
    host.kept[2] = std::string("\1\0\0\0", 4);
    load();
    EXPECT_EQ(std::string(CTrackpostTestAccess::access(*plugin), 256), block);
    EXPECT_EQ(CTrackpostTestAccess::tweetTemplate(*plugin), "%TITLE%!");
    EXPECT_EQ(*host.storage<std::int32_t>(2), 1);
}

// The host shows what the skin places: every parameter once, under its own name.
TEST_F(LoadedPlugin, TheSkinPlacesEveryParameterOnce) {
    load();
    std::ifstream file(std::string(TRACKPOST_SOURCE_DIR) + "/resources/skin_trackpost.xml");
    ASSERT_TRUE(file);
    const std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (const auto& d : host.declarations) {
        SCOPED_TRACE(d.name);
        const std::string element = " id=\"" + std::to_string(d.id) + "\" name=\"" + d.name +
                                    "\" short=\"" + d.shortName + "\"";
        const std::size_t at = xml.find(element);
        EXPECT_NE(at, std::string::npos);
        EXPECT_EQ(xml.find(" id=\"" + std::to_string(d.id) + "\"", at + 1), std::string::npos);
    }
}

TEST_F(LoadedPlugin, SkinMissingBesideTheProgramGivesNullBuffers) {
    load();
    // The test program has no Resources folder beside it.
    TSpfPluginInterface8 ui{};
    ui.imageSize = 99;
    EXPECT_EQ(plugin->OnGetUserInterface(&ui), SPF_OK);
    EXPECT_EQ(ui.type, SPF_INTERFACE_SKIN);
    EXPECT_EQ(ui.skinXml, nullptr);
    EXPECT_EQ(ui.imageData, nullptr);
    EXPECT_EQ(ui.imageSize, 0);
}

TEST(PluginResources, ReadsWholeFilesWithATerminator) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("trackpost-res-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    };
    const std::string binary("a\0b\xff", 4);
    struct Case {
        const char* name;
        std::string path;
        const char* expected;  // null: the read fails
        int expectedSize;
    } cases[] = {
        {"whole file", write("skin.bin", binary), binary.data(), 4},
        {"empty file", write("empty.xml", ""), "", 0},
        {"missing file", (folder / "missing.png").string(), nullptr, 0},
        {"a folder", folder.string(), nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int size = 12345;
        std::unique_ptr<char[]> data(readWholeFile(c.path.c_str(), size));
        EXPECT_EQ(size, c.expectedSize);
        if (!c.expected) {
            EXPECT_EQ(data, nullptr);
            continue;
        }
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data.get(), size), std::string(c.expected, c.expectedSize));
        EXPECT_EQ(data[size], '\0');
    }
    std::filesystem::remove_all(folder);

    for (const char* name : {"", "/etc/passwd", "../skin.xml", "a/b", ".", ".."}) {
        EXPECT_FALSE(isPlainResourceName(name)) << name;
        int size = 7;
        EXPECT_EQ(loadPluginResource(nullptr, name, size), nullptr) << name;
        EXPECT_EQ(size, 7) << name;
    }
    EXPECT_FALSE(isPlainResourceName(nullptr));
    EXPECT_TRUE(isPlainResourceName("skin_trackpost.xml"));
}

TEST_F(LoadedPlugin, ReleaseJoinsTheWorkerAndNoHostCallFollows) {
    // Real pacing: the worker polls every 5 ms with "Auto Tweet" on.
    plugin = makePlugin(&host);
    host.loadTrack("a.mp3", "T", "A");
    host.kept[2] = std::string("\1\0\0\0", 4);
    ASSERT_EQ(plugin->OnLoad(), SPF_OK);
    // The host's lock is held only to look: the worker needs it to be answered.
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> guard(host.lock);
        return host.numberQueries.size() >= 4;
    })) << "the worker polls the host";
    plugin->Release();
    plugin = nullptr;
    long callsAfterRelease;
    {
        std::lock_guard<std::mutex> guard(host.lock);
        callsAfterRelease = host.calls;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::lock_guard<std::mutex> guard(host.lock);
    EXPECT_EQ(host.calls, callsAfterRelease);
}

TEST_F(LoadedPlugin, SecondLoadRestartsTheWorker) {
    plugin = makePlugin(&host);
    ASSERT_EQ(plugin->OnLoad(), SPF_OK);
    ASSERT_EQ(plugin->OnLoad(), SPF_OK);
    EXPECT_TRUE(CTrackpostTestAccess::workerRunning(*plugin));
    EXPECT_EQ(host.declarations.size(), 32u);
}

// ---------------------------------------------------------------------------------------------
// The worker

TEST_F(LoadedPlugin, AutoTweetSwitchedOnMidTrackCountsFromThatMoment) {
    load();
    host.loadTrack("a.mp3", "Title A", "Artist A");
    host.answer(PLAY_QUERY, 1.0);
    pacing->step();  // switch off: the host is not even asked
    EXPECT_TRUE(host.takeTextQueries().empty());

    pacing->clock = 2000;
    setValue(CTrackpost::PARAM_AUTO_TWEET, 1);
    pacing->step();
    pacing->clock = 2044;
    pacing->step();
    EXPECT_TRUE(outbox().empty());
    pacing->clock = 2045;
    pacing->step();
    EXPECT_EQ(outbox(), std::vector<std::string>{"Now playing Artist A - Title A on #Spinforge"});
    pacing->clock = 3000;
    pacing->step();
    EXPECT_EQ(outbox().size(), 1u) << "one announcement per track";
}

TEST_F(LoadedPlugin, UnreadableDeckStateCountsAsStoppedAndNanAsPlaying) {
    load();
    host.loadTrack("a.mp3", "T", "A");
    host.answer(DELAY_QUERY, 10.0);
    setValue(CTrackpost::PARAM_AUTO_TWEET, 1);
    pacing->step();
    pacing->clock += 20;
    pacing->step();  // play unanswered: stopped, the wait restarts
    EXPECT_TRUE(outbox().empty());
    host.answer(PLAY_QUERY, std::nan(""));
    pacing->clock += 10;
    pacing->step();
    EXPECT_EQ(outbox().size(), 1u);
}

TEST_F(LoadedPlugin, TwoManualPressesBeforeAPassComposeOnce) {
    load();
    host.loadTrack("a.mp3", "T", "A");
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    EXPECT_TRUE(outbox().empty()) << "composition is the worker's";
    pacing->step();
    EXPECT_EQ(outbox(), std::vector<std::string>{"Now playing A - T on #Spinforge"});
    pacing->step();
    EXPECT_EQ(outbox().size(), 1u);
}

TEST_F(LoadedPlugin, AButtonActsOnlyWhileItsValueIsZero) {
    load();
    spfStoreInt32(host.storage<std::int32_t>(CTrackpost::PARAM_MANUAL_TWEET), 1);
    plugin->OnParameter(CTrackpost::PARAM_MANUAL_TWEET);
    for (std::int32_t id : {7, 8, 9, 10, 11, 12, -1, 1000}) plugin->OnParameter(id);
    pacing->step();
    EXPECT_TRUE(outbox().empty());
    setValue(CTrackpost::PARAM_MANUAL_TWEET, 0);
    pacing->step();
    EXPECT_EQ(outbox().size(), 1u);
}

TEST_F(LoadedPlugin, CompositionAsksOnlyForTokensPresentAndReadsAnswersSafely) {
    load();
    host.loadTrack("a.mp3", "Strobe", "Deadline");
    host.takeTextQueries();
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    EXPECT_EQ(host.takeTextQueries(), (std::vector<std::string>{TITLE_QUERY, ARTIST_QUERY}));

    // Answers that fill the whole buffer without a terminator are taken as 2048 bytes.
    host.fillWithoutTerminator = true;
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();
    host.fillWithoutTerminator = false;

    // A host that answers nothing leaves empty values.
    host.texts.clear();
    pressButton(CTrackpost::PARAM_MANUAL_TWEET);
    pacing->step();

    const auto texts = outbox();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Now playing Deadline - Strobe on #Spinforge");
    // Both 2048-byte answers were read, then cut alike to fit X's 280 ("…" weighs 2).
    const std::string cut = std::string(123, 'x') + "\u2026";
    EXPECT_EQ(texts[1], "Now playing " + cut + " - " + cut + " on #Spinforge");
    EXPECT_EQ(texts[2], "Now playing  -  on #Spinforge");
}

}  // namespace
