#include "desktop_user.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

extern char** environ;

namespace desktop_user {

namespace {

// A title as a pattern that matches it alone (our titles hold no pattern characters).
std::string exactly(const std::string& title) {
    return "^" + title + "$";
}

// Everything the descriptor gives until its end.
std::string readAll(int fd) {
    std::string out;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) != 0;) {
        if (n > 0)
            out.append(chunk, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    return out;
}

// Whether the pointer is at (x, y) now.
bool pointerAt(int x, int y) {
    std::string shell;
    if (!run({"xdotool", "getmouselocation", "--shell"}, &shell)) return false;
    return shell.find("X=" + std::to_string(x) + "\nY=" + std::to_string(y) + "\n") !=
           std::string::npos;
}

}  // namespace

bool run(const std::vector<std::string>& args, std::string* printed, int seconds) {
    // A shell runs the command and writes its exit status to descriptor 3: GNUstep's run loop
    // reaps every child of the process (its NSTask bookkeeping), so waitpid may find ours gone.
    std::vector<std::string> full = {"/bin/sh", "-c", "timeout --kill-after=5 \"$@\"; echo $? >&3",
                                     "sh", std::to_string(seconds)};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);

    int output[2] = {-1, -1};
    int status[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0) return false;
    if (pipe2(status, O_CLOEXEC) != 0) {
        close(output[0]);
        close(output[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, status[1], 3);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    close(status[1]);
    const std::string out = readAll(output[0]);
    const std::string exitStatus = readAll(status[0]);
    close(output[0]);
    close(status[0]);
    if (spawned != 0) return false;
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (printed != nullptr) *printed = out;
    return exitStatus == "0\n";
}

bool click(int x, int y) {
    // --sync waits for the pointer to move, for seconds when it is already there.
    if (!pointerAt(x, y) &&
        !run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)}))
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!run({"xdotool", "mousedown", "1"})) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return run({"xdotool", "mouseup", "1"});
}

bool type(const std::string& text) {
    return run({"xdotool", "type", "--delay", "120", "--", text}, nullptr, 60);
}

bool key(const std::string& name, int times) {
    return run({"xdotool", "key", "--delay", "100", "--repeat", std::to_string(times), name});
}

std::optional<std::string> waitForWindow(const std::string& title, int seconds) {
    // A search fails outright when a window it looks at goes away meanwhile (another box
    // closing), so it is tried again until the time is up.
    std::string ids;
    const bool found = eventually(
        [&] {
            return run({"xdotool", "search", "--sync", "--onlyvisible", "--name", exactly(title)},
                       &ids, seconds) &&
                   !ids.empty();
        },
        std::chrono::seconds(seconds), POLL);
    if (!found) return std::nullopt;
    return ids.substr(0, ids.find('\n'));
}

bool activate(const std::string& window) {
    return run({"xdotool", "windowactivate", "--sync", window}) &&
           run({"xdotool", "windowfocus", "--sync", window});
}

bool windowShown(const std::string& title) {
    return run({"xdotool", "search", "--onlyvisible", "--name", exactly(title)});
}

bool screenshot(const std::string& name) {
    const char* folder = std::getenv("TRACKPOST_SCREENSHOTS");
    if (folder == nullptr || *folder == '\0') return true;
    return run({"import", "-window", "root", std::string(folder) + "/" + name + ".png"});
}

}  // namespace desktop_user
