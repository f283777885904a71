// Faults end to end: the sandbox build of the plug-in in the host simulator against the sandbox
// service, which misbehaves on request. Each case checks the status the plug-in shows, that the
// host survives and releases the plug-in promptly, that the kept login survives, and that the
// worker posts again once the fault has passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "eventually.h"
#include "sandbox_test_support.h"
#include "sim_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char PLUGIN_KEY[] = "TrackpostSandbox";  // the host keeps values under the library's name
const int ACCESS_ID = 10;
const char STATE_HEADER[] = "# spinforge-sim kept values: plug-in, parameter id, bytes in hex";
const char DIALOG_PREFIX[] = "Trackpost: ";
const char UPDATE_PATH[] = "/1.1/statuses/update.json";

// Bounds that catch a hang; a run under a sanitizer on a busy machine stays far below them.
const auto STEP_LIMIT = 60s;
const auto EXIT_LIMIT = 60s;
const double RELEASE_LIMIT_SECONDS = 10;
const double POST_STALL_LIMIT_SECONDS = 10;  // the plug-in's
// How far the time a stall costs may be from the stall limit: libcurl checks it about once a
// second, and a sanitizer's build on a busy machine is slow.
const double STALL_COST_SLACK_SECONDS = 5;

std::string toHex(const std::string& bytes) {
    std::ostringstream hex;
    for (unsigned char c : bytes) hex << std::hex << std::setw(2) << std::setfill('0') << int(c);
    return hex.str();
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The text an event line "[   1.234] NAME: 'Tweet OK'" shows for the plug-in's text NAME, or "".
std::string shownOf(const SimProcess::Line& line, const std::string& name) {
    const std::string mark = "] " + name + ": '";
    const std::string& text = line.text;
    const std::size_t at = text.find(mark);
    if (line.error || eventStamp(text) < 0 || at == std::string::npos || text.back() != '\'')
        return "";
    return text.substr(at + mark.size(), text.size() - at - mark.size() - 1);
}

// What the simulator printed last for the text NAME.
std::string latestShown(const std::vector<SimProcess::Line>& lines,
                        const std::string& name = "Status") {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (const std::string s = shownOf(*it, name); !s.empty()) return s;
    return "";
}

std::string latestStatus(const std::vector<SimProcess::Line>& lines) {
    return latestShown(lines);
}

bool isDialogLine(const SimProcess::Line& line) {
    return line.error && line.text.rfind(DIALOG_PREFIX, 0) == 0;
}

bool sanitizerReported(const std::vector<SimProcess::Line>& lines) {
    for (const auto& line : lines)
        if (line.text.find("Sanitizer") != std::string::npos ||
            line.text.find("runtime error:") != std::string::npos)
            return true;
    return false;
}

// One run of the simulator with the sandbox build, the dialogs on the terminal.
class SimRun {
  public:
    SimRun(const fs::path& state, const std::string& proxy, const std::string& ca)
        : process({SIM_PROGRAM, "--state", state.string(), SIM_PLUGIN},
                  {{"TRACKPOST_DIALOGS", "terminal"},
                   {"TRACKPOST_SANDBOX_PROXY", proxy},
                   {"TRACKPOST_SANDBOX_CA", ca}}) {}

    bool send(const std::string& line) { return process.send(line); }

    bool waitStatus(const std::string& expected) {
        return process.waitUntil(
            [&](const std::vector<SimProcess::Line>& lines) {
                return latestStatus(lines) == expected;
            },
            STEP_LIMIT);
    }

    std::string status() { return latestStatus(process.lines()); }

    bool waitShown(const std::string& name, const std::string& expected) {
        return process.waitUntil(
            [&](const std::vector<SimProcess::Line>& lines) {
                return latestShown(lines, name) == expected;
            },
            STEP_LIMIT);
    }

    bool waitUntil(const std::function<bool(const std::string& status)>& holds) {
        return process.waitUntil(
            [&](const std::vector<SimProcess::Line>& lines) { return holds(latestStatus(lines)); },
            STEP_LIMIT);
    }

    // The text of the first dialog line from `from` on that contains `part`.
    std::optional<std::string> waitDialog(const std::string& part, std::size_t from = 0) {
        const auto line = process.waitForLine(
            [&](const SimProcess::Line& l) {
                return isDialogLine(l) && l.text.find(part) != std::string::npos;
            },
            from, STEP_LIMIT);
        if (!line) return std::nullopt;
        return line->text.substr(sizeof DIALOG_PREFIX - 1);
    }

    // How many message boxes the plug-in showed: its dialog lines that neither ask nor open an
    // address.
    int messageBoxes() {
        const auto lines = process.lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const auto& l) {
            return isDialogLine(l) && l.text.find("[y/n]") == std::string::npos &&
                   l.text.find(": open ") == std::string::npos &&
                   l.text.find("Enter PIN") == std::string::npos;
        }));
    }

    // Quits; how long the host's release of the plug-in took by the simulator's own stamps.
    struct Ending {
        int exitCode;
        double releaseSeconds;  // -1: not seen
        bool sanitizerReport;
    };
    Ending quit() {
        send("quit");
        const int code = process.finish(EXIT_LIMIT);
        const auto lines = process.lines();
        double quitAt = -1, releasedAt = -1;
        for (const auto& line : lines) {
            if (line.text.find("] > quit") != std::string::npos) quitAt = eventStamp(line.text);
            if (line.text.find("] released the plug-in") != std::string::npos)
                releasedAt = eventStamp(line.text);
        }
        return {code, quitAt >= 0 && releasedAt >= 0 ? releasedAt - quitAt : -1,
                sanitizerReported(lines)};
    }

    std::string transcript() { return process.transcript(); }
    std::size_t lineCount() { return process.lineCount(); }

    // Seconds, by the simulator's stamps, from the last "> COMMAND" line to the first time the
    // text NAME shows `shown` after it; -1 when either is missing.
    double secondsFromCommandToStatus(const std::string& command, const std::string& shown,
                                      const std::string& name = "Status") {
        const auto lines = process.lines();
        double from = -1;
        for (const auto& line : lines)
            if (line.text.find("] > " + command) != std::string::npos) from = eventStamp(line.text);
        if (from < 0) return -1;
        for (const auto& line : lines) {
            const double at = eventStamp(line.text);
            if (at >= from && shownOf(line, name) == shown) return at - from;
        }
        return -1;
    }

    // The message boxes about one network: dialog lines that begin with `about`.
    int boxesAbout(const std::string& about) {
        const auto lines = process.lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
            return isDialogLine(l) && l.text.rfind(std::string(DIALOG_PREFIX) + about, 0) == 0;
        }));
    }

  private:
    SimProcess process;
};

