#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "DialogsDesktop.h"
#include "DialogsTerminal.h"

namespace {

bool isSetNonEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

bool isExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The same search posix_spawnp makes, so "found" here means the box can be started.
bool foundOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    for (const char* dir = path;; ++dir) {
        const char* end = std::strchr(dir, ':');
        const std::string folder = end ? std::string(dir, end) : std::string(dir);
        if (isExecutableFile((folder.empty() ? "." : folder) + "/" + program)) return true;
        if (end == nullptr) return false;
        dir = end;
    }
}

bool desktopUsable() {
    return (isSetNonEmpty("DISPLAY") || isSetNonEmpty("WAYLAND_DISPLAY")) && foundOnPath("zenity");
}

}  // namespace

std::unique_ptr<TrackpostDialogs> makePlatformDialogs() {
    const char* forced = std::getenv("TRACKPOST_DIALOGS");
    const std::string choice = forced ? forced : "";
    if (choice == "terminal") return std::make_unique<TerminalDialogs>();
    if (choice == "desktop" || desktopUsable()) return std::make_unique<DesktopDialogs>();
    return std::make_unique<TerminalDialogs>();
}
