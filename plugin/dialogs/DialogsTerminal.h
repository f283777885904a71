#ifndef TRACKPOST_DIALOGS_TERMINAL_H
#define TRACKPOST_DIALOGS_TERMINAL_H

#include <cstdio>
#include <mutex>
#include <string>

#include "Dialogs.h"

// The boxes as lines on a terminal: prompts go to `out`, answers come from `in`, one line each.
// `in` is read with stdio only, so whoever else reads the same stream (the host reads its
// commands from stdin) finds everything after the answer still there. A secret is read with the
// terminal's echo off when `in` is one; piped answers are read as any other line, and never shown.
class TerminalDialogs : public TrackpostDialogs {
  public:
    explicit TerminalDialogs(FILE* in = stdin, FILE* out = stderr);

    void showMessage(const std::string& text, const std::string& headline) override;
    std::optional<std::string> askInput(const std::string& text, const std::string& headline,
                                        const std::string& defaultValue) override;
    std::optional<std::string> getSecret(const std::string& text,
                                         const std::string& headline) override;
    bool showRequest(const std::string& text, const std::string& headline) override;
    void openURL(const std::string& url) override;

  private:
    // Shows the prompt and reads its answer, with the echo off when `masked`; nothing at the end
    // of input.
    std::optional<std::string> ask(const std::string& prompt, bool masked);
    // One whole line; messages may come from any thread, between a question and its answer too.
    void writeLine(const std::string& line);
    // Called with `questionLock` held, so two questions never take each other's answers.
    bool readLine(std::string& line);

    std::mutex questionLock;  // a question from its prompt to its answer
    std::mutex outputLock;    // one line of output
    FILE* in;
    FILE* out;
};

#endif