// How the fault comes about.
enum class Cause {
    Answer,          // the sandbox answers the post with `fault`
    Mode,            // the sandbox is put in the mode `fault` once logged in
    SandboxStopped,  // the sandbox is down when the post goes out
    ClosedProxy,     // TRACKPOST_SANDBOX_PROXY names a port where nothing listens
    OtherCa,         // TRACKPOST_SANDBOX_CA names a CA that did not sign the sandbox's certificate
    ModeAtLoad,      // the sandbox is in the mode `fault` when the plug-in is loaded
};

// What ends the fault, after which the worker posts again.
enum class Recovery {
    None,            // it passes by itself (or the text was refused for good)
    RestartSandbox,  // the sandbox back on its port, with the same accounts
    ModeOff,         // the sandbox back to its normal mode
    NewLogin,        // a login by PIN in the same run
    SecondRun,       // a new run with the right settings restores the login and posts
};

struct FaultCase {
    const char* name;
    Cause cause;
    nlohmann::json fault;  // the fault, a list of them, or the mode
    const char* status;    // shown once the fault has struck
    int boxes;             // message boxes the user is shown
    bool firstArrives;     // the text that met the fault reaches the timeline after all
    bool quitDuringFault;  // the host quits while the fault is still going on
    Recovery recovery;
    // Checked when set: about how long, in seconds, the fault holds the post from the press to
    // `status` (a stall waits out the post's stall limit).
    double costSeconds = 0;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
    return out << c.name;
}

const char RATE_LIMIT_BODY[] = R"({"errors":[{"message":"Rate limit exceeded","code":88}]})";
const char OVER_CAPACITY_BODY[] = R"({"errors":[{"message":"Over capacity","code":130}]})";
const char ERROR_PAGE[] =
    "<!DOCTYPE html><html><head><title>Internal Server Error</title></head>"
    "<body><h1>Something went wrong</h1></body></html>";

nlohmann::json onUpdate(nlohmann::json fault) {
    fault["path"] = "statuses/update";
    return fault;
}

// The fault's kind: its one key besides "path".
std::string faultKind(const nlohmann::json& fault) {
    for (const auto& item : fault.items())
        if (item.key() != "path") return item.key();
    return "";
}

const nlohmann::json RESET = onUpdate({{"reset", true}});
const nlohmann::json RESET_TWICE = nlohmann::json::array({RESET, RESET});

