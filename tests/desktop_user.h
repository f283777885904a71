// A user at an X display, played through xdotool: clicks, typing, keys and screenshots. Every
// command is bounded in time, so a box that never comes fails a test instead of hanging it.
#ifndef TRACKPOST_TESTS_DESKTOP_USER_H
#define TRACKPOST_TESTS_DESKTOP_USER_H

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "eventually.h"

namespace desktop_user {

// Runs the program with its arguments, killed after `seconds`; true on exit status 0. `printed`
// receives its standard output when given.
bool run(const std::vector<std::string>& args, std::string* printed = nullptr, int seconds = 30);

// A slow press and release, which X delivers reliably where a fast click is sometimes lost.
bool click(int x, int y);
// Types UTF-8 text as keystrokes into the window that has the keyboard.
bool type(const std::string& text);
// Presses a key by its X name ("Return", "Escape", "Tab"), `times` times.
bool key(const std::string& name, int times = 1);
// The first visible window whose title is exactly `title`, waiting up to `seconds` for one.
std::optional<std::string> waitForWindow(const std::string& title, int seconds = 30);
// Raises and focuses the window, and waits until it has the keyboard.
bool activate(const std::string& window);
// Whether a visible window with exactly this title is there now.
bool windowShown(const std::string& title);
// Saves the whole screen as NAME.png in the folder TRACKPOST_SCREENSHOTS names (if it is set).
bool screenshot(const std::string& name);

// How often a condition that runs xdotool is polled.
constexpr std::chrono::milliseconds POLL{50};

}  // namespace desktop_user

#endif
