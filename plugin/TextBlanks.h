#ifndef TRACKPOST_TEXT_BLANKS_H
#define TRACKPOST_TEXT_BLANKS_H

#include <string>

// The text without the blanks, tabs and line ends around it, as typed or pasted answers bring.
inline std::string trimBlanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

#endif