// name, cause, fault, status, boxes, first text arrives, quit during the fault, recovery
const FaultCase CASES[] = {
    // libcurl sends a request again on a fresh connection when a reused one is reset before any
    // answer; only a second reset reaches the plug-in, which tries again after a pause.
    {"ConnectionResetRetried", Cause::Answer, RESET, "Tweet OK", 0, true, false, Recovery::None},
    {"ConnectionReset", Cause::Answer, RESET_TWICE, "Tweet Failed", 1, true, false, Recovery::None},
    {"StalledAnswer", Cause::Answer, onUpdate({{"stall", 60}}), "Sending Tweet", 0, false, true,
     Recovery::SecondRun},
    // The service stores the post and its answer never comes: the post gives up at its own stall
    // limit, not the login's 30 s, and its retry is refused as a duplicate, which counts as
    // posted: the text arrives once.
    {"StallAfterStoringThePost", Cause::Answer, onUpdate({{"stall", 60}, {"stored", true}}),
     "Tweet Failed", 1, true, false, Recovery::None, POST_STALL_LIMIT_SECONDS},
    {"TruncatedBody", Cause::Answer, onUpdate({{"truncate", true}}), "Tweet Failed", 1, true, false,
     Recovery::None},
    // A 200 whose body is not JSON: the service answered without an error, so it counts as
    // posted, though this sandbox stored nothing.
    {"GarbageBody", Cause::Answer, onUpdate({{"garbage", true}}), "Tweet OK", 0, false, false,
     Recovery::None},
    {"OversizedBody", Cause::Answer, onUpdate({{"large", 17 * 1024 * 1024}}), "Tweet Failed", 1,
     true, false, Recovery::None},
    {"ServerErrorPage", Cause::Answer, onUpdate({{"status", 500}, {"body", ERROR_PAGE}}),
     "Tweet Failed", 1, true, false, Recovery::None},
    {"ServiceUnavailableOnce", Cause::Answer,
     onUpdate({{"status", 503}, {"body", OVER_CAPACITY_BODY}}), "Tweet Failed", 1, true, false,
     Recovery::None},
    {"RateLimited", Cause::Answer,
     onUpdate({{"status", 429}, {"body", RATE_LIMIT_BODY}, {"reset_in", 3}}), "Rate Limited", 0,
     true, false, Recovery::None},
    {"RevokedToken", Cause::Answer, onUpdate({{"revoke_token", true}}), "Login Failed", 0, true,
     false, Recovery::NewLogin},
    {"CreditsDepleted",
     Cause::Mode,
     {{"account", "credits-depleted"}},
     "Tweet Not Accepted",
     1,
     false,
     false,
     Recovery::ModeOff},
    {"AccountSuspended",
     Cause::Mode,
     {{"account", "suspended"}},
     "Tweet Not Accepted",
     1,
     false,
     false,
     Recovery::ModeOff},
    // The service's clock 15 minutes ahead: the post is refused for its time stamp, signed again
    // with the service's time and sent once more.
    {"ClockOff", Cause::Mode, {{"clock_offset", 900}}, "Tweet OK", 0, true, false, Recovery::None},
    // A dead route: the post waits out the stall limit, then is tried again once answered.
    {"BlackHole",
     Cause::Mode,
     {{"black_hole", true}},
     "Tweet Failed",
     1,
     true,
     false,
     Recovery::ModeOff},
    {"BlackHoleAtLoad",
     Cause::ModeAtLoad,
     {{"black_hole", true}},
     "Login Failed",
     0,
     true,
     false,
     Recovery::ModeOff},
    {"SandboxRestarted", Cause::SandboxStopped, nullptr, "Tweet Failed", 1, true, false,
     Recovery::RestartSandbox},
    {"UnreachableProxy", Cause::ClosedProxy, nullptr, "Login Failed", 0, false, false,
     Recovery::SecondRun},
    {"WrongCa", Cause::OtherCa, nullptr, "Login Failed", 0, false, false, Recovery::SecondRun},
};

// The manual tweet of a track of the simulator's default playlist.
std::string announcement(int track) {
    static const char* const tracks[] = {"Marta Velasquez - Slow Tide",
                                         "Oskar Lind - Paper Lanterns"};
    return std::string("Now playing ") + tracks[track - 1] + " on #Spinforge";
}

class FaultInjection : public ::testing::TestWithParam<FaultCase> {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        folder = fs::temp_directory_path() /
                 ("trackpost-fault-" + std::to_string(::getpid()) + "-" + GetParam().name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "state")
            << STATE_HEADER << "\n"
            << PLUGIN_KEY << " " << ACCESS_ID << " " << toHex(preIssuedBlock()) << "\n";
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string sandboxProxy() const { return "127.0.0.1:" + std::to_string(sandbox().port()); }

