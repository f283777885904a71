#include "DialogsTerminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "TextBlanks.h"

namespace {

const char URL_HEADLINE[] = "Trackpost";

// ASCII only: the answer words are English, and tolower() would follow whatever locale the host
// set.
std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool meansYes(const std::string& answer) {
    const std::string word = lowerAscii(trimBlanks(answer));
    return word == "y" || word == "yes";
}

// Turns the terminal's echo off for its lifetime, when the stream is a terminal; the line's end
// is still echoed, so the next output starts on a line of its own. Both changes take effect at
// once, without flushing: what is typed ahead belongs to the host's next commands.
class EchoOff {
  public:
    explicit EchoOff(FILE* stream) : fd(fileno(stream)) {
        if (fd < 0 || !isatty(fd) || tcgetattr(fd, &saved) != 0) return;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        changed = tcsetattr(fd, TCSANOW, &quiet) == 0;
    }
    ~EchoOff() {
        if (changed) tcsetattr(fd, TCSANOW, &saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    int fd;
    termios saved{};
    bool changed = false;
};

}  // namespace

TerminalDialogs::TerminalDialogs(FILE* in, FILE* out) : in(in), out(out) {}

void TerminalDialogs::writeLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(outputLock);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

bool TerminalDialogs::readLine(std::string& line) {
    // A Ctrl-D answers this prompt only; without clearing, every later prompt would see it too.
    clearerr(in);
    char* buffer = nullptr;
    size_t capacity = 0;
    const ssize_t length = getline(&buffer, &capacity, in);
    if (length < 0) {
        std::free(buffer);
        return false;
    }
    line.assign(buffer, static_cast<size_t>(length));
    std::free(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void TerminalDialogs::showMessage(const std::string& text, const std::string& headline) {
    writeLine(headline + ": " + text);
}

std::optional<std::string> TerminalDialogs::ask(const std::string& prompt, bool masked) {
    std::lock_guard<std::mutex> guard(questionLock);
    std::optional<EchoOff> echoOff;
    // Off before the prompt shows, so that nothing the user types after it is echoed.
    if (masked) echoOff.emplace(in);
    writeLine(prompt);
    std::string answer;
    if (!readLine(answer)) return std::nullopt;
    return answer;
}

std::optional<std::string> TerminalDialogs::askInput(const std::string& text,
                                                     const std::string& headline,
                                                     const std::string& defaultValue) {
    std::string prompt = headline + ": " + text;
    if (!defaultValue.empty()) prompt += " [" + defaultValue + "]";
    return ask(prompt, false);
}

std::optional<std::string> TerminalDialogs::getSecret(const std::string& text,
                                                      const std::string& headline) {
    return ask(headline + ": " + text, true);
}

bool TerminalDialogs::showRequest(const std::string& text, const std::string& headline) {
    std::lock_guard<std::mutex> guard(questionLock);
    writeLine(headline + ": " + text + " [y/n]");
    std::string answer;
    return readLine(answer) && meansYes(answer);
}

void TerminalDialogs::openURL(const std::string& url) {
    writeLine(std::string(URL_HEADLINE) + ": open " + url);
}
