#include "DialogsTerminal.h"

#include <cstdlib>

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

std::optional<std::string> TerminalDialogs::askInput(const std::string& text,
                                                     const std::string& headline,
                                                     const std::string& defaultValue) {
    std::lock_guard<std::mutex> guard(questionLock);
    std::string prompt = headline + ": " + text;
    if (!defaultValue.empty()) prompt += " [" + defaultValue + "]";
    writeLine(prompt);
    std::string answer;
    if (!readLine(answer)) return std::nullopt;
    return answer;
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
