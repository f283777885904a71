// The three ways the plug-in talks to the user: lines on a terminal (through pipes), the
// desktop's boxes (through stand-in programs first on PATH), and the choice between them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "DialogsDesktop.h"
#include "DialogsTerminal.h"
#include "eventually.h"

namespace {

namespace fs = std::filesystem;

// Sets (or with nullopt removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (saved)
            setenv(name, saved->c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name;
    std::optional<std::string> saved;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------------------------
// Terminal

// A TerminalDialogs between two pipes: the test types into one and reads the prompts from the
// other.
class TerminalRig {
  public:
    TerminalRig() {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) std::abort();
        inRead = fdopen(in[0], "r");
        inWrite = fdopen(in[1], "w");
        outRead = fdopen(out[0], "r");
        outWrite = fdopen(out[1], "w");
        dialogs.emplace(inRead, outWrite);
    }
    ~TerminalRig() {
        for (FILE* f : {inRead, inWrite, outRead, outWrite})
            if (f != nullptr) fclose(f);
    }
    TerminalRig(const TerminalRig&) = delete;
    TerminalRig& operator=(const TerminalRig&) = delete;

    TerminalDialogs& operator*() { return *dialogs; }
    TerminalDialogs* operator->() { return &*dialogs; }

    void type(const std::string& s) {
        fwrite(s.data(), 1, s.size(), inWrite);
        fflush(inWrite);
    }
    void endInput() { closeAndForget(inWrite); }
    // What the user would see, once nothing more is written.
    std::string shown() {
        closeAndForget(outWrite);
        std::string all;
        for (int c; (c = fgetc(outRead)) != EOF;) all += static_cast<char>(c);
        return all;
    }
    // The next line left unread on the input side, to prove nothing was read ahead.
    std::string nextInputLine() { return nextLine(inRead); }
    // The next line shown, while more may come.
    std::string nextShownLine() { return nextLine(outRead); }

  private:
    static std::string nextLine(FILE* f) {
        char* line = nullptr;
        size_t capacity = 0;
        const ssize_t n = getline(&line, &capacity, f);
        std::string result = n < 0 ? "<end>" : std::string(line, static_cast<size_t>(n));
        free(line);
        return result;
    }
    static void closeAndForget(FILE*& f) {
        fclose(f);
        f = nullptr;
    }
    FILE* inRead;
    FILE* inWrite;
    FILE* outRead;
    FILE* outWrite;
    std::optional<TerminalDialogs> dialogs;
};

TEST(TerminalDialogs, RequestIsYesOnlyForYOrYes) {
    struct Case {
        std::optional<std::string> typed;  // nullopt: the input ends
        bool yes;
    };
    const Case cases[] = {
        {"y\n", true},       {"YES\n", true}, {" yes \r\n", true},   {"Y", true},
        {"\tyEs\t\n", true}, {"n\n", false},  {"\n", false},         {"yess\n", false},
        {"y es\n", false},   {"no\n", false}, {std::nullopt, false},
    };
    for (const Case& c : cases) {
        TerminalRig rig;
        if (c.typed) rig.type(*c.typed);
        rig.endInput();
        EXPECT_EQ(rig->showRequest("Log out?", "Trackpost"), c.yes)
            << (c.typed ? *c.typed : "<end of input>");
        EXPECT_EQ(rig.shown(), "Trackpost: Log out? [y/n]\n");
    }
}

TEST(TerminalDialogs, InputIsTheTypedLineOrTheDefaultAtEndOfInput) {
    struct Case {
        std::optional<std::string> typed;
        std::string answer;
    };
    const Case cases[] = {
        {"1234567\n", "1234567"},
        {"Grüße, 東京 🎧\n", "Grüße, 東京 🎧"},
        {"  spaced  \r\n", "  spaced  "},
        {"\n", ""},
        {"last line unterminated", "last line unterminated"},
        {std::string(10000, 'x') + "\n", std::string(10000, 'x')},
        {std::nullopt, "%ARTIST% - %TITLE%"},
    };
    for (const Case& c : cases) {
        TerminalRig rig;
        if (c.typed) rig.type(*c.typed);
        rig.endInput();
        EXPECT_EQ(rig->getInput("Template", "Trackpost", "%ARTIST% - %TITLE%"), c.answer)
            << c.answer.substr(0, 40);
    }
    // Asked so that a cancel is told apart from the default confirmed.
    for (const Case& c : cases) {
        TerminalRig rig;
        if (c.typed) rig.type(*c.typed);
        rig.endInput();
        const std::optional<std::string> asked = rig->askInput("Server", "Trackpost", "d");
        EXPECT_EQ(asked, c.typed ? std::optional<std::string>(c.answer) : std::nullopt);
    }
}

// Piped answers, as the host's scripts give them: the line is the secret, and nothing of it is
// printed.
TEST(TerminalDialogs, SecretIsTheTypedLineAndNeverShown) {
    struct Case {
        std::optional<std::string> typed;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {"hunter2\n", "hunter2"},
        {"  pa55 wörd €  \r\n", "  pa55 wörd €  "},
        {"\n", ""},
        {"last line unterminated", "last line unterminated"},
        {std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        TerminalRig rig;
        if (c.typed) rig.type(*c.typed);
        rig.endInput();
        EXPECT_EQ(rig->getSecret("Enter your app password", "Trackpost"), c.answer)
            << c.typed.value_or("<end of input>");
        EXPECT_EQ(rig.shown(), "Trackpost: Enter your app password\n");
    }
}

TEST(TerminalDialogs, PromptsShowTheHeadlineAndAnyDefault) {
    TerminalRig rig;
    rig.type("a\nb\n");
    rig->showMessage("Tweet sent.", "Trackpost");
    rig->getInput("Enter the PIN", "Trackpost", "");
    rig->getInput("Template", "Trackpost", "Now playing");
    rig->openURL("https://example.com/authorize?oauth_token=a b&x=1");
    EXPECT_EQ(rig.shown(),
              "Trackpost: Tweet sent.\n"
              "Trackpost: Enter the PIN\n"
              "Trackpost: Template [Now playing]\n"
              "Trackpost: open https://example.com/authorize?oauth_token=a b&x=1\n");
}

TEST(TerminalDialogs, EachAnswerTakesExactlyOneLine) {
    TerminalRig rig;
    rig.type("first\nyes\nsecret\nsecond\nhost command\n");
    EXPECT_EQ(rig->getInput("1", "Trackpost", ""), "first");
    EXPECT_TRUE(rig->showRequest("2", "Trackpost"));
    EXPECT_EQ(rig->getSecret("3", "Trackpost"), "secret");
    EXPECT_EQ(rig->getInput("4", "Trackpost", "d"), "second");
    EXPECT_EQ(rig.nextInputLine(), "host command\n");
}

// Messages and addresses come from the worker as well as the host's thread.
TEST(TerminalDialogs, MessagesAndAddressesFromManyThreadsStayWholeLines) {
    TerminalRig rig;
    const int threads = 4, each = 50;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&rig, t] {
            for (int i = 0; i < each; ++i) {
                const std::string n = std::to_string(t) + "." + std::to_string(i);
                if (i % 2)
                    rig->openURL("https://example.com/" + n);
                else
                    rig->showMessage("message " + n, "Trackpost");
            }
        });
    for (std::thread& w : workers) w.join();
    std::istringstream lines(rig.shown());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line.rfind("Trackpost: message ", 0) == 0 ||
                    line.rfind("Trackpost: open https://example.com/", 0) == 0)
            << line;
    EXPECT_EQ(count, threads * each);
}

