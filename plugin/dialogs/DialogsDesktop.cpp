#include "DialogsDesktop.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace {

const char BOX_PROGRAM[] = "zenity";
const char BROWSER_OPENER[] = "xdg-open";

// Owns the spawn settings for one child: stdin from /dev/null so a box never takes the host's
// input, stdout to /dev/null or a given pipe, and signals as a fresh program expects them even
// when the calling thread blocks some or the host ignores SIGPIPE.
class SpawnSetup {
  public:
    explicit SpawnSetup(int stdoutFd) {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (stdoutFd < 0)
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // The child's id, or -1 when it could not be started.
    pid_t start(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0)
            return -1;
        return pid;
    }

  private:
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// True when the child ran to an exit status of 0.
bool waitSucceeded(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string readAll(int fd) {
    std::string data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            data.append(chunk, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            return data;
    }
}

// Runs a box to its end: whether it exited with 0, and what it printed.
bool runBox(const std::vector<std::string>& args, std::string* printed) {
    int fds[2] = {-1, -1};
    // Close-on-exec, so a child started meanwhile from another thread cannot keep the write end
    // open and hold back the end of this box's output.
    if (printed != nullptr && pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid;
    {
        SpawnSetup setup(fds[1]);
        pid = setup.start(args);
    }
    if (printed != nullptr) {
        close(fds[1]);
        if (pid > 0) *printed = readAll(fds[0]);
        close(fds[0]);
    }
    return pid > 0 && waitSucceeded(pid);
}

std::vector<std::string> boxArgs(const char* kind, const std::string& headline,
                                 const std::string& text) {
    return {BOX_PROGRAM, kind, "--title=" + headline, "--text=" + text};
}

}  // namespace

DesktopDialogs::~DesktopDialogs() {
    // A box still open is left alone: the user may not have read it yet, and waiting here would
    // hold up the host's unloading until it is closed.
    reapEnded();
}

void DesktopDialogs::reapEnded() {
    std::lock_guard<std::mutex> guard(lock);
    auto ended = [](pid_t pid) {
        pid_t result;
        do {
            result = waitpid(pid, nullptr, WNOHANG);
        } while (result < 0 && errno == EINTR);
        return result != 0;  // reaped now, or already gone (the host may reap all children)
    };
    unwaited.erase(std::remove_if(unwaited.begin(), unwaited.end(), ended), unwaited.end());
}

void DesktopDialogs::startUnwaited(const std::vector<std::string>& args) {
    reapEnded();
    SpawnSetup setup(-1);
    const pid_t pid = setup.start(args);
    if (pid <= 0) return;
    std::lock_guard<std::mutex> guard(lock);
    unwaited.push_back(pid);
}

void DesktopDialogs::showMessage(const std::string& text, const std::string& headline) {
    std::vector<std::string> args = boxArgs("--info", headline, text);
    args.push_back("--no-markup");
    startUnwaited(args);
}

std::optional<std::string> DesktopDialogs::askEntry(const std::string& text,
                                                    const std::string& headline,
                                                    const std::string& defaultValue, bool masked) {
    reapEnded();
    std::vector<std::string> args = boxArgs("--entry", headline, text);
    args.push_back(masked ? "--hide-text" : "--entry-text=" + defaultValue);
    args.insert(args.end(), {"--ok-label=OK", "--cancel-label=Cancel"});
    std::string printed;
    if (!runBox(args, &printed)) return std::nullopt;
    if (!printed.empty() && printed.back() == '\n') printed.pop_back();
    return printed;
}

std::optional<std::string> DesktopDialogs::askInput(const std::string& text,
                                                    const std::string& headline,
                                                    const std::string& defaultValue) {
    return askEntry(text, headline, defaultValue, false);
}

std::optional<std::string> DesktopDialogs::getSecret(const std::string& text,
                                                     const std::string& headline) {
    return askEntry(text, headline, "", true);
}

bool DesktopDialogs::showRequest(const std::string& text, const std::string& headline) {
    reapEnded();
    std::vector<std::string> args = boxArgs("--question", headline, text);
    args.insert(args.end(), {"--ok-label=Yes", "--cancel-label=No", "--no-markup"});
    return runBox(args, nullptr);
}

void DesktopDialogs::openURL(const std::string& url) {
    startUnwaited({BROWSER_OPENER, url});
}