    std::unique_ptr<SimRun> launch(Cause cause) {
        const std::string proxy = cause == Cause::ClosedProxy
                                      ? "127.0.0.1:" + std::to_string(closedPort())
                                      : sandboxProxy();
        const std::string ca = cause == Cause::OtherCa
                                   ? std::string(TRACKPOST_TESTS_DIR) + "/data/unrelated-ca.pem"
                                   : SandboxService::caFile();
        return std::make_unique<SimRun>(folder / "state", proxy, ca);
    }

    // The access block in the state file the host wrote at quit.
    std::string keptAccess() {
        std::ifstream in(folder / "state");
        const std::string prefix = std::string(PLUGIN_KEY) + " " + std::to_string(ACCESS_ID) + " ";
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) return fromHex(line.substr(prefix.size()));
        return "";
    }

    // Posts the next track and waits until the sandbox has it and the plug-in says so.
    void postAndExpectTweetOk(SimRun& run) {
        const std::size_t before = sandbox().timeline().size();
        ASSERT_TRUE(run.send("load next"));
        ASSERT_TRUE(run.send("press Manual Tweet"));
        EXPECT_TRUE(eventuallyTimelineHas(before + 1)) << run.transcript();
        EXPECT_TRUE(run.waitStatus("Tweet OK")) << run.transcript();
    }

    static bool eventuallyTimelineHas(std::size_t count) {
        return eventually([&] { return sandbox().timeline().size() >= count; }, STEP_LIMIT, 20ms);
    }

    // Waits until the sandbox has begun answering a request with the fault `kind`.
    static bool eventuallyFaultStruck(const std::string& kind) {
        const auto struck = [&] {
            for (const auto& entry : sandbox().log())
                if (entry.value("verdict", "") == "fault " + kind) return true;
            return false;
        };
        return eventually(struck, STEP_LIMIT, 20ms);
    }

    // Quits and checks the host ended cleanly and released the plug-in in time.
    double quitCleanly(SimRun& run) {
        const SimRun::Ending end = run.quit();
        EXPECT_EQ(end.exitCode, 0) << run.transcript();
        EXPECT_FALSE(end.sanitizerReport) << run.transcript();
        EXPECT_GE(end.releaseSeconds, 0) << run.transcript();
        EXPECT_LE(end.releaseSeconds, RELEASE_LIMIT_SECONDS) << run.transcript();
        return end.releaseSeconds;
    }

    // The login by PIN over the terminal dialogs, the test acting as the user's browser.
    void logInByPin(SimRun& run) {
        std::size_t from = run.lineCount();
        ASSERT_TRUE(run.send("press Auth"));
        ASSERT_TRUE(run.waitDialog("open your browser", from)) << run.transcript();
        ASSERT_TRUE(run.send("y"));
        const auto opened = run.waitDialog("open https://", from);
        ASSERT_TRUE(opened) << run.transcript();
        const std::string pin = approveInBrowser(opened->substr(std::strlen("open ")));
        ASSERT_FALSE(pin.empty()) << *opened;
        from = run.lineCount();
        ASSERT_TRUE(run.send("press PIN"));
        ASSERT_TRUE(run.waitDialog("Enter PIN", from)) << run.transcript();
        ASSERT_TRUE(run.send(pin));
        // Texts that waited go out at once, so "Logged In" may pass unseen.
        ASSERT_TRUE(run.waitUntil([](const std::string& status) {
            return status == "Logged In" || status == "Sending Tweet" || status == "Tweet OK";
        })) << run.transcript();
    }

    fs::path folder;
};

// The token the plug-in signed its last post with.
std::string tokenOfLastPost() {
    static const std::string mark = "oauth_token=\"";
    std::string found;
    for (const auto& entry : sandbox().log()) {
        if (entry.value("path", "") != UPDATE_PATH) continue;
        const std::string header = entry.at("headers").value("Authorization", "");
        const std::size_t at = header.find(mark);
        if (at == std::string::npos) continue;
        const std::size_t begin = at + mark.size();
        found = header.substr(begin, header.find('"', begin) - begin);
    }
    return found;
}

// Requests sent again before the reset that a 429 gave, by the sandbox's clock: "PATH at T, reset
// R" for each.
std::vector<std::string> triesBeforeTheirReset() {
    std::vector<std::string> early;
    const auto log = sandbox().log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (!log[i].contains("limit_reset")) continue;
        const double reset = log[i].at("limit_reset").get<double>();
        const std::string path = log[i].value("path", "");
        for (std::size_t j = i + 1; j < log.size(); ++j) {
            if (log[j].value("path", "") != path) continue;
            const double at = log[j].at("time").get<double>();
            if (at < reset)
                early.push_back(path + " at " + std::to_string(at) + ", reset " +
                                std::to_string(reset));
            break;
        }
    }
    return early;
}

