#ifndef TRACKPOST_DIALOGS_H
#define TRACKPOST_DIALOGS_H

#include <memory>
#include <optional>
#include <string>

// How the plug-in reaches the user beyond the host's own buttons: a message box, a text-input
// box (plain or masked), a yes/no question and the default browser. One realisation per desktop,
// chosen at load. Strings are UTF-8; the headline is the plug-in's name.
class TrackpostDialogs {
  public:
    virtual ~TrackpostDialogs() = default;
    // Shows the message and returns at once; safe from any thread.
    virtual void showMessage(const std::string& text, const std::string& headline) = 0;
    // Modal, the box filled with `defaultValue`: the text the user confirmed (possibly empty),
    // or nothing on cancel.
    virtual std::optional<std::string> askInput(const std::string& text,
                                                const std::string& headline,
                                                const std::string& defaultValue) = 0;
    // The same, `defaultValue` on cancel.
    std::string getInput(const std::string& text, const std::string& headline,
                         const std::string& defaultValue) {
        return askInput(text, headline, defaultValue).value_or(defaultValue);
    }
    // Modal, an empty box whose text is never shown: what the user confirmed (possibly empty), or
    // nothing on cancel. The answer is never echoed, logged or passed on a command line.
    virtual std::optional<std::string> getSecret(const std::string& text,
                                                 const std::string& headline) = 0;
    // Modal: true exactly when the user chose "Yes".
    virtual bool showRequest(const std::string& text, const std::string& headline) = 0;
    // Hands the address to the user's browser without waiting for it.
    virtual void openURL(const std::string& url) = 0;
};

// The realisation for this machine: AppKit on macOS; elsewhere the desktop's boxes (zenity and
// xdg-open) when a display is there and zenity is installed, else the terminal.
// TRACKPOST_DIALOGS=terminal|desktop forces one of the last two.
std::unique_ptr<TrackpostDialogs> makePlatformDialogs();

#endif