// A message from the worker must not wait for the user to answer a question on the host's
// thread: the worker would stop posting, and the host's unloading would wait for the user.
TEST(TerminalDialogs, MessageGoesOutWhileAQuestionAwaitsItsAnswer) {
    TerminalRig rig;
    std::string answer;
    std::thread host([&] { answer = rig->getInput("Enter PIN", "Trackpost", ""); });
    EXPECT_EQ(rig.nextShownLine(), "Trackpost: Enter PIN\n");
    auto message = std::async(std::launch::async,
                              [&] { rig->showMessage("Couldn't connect to server", "Trackpost"); });
    // Bounded only so that a failure ends the test instead of hanging it.
    const bool returned = message.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the message waited for the answer";
    if (returned) {
        EXPECT_EQ(rig.nextShownLine(), "Trackpost: Couldn't connect to server\n");
    }
    rig.type("1234567\n");
    host.join();
    message.wait();
    EXPECT_EQ(answer, "1234567");
}

// A TerminalDialogs on a pseudo-terminal, prompts and answers both on its terminal side, as on
// the DJ's console; the test is the user at the other side.
class PtyRig {
  public:
    PtyRig() {
        user = posix_openpt(O_RDWR | O_NOCTTY);
        if (user < 0 || grantpt(user) != 0 || unlockpt(user) != 0) std::abort();
        terminal = open(ptsname(user), O_RDWR | O_NOCTTY);
        if (terminal < 0) std::abort();
        in = fdopen(terminal, "r");
        out = fdopen(dup(terminal), "w");
        dialogs.emplace(in, out);
    }
    ~PtyRig() {
        hangUp();
        fclose(in);
        fclose(out);
    }
    PtyRig(const PtyRig&) = delete;
    PtyRig& operator=(const PtyRig&) = delete;

