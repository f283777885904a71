// The built plug-in library, loaded by the host simulator as the host loads it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct SimResult {
    int exitCode;
    std::string output;
};

class SimulatorRun : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("trackpost-sim-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs the simulator with a script; the state file lives in the test's folder. No plug-in
    // argument when `plugin` is empty.
    SimResult simulate(const std::string& script, const std::string& plugin = SIM_PLUGIN,
                       const std::string& options = "") {
        const fs::path scriptFile = folder / "script.txt";
        std::ofstream(scriptFile) << script;
        std::string command = std::string(SIM_PROGRAM) + " --state '" +
                              (folder / "state").string() + "' --script '" + scriptFile.string() +
                              "' " + options;
        if (!plugin.empty()) command += " '" + plugin + "'";
        command += " 2>&1";
        SimResult run{-1, ""};
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return run;
        std::array<char, 4096> chunk;
        size_t n;
        while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            run.output.append(chunk.data(), n);
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    fs::path folder;
};

// Seconds stamp of the first line that contains `text`, or -1.
double stampOf(const std::string& output, const std::string& text) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
        if (line.find(text) != std::string::npos) return std::atof(line.c_str() + 1);
    return -1;
}

TEST_F(SimulatorRun, AnnouncesTheTrackAfterTheHistoryDelay) {
    const SimResult run = simulate(
        "delay 1\n"
        "auto on\n"
        "load 3\n"
        "play\n"
        "wait 3\n"
        "status\n");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("loaded Trackpost by Kelm"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("skin: description of"), std::string::npos);
    EXPECT_NE(run.output.find("host variable $trackpost_auth = 0"), std::string::npos);
    EXPECT_NE(run.output.find("Status: 'Not Logged In'"), std::string::npos);
    const double played = stampOf(run.output, "deck: playing");
    const double title = stampOf(run.output, "plug-in reads the track's title: 'Copper Skyline'");
    const double artist =
        stampOf(run.output, "plug-in reads the track's artist: 'Nadia Ferro & The Arc'");
    ASSERT_GT(title, 0) << run.output;
    ASSERT_GE(artist, title) << "title first, then artist";
    // A whole-second clock: at least one tick after the start, at most two.
    EXPECT_GE(title - played, 0.0);
    EXPECT_LE(title - played, 2.5) << run.output;
    EXPECT_EQ(run.output.find("track's remix"), std::string::npos) << "only tokens present";
    EXPECT_NE(run.output.find("released the plug-in"), std::string::npos);
}

TEST_F(SimulatorRun, KeepsTheSwitchAndTheAccessBlockBetweenRuns) {
    ASSERT_EQ(simulate("auto on\nquit\n").exitCode, 0);
    const SimResult second = simulate("status\n");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("restored 'Auto Tweet'"), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("restored 'Access'"), std::string::npos);
    EXPECT_NE(second.output.find("Auto Tweet: on"), std::string::npos);
}

TEST_F(SimulatorRun, ADamagedStateFileIsSetAsideNotOverwritten) {
    std::ofstream(folder / "state") << "Trackpost 10 zz\n";
    const SimResult run = simulate("auto on\n");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("state:1: not a kept value"), std::string::npos) << run.output;
    std::ifstream aside(folder / "state.damaged");
    std::string damaged;
    std::getline(aside, damaged);
    EXPECT_EQ(damaged, "Trackpost 10 zz");
    EXPECT_NE(simulate("status\n").output.find("Auto Tweet: on"), std::string::npos);
}

TEST_F(SimulatorRun, ManualTweetComposesAtOnce) {
    const SimResult run = simulate("load 4\npress Manual Tweet\nwait 0.3\npress MAN\nwait 0.3\n");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::regex title("track's title: 'Voltaire's Garden'");
    const auto hits = std::distance(
        std::sregex_iterator(run.output.begin(), run.output.end(), title), std::sregex_iterator());
    EXPECT_EQ(hits, 2) << run.output;
}

TEST_F(SimulatorRun, ScriptErrorsStopTheRunWithTheirLine) {
    const SimResult run = simulate("load 99\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("script.txt:1: no track 99"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("released the plug-in"), std::string::npos);
}

TEST_F(SimulatorRun, FindsTheSkinBesideTheLibraryWhereverItIs) {
    // A copy with its resources loads from anywhere; without them the host gets no skin.
    const fs::path source = fs::path(SIM_PLUGIN).parent_path();
    fs::create_directories(folder / "installed");
    fs::copy(source, folder / "installed" / "Trackpost", fs::copy_options::recursive);
    const SimResult installed =
        simulate("", (folder / "installed/Trackpost/Trackpost.so").string());
    EXPECT_EQ(installed.exitCode, 0) << installed.output;

    fs::create_directories(folder / "bare");
    fs::copy_file(SIM_PLUGIN, folder / "bare/Trackpost.so");
    const SimResult bare = simulate("", (folder / "bare/Trackpost.so").string());
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_NE(bare.output.find("no skin"), std::string::npos) << bare.output;
}

TEST_F(SimulatorRun, ShortWaitsLastAboutAsLongAsAsked) {
    // Fifty waits of 1 ms: 50 ms and some scheduling, far from fifty 20 ms slices.
    std::string script = "load 1\n";
    for (int i = 0; i < 50; ++i) script += "wait 0.001\n";
    script += "load 2\n";
    const SimResult run = simulate(script);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const double waited = stampOf(run.output, "> load 2") - stampOf(run.output, "> load 1");
    EXPECT_GE(waited, 0.05) << run.output;
    EXPECT_LT(waited, 0.6) << run.output;
}

// The number after `label` on the first line that has it, or -1.
double numberAfter(const std::string& output, const std::string& label) {
    const std::size_t at = output.find(label);
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + label.size());
}

double epochNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(SimulatorRun, TimingsGiveTheEpochOfTheStampsAndTheLoadAndReleaseTimes) {
    const double before = epochNow();
    const SimResult run = simulate("wait 0.2\n", SIM_PLUGIN, "--timings");
    const double after = epochNow();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const double epoch = numberAfter(run.output, "timings: stamps count from epoch ");
    EXPECT_GE(epoch, before - 0.001) << run.output;
    EXPECT_LE(epoch, after);
    const double load = numberAfter(run.output, "timings: factory and OnLoad ");
    const double release = numberAfter(run.output, "timings: Release ");
    EXPECT_GE(load, 0) << run.output;
    EXPECT_GE(release, 0) << run.output;
    EXPECT_LT(load + release, (after - before) * 1000) << run.output;
    EXPECT_LT(run.output.find("timings: factory and OnLoad"), run.output.find("loaded Trackpost"));
    EXPECT_LT(run.output.find("timings: Release"), run.output.find("released the plug-in"));

    // Without the option the output stays as it was.
    const SimResult plain = simulate("wait 0.1\n");
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    EXPECT_EQ(plain.output.find("timings:"), std::string::npos) << plain.output;
}

TEST_F(SimulatorRun, RunsTheHostAloneWithoutAPlugin) {
    struct Case {
        const char* script;
        const char* plugin;
        int exitCode;
        const char* expected;
    };
    const Case cases[] = {
        {"load 3\nplay\nstatus\n", "", 0,
         "deck: track 3 'Nadia Ferro & The Arc - Copper Skyline', playing"},
        {"auto on\n", "", 1, "script.txt:1: no switch 'Auto Tweet'"},
        {"status\n", SIM_PLUGIN, 2, "--no-plugin and a plug-in given together"},
    };
    for (const Case& c : cases) {
        const SimResult run = simulate(c.script, c.plugin, "--no-plugin");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.script << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.script << run.output;
        EXPECT_EQ(run.output.find("loaded Trackpost"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("released the plug-in"), std::string::npos) << run.output;
    }
}

// The host calls the plug-in on one thread; a plug-in that makes a host-only call from another
// is refused, reported, and fails the run, whatever the script did.
TEST_F(SimulatorRun, AHostOnlyCallFromAnotherThreadFailsTheRun) {
    const SimResult run = simulate("status\n", THREAD_BREAKER_PLUGIN);
    EXPECT_EQ(run.exitCode, 3) << run.output;
    for (const char* report :
         {"host: contract broken: declareParameter called on another thread than the host's "
          "('Off Thread'); refused",
          "host: contract broken: runCommand called on another thread than the host's ('set "
          "$breaker 1'); refused",
          "the plug-in broke the host's threading contract"})
        EXPECT_NE(run.output.find(report), std::string::npos) << report << "\n" << run.output;
    EXPECT_EQ(run.output.find("$breaker = 1"), std::string::npos) << "refused, not carried out";
    EXPECT_EQ(run.output.find("Off Thread: "), std::string::npos) << run.output;
}

// A script waits for what the plug-in shows or tells the host instead of guessing a time.
TEST_F(SimulatorRun, AwaitsAShownTextOrAHostVariable) {
    struct Case {
        const char* script;
        int exitCode;
        const char* expected;
    };
    const Case cases[] = {
        {"await Status is Not Logged In within 5\nawait $trackpost_auth is 0\nstatus\n", 0,
         "Status: 'Not Logged In'"},
        {"await Status is Tweet OK within 1\n", 1,
         "script.txt:1: Status did not become 'Tweet OK' within 1 s (it is 'Not Logged In')"},
        {"await Nothing is 1\n", 1, "script.txt:1: nothing called 'Nothing' to await"},
        {"await Status Tweet OK\n", 1, "usage: await NAME is VALUE"},
    };
    for (const Case& c : cases) {
        const SimResult run = simulate(c.script);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.script << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.script << run.output;
    }
}

}  // namespace
