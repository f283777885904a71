// spinforge-sim: a stand-in for the Spinforge DJ host. Loads a plug-in library through its class
// factory, plays a playlist on a simulated deck, and drives the plug-in from a script or a prompt.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Console.h"
#include "Deck.h"
#include "SimHost.h"

namespace {

const char USAGE[] = R"(Usage: spinforge-sim [options] [PLUGIN]

A stand-in for the Spinforge DJ host. It loads the plug-in library PLUGIN (default: the Trackpost
plug-in of this build) through its class factory, plays a playlist on a simulated deck, and
answers the plug-in's queries and commands as the host does. Every change of a text the plug-in
shows (such as its status) and of a host variable is printed with the seconds since start.

Options:
  --playlist FILE   tracks for the deck (default: the example set); one track per line, ten
                    tab-separated fields: drive, path, file name, title, artist, remix, comment,
                    album, genre, year; lines starting with # are skipped
  --state FILE      what the host keeps between runs (default: $XDG_STATE_HOME/spinforge-sim/state,
                    or ~/.local/state/spinforge-sim/state); read at load, written at quit. Kept:
                    switches, kept blocks and the "Template" text
  --script FILE     read commands from FILE instead of the terminal or standard input; the run
                    stops at the first command that fails
  --no-plugin       load no plug-in: the host alone, to compare its time and memory with a run
                    that loads one (commands for the plug-in's controls fail)
  --timings         also print the epoch the stamps count from ("timings: stamps count from epoch
                    S") and how long the factory with OnLoad, each button press (both of its
                    OnParameter calls) and Release took ("timings: factory and OnLoad M ms",
                    "timings: OnParameter 'NAME' M ms", "timings: Release M ms")
  -h, --help        this text

Commands:
  load N | load next     load track N (1-based) or the next one onto the deck
  play | pause           start or stop the deck
  press NAME             press and release a button, by name or short name ("press Manual Tweet")
  auto on|off            switch "Auto Tweet"
  switch NAME on|off     set any switch
  delay SECONDS          the host's history delay (default 45)
  wait SECONDS           let time pass (fractions allowed)
  await NAME is VALUE [within SECONDS]
                         let time pass until a text the plug-in shows ("await Status is Tweet
                         OK") or a host variable ("await $trackpost_auth is 1") has that value;
                         fails after SECONDS (default 60)
  status                 show the plug-in's texts and switches, host variables and the deck
  tracks                 list the playlist
  help                   this list
  quit                   release the plug-in and keep its kept values (also at end of input)
Lines starting with # are comments.

The host calls the plug-in on its own thread only, as the real host does: at load, for every
press and switch, and every 20 ms while it waits (a script's "wait", or the prompt's input) to
refresh its display. runCommand and declareParameter are taken on that thread only; a call from
another thread is refused and reported, and the run then ends with exit status 3.

The plug-in's own boxes (questions, the PIN, a typed tweet, error messages) appear on the desktop
when there is one, else on the terminal: questions and messages on standard error, answers read
from standard input, one line each (always so with --script). TRACKPOST_DIALOGS=terminal|desktop
chooses. The sandbox build of the plug-in reaches the sandbox service at TRACKPOST_SANDBOX_PROXY
(host:port, default 127.0.0.1:8443), trusting TRACKPOST_SANDBOX_CA (default: the sandbox's CA).
)";

std::atomic<bool> interrupted{false};

void onSignal(int) {
    interrupted = true;
}

std::string defaultStatePath() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = stateHome && *stateHome ? std::string(stateHome)
                         : home && *home         ? std::string(home) + "/.local/state"
                                                 : std::string(".");
    folder += "/spinforge-sim";
    std::error_code ignored;  // an unwritable folder shows up when the state is written
    std::filesystem::create_directories(folder, ignored);
    return folder + "/state";
}

// How often the host refreshes its display while the DJ does nothing.
const auto REFRESH_INTERVAL = std::chrono::milliseconds(20);

// Lets time pass until `holds`, at most `seconds`, in slices, refreshing the host's display after
// each, so that an interrupt ends the wait; the last slice only as long as is left. Whether it
// came to hold.
template <typename Holds>
bool passTime(double seconds, SimHost& host, const Holds& holds) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    for (auto now = Clock::now(); !holds(); now = Clock::now()) {
        if (interrupted || now >= end) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, REFRESH_INTERVAL));
        host.refresh();
    }
    return true;
}