    TerminalDialogs* operator->() { return &*dialogs; }

    void type(const std::string& s) {
        if (write(user, s.data(), s.size()) != static_cast<ssize_t>(s.size())) std::abort();
    }
    // Everything the terminal has shown since the last call, up to and including `until`; what
    // was shown so far when it does not come within a few seconds.
    std::string shownUntil(const std::string& until) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pending.find(until) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd ready{user, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0) continue;
            char chunk[256];
            const ssize_t n = read(user, chunk, sizeof chunk);
            if (n > 0) pending.append(chunk, static_cast<size_t>(n));
        }
        const size_t end = pending.find(until);
        const size_t taken = end == std::string::npos ? pending.size() : end + until.size();
        std::string shown = pending.substr(0, taken);
        pending.erase(0, taken);
        return shown;
    }
    tcflag_t localModes() const {
        termios modes{};
        tcgetattr(terminal, &modes);
        return modes.c_lflag;
    }
    // The user's side goes away: a read still waiting on the terminal ends.
    void hangUp() {
        if (user >= 0) close(user);
        user = -1;
    }

  private:
    int user = -1;
    int terminal = -1;
    FILE* in = nullptr;
    FILE* out = nullptr;
    std::string pending;
    std::optional<TerminalDialogs> dialogs;
};

// On a terminal the secret is not echoed as it is typed, only the line's end is; the echo is back
// for the next question, whether the secret came or the user ended the input with Ctrl-D.
TEST(TerminalDialogs, SecretOnATerminalIsNotEchoedAndTheEchoComesBack) {
    struct Case {
        const char* name;
        std::string typed;
        std::optional<std::string> answer;
        std::string echoed;
    };
    const Case cases[] = {
        {"typed", "hunter2 wörd\n", "hunter2 wörd", "\r\n"},
        {"empty", "\n", "", "\r\n"},
        {"ended", "\x04", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyRig rig;
        const tcflag_t before = rig.localModes();
        ASSERT_TRUE(before & ECHO) << "a fresh terminal echoes";
        auto answers = std::async(std::launch::async, [&rig] {
            std::optional<std::string> secret =
                rig->getSecret("Enter your app password", "Trackpost");
            return std::make_pair(secret, rig->getInput("Template", "Trackpost", ""));
        });
        // The echo is off by the time the prompt shows.
        EXPECT_EQ(rig.shownUntil("\r\n"), "Trackpost: Enter your app password\r\n");
        rig.type(c.typed);
        EXPECT_EQ(rig.shownUntil("Trackpost: Template\r\n"), c.echoed + "Trackpost: Template\r\n");
        rig.type("visible\n");
        EXPECT_EQ(rig.shownUntil("\r\n"), "visible\r\n");
        if (answers.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the questions still wait for their answers";
            rig.hangUp();
        }
        const auto [secret, next] = answers.get();
        EXPECT_EQ(secret, c.answer);
        EXPECT_EQ(next, "visible");
        EXPECT_EQ(rig.localModes(), before);
    }
}

// ---------------------------------------------------------------------------------------------
// Desktop

// Whether `pid` is still a child of this process: running, or ended and not reaped.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    return close == std::string::npos || close + 2 >= all.size() ? '\0' : all[close + 2];
}

