#ifndef TRACKPOST_DIALOGS_DESKTOP_H
#define TRACKPOST_DIALOGS_DESKTOP_H

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "Dialogs.h"

// The boxes as zenity windows and the browser through xdg-open, each a child process started
// from an argument vector, so no text is ever parsed by a shell.
class DesktopDialogs : public TrackpostDialogs {
  public:
    DesktopDialogs() = default;
    // Reaps the children that have ended; does not wait for boxes still open.
    ~DesktopDialogs() override;
    DesktopDialogs(const DesktopDialogs&) = delete;
    DesktopDialogs& operator=(const DesktopDialogs&) = delete;

    void showMessage(const std::string& text, const std::string& headline) override;
    std::optional<std::string> askInput(const std::string& text, const std::string& headline,
                                        const std::string& defaultValue) override;
    std::optional<std::string> getSecret(const std::string& text,
                                         const std::string& headline) override;
    bool showRequest(const std::string& text, const std::string& headline) override;
    void openURL(const std::string& url) override;

  private:
    // The entry box: filled with `defaultValue`, or empty and hiding what is typed when `masked`.
    // The answer comes back through zenity's output, never through an argument.
    std::optional<std::string> askEntry(const std::string& text, const std::string& headline,
                                        const std::string& defaultValue, bool masked);
    // Starts a child nobody waits for now; a later call or the destructor reaps it.
    void startUnwaited(const std::vector<std::string>& args);
    void reapEnded();

    std::mutex lock;
    std::vector<pid_t> unwaited;
};

#endif