const double DEFAULT_AWAIT_SECONDS = 60;

// Refreshes the host's display until standard input has a line to read (or ends), as a host's
// event loop does while the DJ is idle. Lines already read into stdio's buffer count.
void refreshUntilInput(SimHost& host) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int slice = static_cast<int>(REFRESH_INTERVAL.count());
    while (!interrupted && stdin->_IO_read_ptr >= stdin->_IO_read_end) {
        const int ready = poll(&in, 1, slice);
        if (ready != 0 && !(ready < 0 && errno == EINTR)) return;
        host.refresh();
    }
}

bool parseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(seconds);
}

struct Simulation {
    Console& console;
    Deck& deck;
    SimHost& host;
    bool quit = false;

    // Runs one command line; false with a message when it can't be carried out.
    bool run(const std::string& line, std::string& error) {
        std::istringstream words(line);
        std::string verb;
        if (!(words >> verb) || verb[0] == '#') return true;
        std::string rest;
        std::getline(words >> std::ws, rest);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back())))
            rest.pop_back();
        double seconds = 0;

        if (verb == "load") {
            const bool ok = rest == "next" ? deck.loadNext()
                                           : deck.load(std::strtoul(rest.c_str(), nullptr, 10));
            if (!ok)
                return fail(error, "no track " + rest + " (the playlist has " +
                                       std::to_string(deck.size()) + ")");
            const std::size_t n = deck.loaded();
            console.event("deck: loaded track " + std::to_string(n) + " '" + deck.track(n).label() +
                          "'");
        } else if (verb == "play" || verb == "pause") {
            deck.setPlaying(verb == "play");
            console.event(verb == "play" ? "deck: playing" : "deck: paused");
        } else if (verb == "press") {
            return host.press(rest, error);
        } else if (verb == "auto" && (rest == "on" || rest == "off")) {
            return host.setSwitch("Auto Tweet", rest == "on", error);
        } else if (verb == "switch") {
            const std::size_t space = rest.rfind(' ');
            const std::string state = space == std::string::npos ? "" : rest.substr(space + 1);
            if (state != "on" && state != "off") return fail(error, "usage: switch NAME on|off");
            return host.setSwitch(rest.substr(0, space), state == "on", error);
        } else if (verb == "delay" && parseSeconds(rest, seconds)) {
            deck.setHistoryDelay(seconds);
            console.event("host: history delay " + rest + " s");
        } else if (verb == "wait" && parseSeconds(rest, seconds) && seconds >= 0) {
            passTime(seconds, host, [] { return false; });
        } else if (verb == "await") {
            return await(rest, error);
        } else if (verb == "status") {
            host.showStatus();
        } else if (verb == "tracks") {
            for (std::size_t i = 1; i <= deck.size(); ++i)
                console.plain("  " + std::to_string(i) + ". " + deck.track(i).label());
        } else if (verb == "help") {
            console.plain(USAGE + std::string(USAGE).find("Commands:"));
        } else if (verb == "quit" || verb == "exit") {
            quit = true;
        } else {
            return fail(error, "don't understand '" + line + "' (try help)");
        }
        return true;
    }

    // "NAME is VALUE [within SECONDS]".
    bool await(const std::string& rest, std::string& error) {
        const std::size_t is = rest.find(" is ");
        if (is == std::string::npos) return fail(error, "usage: await NAME is VALUE [within S]");
        const std::string name = rest.substr(0, is);
        std::string value = rest.substr(is + 4);
        double limit = DEFAULT_AWAIT_SECONDS;
        const std::size_t within = value.rfind(" within ");
        if (within != std::string::npos && parseSeconds(value.substr(within + 8), limit) &&
            limit >= 0)
            value.resize(within);
        if (!host.valueOf(name)) return fail(error, "nothing called '" + name + "' to await");
        if (passTime(limit, host, [&] { return host.valueOf(name) == value; })) return true;
        return fail(error, name + " did not become '" + value + "' within " +
                               std::to_string(static_cast<long>(limit)) + " s (it is '" +
                               host.valueOf(name).value_or("") + "')");
    }

    static bool fail(std::string& error, const std::string& message) {
        error = message;
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string pluginPath = SPINFORGE_SIM_DEFAULT_PLUGIN;
    std::string playlistPath = SPINFORGE_SIM_DEFAULT_PLAYLIST;
    std::string statePath;
    std::string scriptPath;
    bool pluginGiven = false;
    bool noPlugin = false;
    bool timings = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            std::cout << USAGE;
            return 0;
        } else if (arg == "--playlist" && hasValue) {
            playlistPath = argv[++i];
        } else if (arg == "--state" && hasValue) {
            statePath = argv[++i];
        } else if (arg == "--script" && hasValue) {
            scriptPath = argv[++i];
        } else if (arg == "--no-plugin") {
            noPlugin = true;
        } else if (arg == "--timings") {
            timings = true;
        } else if (!arg.empty() && arg[0] != '-') {
            pluginPath = arg;
            pluginGiven = true;
        } else {
            std::cerr << "spinforge-sim: unknown or incomplete option " << arg << "\n\n" << USAGE;
            return 2;
        }
    }
    if (noPlugin && pluginGiven) {
        std::cerr << "spinforge-sim: --no-plugin and a plug-in given together\n";
        return 2;
    }
    if (statePath.empty()) statePath = defaultStatePath();

    std::vector<Track> playlist;
    std::string error;
    if (!readPlaylist(playlistPath, playlist, error)) {
        std::cerr << "spinforge-sim: " << error << "\n";
        return 2;
    }
    std::ifstream scriptFile;
    if (!scriptPath.empty()) {
        scriptFile.open(scriptPath);
        if (!scriptFile) {
            std::cerr << "spinforge-sim: can't read the script " << scriptPath << "\n";
            return 2;
        }
    }
    std::istream& input = scriptPath.empty() ? std::cin : scriptFile;
    // A scripted run is answered on standard input, not by someone at the desktop.
    if (!scriptPath.empty()) setenv("TRACKPOST_DIALOGS", "terminal", 0);
    const bool prompt = scriptPath.empty() && isatty(STDIN_FILENO);

    // Interrupts end the run in order, so the kept values are saved.
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    Console console;
    if (timings) {
        char epoch[64];
        std::snprintf(epoch, sizeof epoch, "%.6f", console.startEpoch());
        console.event(std::string("timings: stamps count from epoch ") + epoch);
    }
    KeptValues kept;
    if (!kept.read(statePath, error)) {
        // Keep the damaged file for the user instead of overwriting it at quit.
        const std::string aside = statePath + ".damaged";
        std::rename(statePath.c_str(), aside.c_str());
        console.error("spinforge-sim: " + error + "; kept it as " + aside + " and starting afresh");
    }
    Deck deck(std::move(playlist));
    SimHost host(console, deck, kept);
    host.reportTimings(timings);
    if (noPlugin) {
        console.event("no plug-in loaded");
    } else if (!host.load(pluginPath, error)) {
        console.error("spinforge-sim: can't load " + pluginPath + ": " + error);
        return 1;
    }

    Simulation simulation{console, deck, host};
    int status = 0;
    std::string line;
    for (int number = 1; !simulation.quit && !interrupted; ++number) {
        if (prompt) std::cout << "spinforge> " << std::flush;
        if (scriptPath.empty()) refreshUntilInput(host);
        if (!std::getline(input, line)) break;
        if (!prompt && !line.empty() && line[0] != '#') console.event("> " + line);
        if (simulation.run(line, error)) continue;
        if (!scriptPath.empty()) {
            console.error(scriptPath + ":" + std::to_string(number) + ": " + error);
            status = 1;
            break;
        }
        console.error(error);
    }

    host.unload();
    if (!kept.write(statePath, error)) {
        console.error("spinforge-sim: " + error);
        return 1;
    }
    if (host.contractBroken()) {
        console.error("spinforge-sim: the plug-in broke the host's threading contract (see above)");
        return 3;
    }
    return status;
}