// The child has ended, and nobody has reaped it yet.
bool waitUntilZombie(pid_t pid) {
    return eventually([pid] { return processState(pid) == 'Z'; });
}

bool noChildLeft() {
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Stands in for zenity and xdg-open: records its arguments NUL-separated, optionally waits at a
// gate (a FIFO the test opens when it is ready), prints FAKE_STDOUT and exits with FAKE_EXIT.
const char FAKE_PROGRAM[] = R"(#!/bin/sh
me="$0"
echo $$ > "$me.pid"
for a in "$@"; do printf '%s\0' "$a"; done > "$me.args.tmp"
mv "$me.args.tmp" "$me.args"
if [ -n "$FAKE_GATE" ]; then read _ < "$FAKE_GATE"; fi
printf '%s' "$FAKE_STDOUT"
: > "$me.done"
exit "${FAKE_EXIT:-0}"
)";

class DesktopDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/trackpost-dialogs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        for (const char* name : {"zenity", "xdg-open"}) {
            std::ofstream(dir / name) << FAKE_PROGRAM;
            fs::permissions(dir / name, fs::perms::owner_all);
        }
        const char* path = std::getenv("PATH");
        pathEnv.emplace("PATH", dir.string() + ":" + (path ? path : "/usr/bin:/bin"));
    }
    void TearDown() override {
        pathEnv.reset();
        fs::remove_all(dir);
    }

    // The arguments the stand-in `name` was last started with, the program name left out.
    std::vector<std::string> argsOf(const char* name) const {
        const std::string all = readFile(dir / (std::string(name) + ".args"));
        std::vector<std::string> args;
        for (size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos;
             start = end + 1)
            args.push_back(all.substr(start, end - start));
        return args;
    }
    // The stand-in's process id, once it has started and recorded its arguments.
    pid_t pidOf(const char* name) const {
        const fs::path args = dir / (std::string(name) + ".args");
        if (!eventually([&] { return fs::exists(args); })) return -1;
        return static_cast<pid_t>(std::stol(readFile(dir / (std::string(name) + ".pid"))));
    }
    bool finished(const char* name) const {
        return fs::exists(dir / (std::string(name) + ".done"));
    }

    // A FIFO the stand-in blocks on until openGate() is called.
    std::string makeGate() {
        const std::string gate = (dir / "gate").string();
        if (mkfifo(gate.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo";
        return gate;
    }
    void openGate() {
        // Opening for writing waits for the stand-in to open its end; closing lets it read EOF.
        std::ofstream((dir / "gate").string()).close();
    }

    fs::path dir;
    std::optional<ScopedEnv> pathEnv;
};

const std::string AWKWARD_TEXT = "He said \"hi\" & left <b>now</b>\n'quoted'  $HOME `x` \\n;";

TEST_F(DesktopDialogsTest, TextsArriveVerbatimAsSeparateArguments) {
    DesktopDialogs dialogs;
    ScopedEnv exitCode("FAKE_EXIT", "0");
    dialogs.showRequest(AWKWARD_TEXT, "Track & <post>");
    EXPECT_EQ(
        argsOf("zenity"),
        (std::vector<std::string>{"--question", "--title=Track & <post>", "--text=" + AWKWARD_TEXT,
                                  "--ok-label=Yes", "--cancel-label=No", "--no-markup"}));
    dialogs.getInput(AWKWARD_TEXT, "Trackpost", "a \"default\" <with> & stuff");
    EXPECT_EQ(argsOf("zenity"),
              (std::vector<std::string>{"--entry", "--title=Trackpost", "--text=" + AWKWARD_TEXT,
                                        "--entry-text=a \"default\" <with> & stuff",
                                        "--ok-label=OK", "--cancel-label=Cancel"}));
    dialogs.getSecret(AWKWARD_TEXT, "Trackpost");
    EXPECT_EQ(argsOf("zenity"),
              (std::vector<std::string>{"--entry", "--title=Trackpost", "--text=" + AWKWARD_TEXT,
                                        "--hide-text", "--ok-label=OK", "--cancel-label=Cancel"}));
}

TEST_F(DesktopDialogsTest, RequestIsYesExactlyOnExitZero) {
    const std::pair<const char*, bool> cases[] = {
        {"0", true}, {"1", false}, {"5", false}, {"255", false}};
    DesktopDialogs dialogs;
    for (const auto& [code, yes] : cases) {
        ScopedEnv exitCode("FAKE_EXIT", code);
        EXPECT_EQ(dialogs.showRequest("Log out?", "Trackpost"), yes) << code;
    }
}

TEST_F(DesktopDialogsTest, EntryIsThePrintedLineOnOkElseTheDefaultOrNothing) {
    struct Case {
        const char* exitCode;
        std::string printed;
        std::string answer;
    };
    const Case cases[] = {
        {"0", "1234567\n", "1234567"},
        {"0", "no newline", "no newline"},
        {"0", "two\n\n", "two\n"},
        {"0", "\n", ""},
        {"0", "", ""},
        {"0", "Grüße <&>\n", "Grüße <&>"},
        {"0", std::string(100000, 'x') + "\n", std::string(100000, 'x')},
        {"1", "typed then cancelled\n", "default"},
        {"5", "", "default"},
    };
    DesktopDialogs dialogs;
    for (const Case& c : cases) {
        ScopedEnv exitCode("FAKE_EXIT", c.exitCode);
        ScopedEnv printed("FAKE_STDOUT", c.printed);
        EXPECT_EQ(dialogs.getInput("PIN", "Trackpost", "default"), c.answer)
            << c.exitCode << " " << c.printed.substr(0, 40);
        const bool ok = std::string(c.exitCode) == "0";
        EXPECT_EQ(dialogs.askInput("PIN", "Trackpost", "default").has_value(), ok)
            << "a cancel is told apart from the default confirmed";
        EXPECT_EQ(dialogs.getSecret("Password", "Trackpost"),
                  ok ? std::optional<std::string>(c.answer) : std::nullopt);
    }
}

TEST_F(DesktopDialogsTest, MissingProgramsMeanNoTheDefaultAndNothing) {
    fs::remove(dir / "zenity");
    fs::remove(dir / "xdg-open");
    ScopedEnv path("PATH", dir.string());
    DesktopDialogs dialogs;
    EXPECT_FALSE(dialogs.showRequest("Log out?", "Trackpost"));
    EXPECT_EQ(dialogs.getInput("PIN", "Trackpost", "default"), "default");
    EXPECT_EQ(dialogs.getSecret("Password", "Trackpost"), std::nullopt);
    dialogs.showMessage("nobody sees this", "Trackpost");
    dialogs.openURL("https://example.com/");
}

TEST_F(DesktopDialogsTest, MessageReturnsWhileTheBoxIsOpenAndIsReapedByTheNextCall) {
    ScopedEnv gate("FAKE_GATE", makeGate());
    DesktopDialogs dialogs;
    dialogs.showMessage(AWKWARD_TEXT, "Trackpost");
    // The stand-in cannot finish before the gate opens, so returning proves nothing waited.
    EXPECT_FALSE(finished("zenity"));
    openGate();
    const pid_t box = pidOf("zenity");
    ASSERT_TRUE(waitUntilZombie(box));
    EXPECT_TRUE(finished("zenity"));
    EXPECT_EQ(argsOf("zenity"),
              (std::vector<std::string>{"--info", "--title=Trackpost", "--text=" + AWKWARD_TEXT,
                                        "--no-markup"}));

    fs::remove(dir / "zenity");  // the next box fails to start, and still reaps the first
    EXPECT_FALSE(dialogs.showRequest("again?", "Trackpost"));
    EXPECT_TRUE(noChildLeft());
}

TEST_F(DesktopDialogsTest, DestructionReapsEndedBoxesAndDoesNotWaitForOpenOnes) {
    std::optional<DesktopDialogs> dialogs(std::in_place);
    dialogs->openURL("https://example.com/authorize?oauth_token=a&b=<c> d");
    const pid_t opener = pidOf("xdg-open");
    ASSERT_TRUE(waitUntilZombie(opener));
    EXPECT_EQ(argsOf("xdg-open"),
              (std::vector<std::string>{"https://example.com/authorize?oauth_token=a&b=<c> d"}));

    ScopedEnv gate("FAKE_GATE", makeGate());
    dialogs->showMessage("still open", "Trackpost");
    const pid_t box = pidOf("zenity");
    dialogs.reset();  // must return although the box is open
    EXPECT_FALSE(finished("zenity"));
    EXPECT_EQ(processState(opener), '\0');  // the ended opener was reaped

    // The open box is left to the user; this test cleans up after it.
    openGate();
    EXPECT_EQ(waitpid(box, nullptr, 0), box);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(DesktopDialogsTest, MessagesAndAddressesFromManyThreadsAreAllReaped) {
    DesktopDialogs dialogs;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&dialogs] {
            for (int i = 0; i < 5; ++i) {
                dialogs.showMessage("from a worker", "Trackpost");
                dialogs.openURL("https://example.com/authorize");
            }
        });
    for (std::thread& w : workers) w.join();
    // Every box has been started; a modal call waits for its own box, then reaps the others.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        dialogs.showRequest("done?", "Trackpost");
    } while (!noChildLeft() && std::chrono::steady_clock::now() < deadline);
    EXPECT_TRUE(noChildLeft());
}