TEST_P(FaultInjection, ShowsTheFaultKeepsTheLoginAndPostsAfterwards) {
    const FaultCase& c = GetParam();
    const auto began = SimProcess::Clock::now();
    const bool atLoad =
        c.cause == Cause::ClosedProxy || c.cause == Cause::OtherCa || c.cause == Cause::ModeAtLoad;
    const int sandboxPort = sandbox().port();
    std::string seen;
    double release = -1;
    bool newLogin = false;
    if (c.cause == Cause::ModeAtLoad) {
        ASSERT_TRUE(sandbox().setMode(c.fault));
    }
    {
        const auto run = launch(c.cause);
        ASSERT_TRUE(run->waitStatus(atLoad ? c.status : "Logged In")) << run->transcript();
        if (!atLoad) {
            if (c.cause == Cause::SandboxStopped) {
                sandbox().stop();
            } else if (c.cause == Cause::Mode) {
                ASSERT_TRUE(sandbox().setMode(c.fault));
            } else {
                ASSERT_TRUE(sandbox().queueFault(c.fault));
            }
            ASSERT_TRUE(run->send("load 1"));
            ASSERT_TRUE(run->send("press Manual Tweet"));
            ASSERT_TRUE(run->waitStatus(c.status)) << run->transcript();
            if (c.costSeconds > 0) {
                const double cost = run->secondsFromCommandToStatus("press Manual Tweet", c.status);
                std::printf("fault case %s held the post %.2f s\n", c.name, cost);
                EXPECT_GE(cost, c.costSeconds - 1) << run->transcript();
                EXPECT_LE(cost, c.costSeconds + STALL_COST_SLACK_SECONDS) << run->transcript();
            }
        }
        seen = run->status();
        if (c.quitDuringFault) {
            ASSERT_TRUE(eventuallyFaultStruck(faultKind(c.fault)));
            EXPECT_EQ(run->status(), c.status) << "the fault still going on at quit";
        } else if (c.recovery != Recovery::SecondRun) {
            // A second text, behind the first where that one waits; then the fault ends, and
            // whatever waited goes out once, in order.
            const auto second = [&] {
                return run->send("load 2") && run->send("press Manual Tweet");
            };
            const bool secondWaits = !atLoad && c.firstArrives;
            if (secondWaits) {
                ASSERT_TRUE(second());
            }
            // The box comes just after the status that called for it.
            EXPECT_TRUE(
                eventually([&] { return run->messageBoxes() >= c.boxes; }, STEP_LIMIT, 20ms))
                << run->transcript();
            const int boxes = run->messageBoxes();
            switch (c.recovery) {
                case Recovery::RestartSandbox:
                    ASSERT_TRUE(sandbox().start(sandboxPort)) << sandbox().error();
                    break;
                case Recovery::ModeOff:
                    ASSERT_TRUE(sandbox().setMode(
                        {{"black_hole", false}, {"account", "ok"}, {"clock_offset", 0}}));
                    break;
                case Recovery::NewLogin:
                    logInByPin(*run);
                    newLogin = true;
                    break;
                default:
                    break;
            }
            if (atLoad) {
                // The worker checks the kept login again by itself; then the first text, posted
                // before the next press (two presses in one pass of the worker make one tweet).
                ASSERT_TRUE(run->waitStatus("Logged In")) << run->transcript();
                ASSERT_TRUE(run->send("load 1"));
                ASSERT_TRUE(run->send("press Manual Tweet"));
                ASSERT_TRUE(eventuallyTimelineHas(1)) << run->transcript();
            }
            if (!secondWaits) {
                ASSERT_TRUE(second());
            }
            std::vector<std::string> expected;
            if (c.firstArrives) expected.push_back(announcement(1));
            expected.push_back(announcement(2));
            EXPECT_TRUE(eventually([&] { return timelineTexts() == expected; }, STEP_LIMIT, 20ms))
                << run->transcript();
            EXPECT_TRUE(run->waitStatus("Tweet OK")) << run->transcript();
            EXPECT_EQ(run->messageBoxes(), boxes) << "no box once the fault has passed";
        }
        EXPECT_EQ(run->messageBoxes(), c.boxes) << run->transcript();
        EXPECT_EQ(triesBeforeTheirReset(), std::vector<std::string>{}) << run->transcript();
        release = quitCleanly(*run);
    }
    if (newLogin) {
        // The revoked token stayed kept until the new login replaced it.
        const std::string kept = keptAccess();
        const std::string token = tokenOfLastPost();
        ASSERT_FALSE(token.empty());
        EXPECT_NE(token, SandboxService::credentials().at("access_token").get<std::string>());
        ASSERT_EQ(kept.size(), ACCESS_BLOCK_SIZE);
        EXPECT_EQ(std::string(kept.c_str()), token) << "the new login is kept";
        EXPECT_NE(kept[ACCESS_BLOCK_SIZE / 2], '\0') << "with its secret";
    } else {
        // Faults never cost the login: the host keeps the same token, byte for byte.
        EXPECT_EQ(keptAccess(), preIssuedBlock());
    }

    if (c.recovery == Recovery::SecondRun) {
        SCOPED_TRACE("second run with the right settings");
        const auto run = launch(Cause::Answer);
        ASSERT_TRUE(run->waitStatus("Logged In")) << run->transcript();
        postAndExpectTweetOk(*run);
        quitCleanly(*run);
        EXPECT_EQ(keptAccess(), preIssuedBlock());
    }

    const double wall = std::chrono::duration<double>(SimProcess::Clock::now() - began).count();
    std::printf("fault case %-22s status '%s', Release %.3f s, case %.2f s\n", c.name, seen.c_str(),
                release, wall);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultInjection, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A network's troubles, with the other two logged in beside it: their posts stay on time, and
// the troubled network's wait and go out once the trouble has passed, each once.

const int MASTODON_ACCESS_ID = 24;
const int BLUESKY_ACCESS_ID = 25;
const char MASTODON[] = "mastodon.social";
const char BLUESKY[] = "bsky.social";
// The account's PDS, which the sandbox's credentials name (checked in the set-up): the table is
// made before any test runs.
const char BLUESKY_PDS[] = "morel.us-east.host.bsky.network";
// From the press to the healthy networks' posts stored while one is in trouble; alone they take
// a fraction of it.
const double ON_TIME_SECONDS = 3;

// A network beside X as the table drives it.
struct TroubledNetwork {
    const char* name;
    const char* timelineHost;  // where the sandbox lists its posts
    const char* status;        // its status text's name
    const char* box;           // how its boxes name it
    const char* mode;          // its key of the sandbox's modes
    nlohmann::json modeOff;    // its trouble ended
    nlohmann::json (*onPosts)(nlohmann::json fault);
};

nlohmann::json onMastodonStatuses(nlohmann::json fault) {
    fault["host"] = MASTODON;
    fault["path"] = "/api/v1/statuses";
    return fault;
}

nlohmann::json onBlueskyRecords(nlohmann::json fault) {
    fault["host"] = BLUESKY_PDS;
    fault["path"] = "/xrpc/com.atproto.repo.putRecord";
    return fault;
}

const TroubledNetwork MASTODON_NETWORK{
    "Mastodon",        MASTODON,
    "Mastodon Status", "Mastodon (mastodon.social)",
    "mastodon",        {{"black_hole", false}, {"account", "ok"}},
    onMastodonStatuses};
const TroubledNetwork BLUESKY_NETWORK{"Bluesky",        BLUESKY,
                                      "Bluesky Status", "Bluesky",
                                      "bluesky",        {{"black_hole", false}, {"account", "ok"}},
                                      onBlueskyRecords};

struct NetworkFaultCase {
    const char* name;
    const TroubledNetwork* network;
    Cause cause;  // Answer or Mode
    nlohmann::json fault;
    const char* status;  // the network's, once the fault has struck
    int boxes;           // about the network
    bool firstArrives;
    Recovery recovery;  // None, ModeOff or NewLogin
    double costSeconds = 0;
};

std::ostream& operator<<(std::ostream& out, const NetworkFaultCase& c) {
    return out << c.name;
}

const nlohmann::json MASTODON_LIMIT = {
    {"status", 429}, {"body", R"({"error":"Too many requests"})"}, {"reset_in", 3}};
const nlohmann::json BLUESKY_LIMIT = {
    {"status", 429},
    {"body", R"({"error":"RateLimitExceeded","message":"Rate Limit Exceeded"})"},
    {"reset_in", 3}};

const NetworkFaultCase NETWORK_CASES[] = {
    {"MastodonBlackHole",
     &MASTODON_NETWORK,
     Cause::Mode,
     {{"mastodon", {{"black_hole", true}}}},
     "Post Failed",
     1,
     true,
     Recovery::ModeOff,
     POST_STALL_LIMIT_SECONDS},
    // Stored, its answer lost: the retry carries the same idempotency key and is not stored
    // again.
    {"MastodonStallAfterStoringThePost", &MASTODON_NETWORK, Cause::Answer,
     onMastodonStatuses({{"stall", 60}, {"stored", true}}), "Post Failed", 1, true, Recovery::None,
     POST_STALL_LIMIT_SECONDS},
    {"MastodonServiceUnavailableOnce", &MASTODON_NETWORK, Cause::Answer,
     onMastodonStatuses({{"status", 503}, {"body", ERROR_PAGE}}), "Post Failed", 1, true,
     Recovery::None},
    {"MastodonRateLimited", &MASTODON_NETWORK, Cause::Answer, onMastodonStatuses(MASTODON_LIMIT),
     "Rate Limited", 0, true, Recovery::None},
    {"MastodonRevokedToken", &MASTODON_NETWORK, Cause::Answer,
     onMastodonStatuses({{"revoke_token", true}}), "Login Failed", 1, true, Recovery::NewLogin},
    {"MastodonAccountDisabled",
     &MASTODON_NETWORK,
     Cause::Mode,
     {{"mastodon", {{"account", "disabled"}}}},
     "Post Not Accepted",
     1,
     false,
     Recovery::ModeOff},

    {"BlueskyBlackHole",
     &BLUESKY_NETWORK,
     Cause::Mode,
     {{"bluesky", {{"black_hole", true}}}},
     "Post Failed",
     1,
     true,
     Recovery::ModeOff,
     POST_STALL_LIMIT_SECONDS},
    // Written, its answer lost: the retry writes the same record under the same key.
    {"BlueskyStallAfterStoringThePost", &BLUESKY_NETWORK, Cause::Answer,
     onBlueskyRecords({{"stall", 60}, {"stored", true}}), "Post Failed", 1, true, Recovery::None,
     POST_STALL_LIMIT_SECONDS},
    {"BlueskyServiceUnavailableOnce", &BLUESKY_NETWORK, Cause::Answer,
     onBlueskyRecords({{"status", 503}, {"body", ERROR_PAGE}}), "Post Failed", 1, true,
     Recovery::None},
    {"BlueskyRateLimited", &BLUESKY_NETWORK, Cause::Answer, onBlueskyRecords(BLUESKY_LIMIT),
     "Rate Limited", 0, true, Recovery::None},
    // The session expires mid-set: refreshed and sent again, nothing to tell.
    {"BlueskyExpiredSession", &BLUESKY_NETWORK, Cause::Answer,
     onBlueskyRecords({{"expire_token", true}}), "Post OK", 0, true, Recovery::None},
    {"BlueskyAccountTakenDown",
     &BLUESKY_NETWORK,
     Cause::Mode,
     {{"bluesky", {{"account", "takendown"}}}},
     "Post Not Accepted",
     1,
     false,
     Recovery::ModeOff},
};

class NetworkFaults : public ::testing::TestWithParam<NetworkFaultCase> {
  protected:
    void SetUp() override {
        ASSERT_GT(sandbox().port(), 0);
        ASSERT_TRUE(sandbox().reset());
        ASSERT_EQ(SandboxService::credentials().at("bluesky").at("pds"), BLUESKY_PDS);
        folder = fs::temp_directory_path() /
                 ("trackpost-network-fault-" + std::to_string(::getpid()) + "-" + GetParam().name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "state")
            << STATE_HEADER << "\n"
            << PLUGIN_KEY << " " << ACCESS_ID << " " << toHex(preIssuedBlock()) << "\n"
            << PLUGIN_KEY << " " << MASTODON_ACCESS_ID << " " << toHex(preIssuedMastodonBlock())
            << "\n"
            << PLUGIN_KEY << " " << BLUESKY_ACCESS_ID << " " << toHex(preIssuedBlueskyBlock())
            << "\n";
    }
    void TearDown() override { fs::remove_all(folder); }

    std::unique_ptr<SimRun> launch() {
        return std::make_unique<SimRun>(folder / "state",
                                        "127.0.0.1:" + std::to_string(sandbox().port()),
                                        SandboxService::caFile());
    }

    static std::vector<std::string> posts(const std::string& host) {
        std::vector<std::string> out;
        for (const auto& s : sandbox().timeline(host)) out.push_back(s.at("text"));
        return out;
    }

    // The login by the buttons over the terminal dialogs, the test acting as the browser.
    static void logInToMastodon(SimRun& run) {
        std::size_t from = run.lineCount();
        ASSERT_TRUE(run.send("press Mastodon"));
        ASSERT_TRUE(run.waitDialog("Your Mastodon server", from)) << run.transcript();
        ASSERT_TRUE(run.send(MASTODON));
        const auto opened = run.waitDialog("open https://mastodon.social/", from);
        ASSERT_TRUE(opened) << run.transcript();
        const std::string code = approveMastodonInBrowser(opened->substr(std::strlen("open ")));
        ASSERT_FALSE(code.empty()) << *opened;
        from = run.lineCount();
        ASSERT_TRUE(run.send("press PIN"));
        ASSERT_TRUE(run.waitDialog("Paste the code", from)) << run.transcript();
        ASSERT_TRUE(run.send(code));
    }

    // The healthy networks' posts of track `track`, pressed now: the seconds until the sandbox
    // had all of them.
    double healthyPostsSeconds(SimRun& run, int track) {
        std::vector<std::pair<std::string, std::size_t>> healthy{{"", 0}};  // X's
        for (const char* host : {MASTODON, BLUESKY})
            if (host != GetParam().network->timelineHost) healthy.push_back({host, 0});
        for (auto& [host, before] : healthy)
            before = host.empty() ? sandbox().timeline().size() : posts(host).size();
        EXPECT_TRUE(run.send("load " + std::to_string(track)));
        const auto pressed = SimProcess::Clock::now();
        EXPECT_TRUE(run.send("press Manual Tweet"));
        const bool stored = eventually(
            [&] {
                for (const auto& [host, before] : healthy)
                    if ((host.empty() ? sandbox().timeline().size() : posts(host).size()) <= before)
                        return false;
                return true;
            },
            STEP_LIMIT, 5ms);
        EXPECT_TRUE(stored) << run.transcript();
        return stored ? std::chrono::duration<double>(SimProcess::Clock::now() - pressed).count()
                      : -1;
    }

    fs::path folder;
};

TEST_P(NetworkFaults, TheOthersStayOnTimeAndTheTroubledOnePostsEachTextOnceAfterwards) {
    const NetworkFaultCase& c = GetParam();
    const TroubledNetwork& network = *c.network;
    const auto run = launch();
    ASSERT_TRUE(run->waitStatus("Logged In")) << run->transcript();
    for (const char* status : {"Mastodon Status", "Bluesky Status"})
        ASSERT_TRUE(run->waitShown(status, "Logged In")) << run->transcript();
    if (c.cause == Cause::Mode) {
        ASSERT_TRUE(sandbox().setMode(c.fault));
    } else {
        ASSERT_TRUE(sandbox().queueFault(c.fault));
    }

    const double first = healthyPostsSeconds(*run, 1);
    ASSERT_TRUE(run->waitShown(network.status, c.status)) << run->transcript();
    if (c.costSeconds > 0) {
        const double cost =
            run->secondsFromCommandToStatus("press Manual Tweet", c.status, network.status);
        EXPECT_GE(cost, c.costSeconds - 1) << run->transcript();
        EXPECT_LE(cost, c.costSeconds + STALL_COST_SLACK_SECONDS) << run->transcript();
    }
    // A second text while the trouble lasts, or waits out its retry.
    const double second = healthyPostsSeconds(*run, 2);
    std::printf("%-34s the others posted in %.2f s and %.2f s\n", c.name, first, second);
    for (const double took : {first, second}) {
        EXPECT_GE(took, 0) << run->transcript();
        EXPECT_LE(took, ON_TIME_SECONDS) << run->transcript();
    }
    EXPECT_TRUE(
        eventually([&] { return run->boxesAbout(network.box) >= c.boxes; }, STEP_LIMIT, 20ms))
        << run->transcript();

    switch (c.recovery) {
        case Recovery::ModeOff:
            ASSERT_TRUE(sandbox().setMode({{network.mode, network.modeOff}}));
            break;
        case Recovery::NewLogin:
            logInToMastodon(*run);
            break;
        default:
            break;
    }
    std::vector<std::string> expected;
    if (c.firstArrives) expected.push_back(announcement(1));
    expected.push_back(announcement(2));
    if (!c.firstArrives) {
        // Refused for good while the account was blocked: a later text goes out.
        ASSERT_TRUE(run->send("load 2"));
        ASSERT_TRUE(run->send("press Manual Tweet"));
        expected = {announcement(2)};
    }
    EXPECT_TRUE(
        eventually([&] { return posts(network.timelineHost) == expected; }, STEP_LIMIT, 20ms))
        << run->transcript();
    EXPECT_TRUE(run->waitShown(network.status, "Post OK")) << run->transcript();
    EXPECT_EQ(sandbox().timeline().size(), 2u) << "X posted each text once";
    EXPECT_EQ(run->boxesAbout(network.box), c.boxes) << run->transcript();
    EXPECT_EQ(triesBeforeTheirReset(), std::vector<std::string>{}) << run->transcript();
    const SimRun::Ending end = run->quit();
    EXPECT_EQ(end.exitCode, 0) << run->transcript();
    EXPECT_FALSE(end.sanitizerReport) << run->transcript();
    EXPECT_LE(end.releaseSeconds, RELEASE_LIMIT_SECONDS) << run->transcript();
}

INSTANTIATE_TEST_SUITE_P(Cases, NetworkFaults, ::testing::ValuesIn(NETWORK_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
