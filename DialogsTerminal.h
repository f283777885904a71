#ifndef TRACKPOST_DIALOGS_TERMINAL_H
#define TRACKPOST_DIALOGS_TERMINAL_H

#include <cstdio>
#include <mutex>
#include <string>

#include "Dialogs.h"

// The boxes as lines on a terminal: prompts go to `out`, answers come from `in`, one line each.
// `in` is read with stdio only, so whoever else reads the same stream (the host reads its
// commands from stdin) finds everything after the answer still there.
class TerminalDialogs : public TrackpostDialogs {
  public:
    explicit TerminalDialogs(FILE* in = stdin, FILE* out = stderr);

    void showMessage(const std::string& text, const std::string& headline) override;
    std::string getInput(const std::string& text, const std::string& headline,
                         const std::string& defaultValue) override;
    bool showRequest(const std::string& text, const std::string& headline) override;
    void openURL(const std::string& url) override;

  private:
    // Both expect `lock` held, so a prompt and its answer are never split by another call.
    void writeLine(const std::string& line);
    bool readLine(std::string& line);

    std::mutex lock;
    FILE* in;
    FILE* out;
};

#endif