// ---------------------------------------------------------------------------------------------
// Choice

// The stand-in zenity's folder serves as a PATH that has it.
using DialogsChoice = DesktopDialogsTest;

TEST_F(DialogsChoice, FollowsTheOverrideThenDisplayAndZenity) {
    struct Case {
        std::optional<std::string> forced;
        std::optional<std::string> display;
        std::optional<std::string> wayland;
        bool zenityOnPath;
        bool desktop;
    };
    const Case cases[] = {
        {"terminal", ":0", std::nullopt, true, false},
        {"desktop", std::nullopt, std::nullopt, false, true},
        {std::nullopt, std::nullopt, std::nullopt, true, false},
        {std::nullopt, "", "", true, false},
        {std::nullopt, ":0", std::nullopt, true, true},
        {std::nullopt, std::nullopt, "wayland-0", true, true},
        {std::nullopt, ":0", std::nullopt, false, false},
        {"something else", ":0", std::nullopt, true, true},
    };
    for (const Case& c : cases) {
        ScopedEnv forced("TRACKPOST_DIALOGS", c.forced);
        ScopedEnv display("DISPLAY", c.display);
        ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        ScopedEnv path("PATH", c.zenityOnPath ? dir.string() : "/nonexistent");
        const std::unique_ptr<TrackpostDialogs> chosen = makePlatformDialogs();
        const std::string label = c.forced.value_or("-") + " " + c.display.value_or("-") + " " +
                                  c.wayland.value_or("-") + " " + std::to_string(c.zenityOnPath);
        if (c.desktop)
            EXPECT_NE(dynamic_cast<DesktopDialogs*>(chosen.get()), nullptr) << label;
        else
            EXPECT_NE(dynamic_cast<TerminalDialogs*>(chosen.get()), nullptr) << label;
    }
}

}  // namespace
