#include "urlencode.h"

namespace {

const char hexDigits[] = "0123456789ABCDEF";

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string char2hex(char dec) {
    const unsigned char v = static_cast<unsigned char>(dec);
    return std::string{hexDigits[v >> 4], hexDigits[v & 15]};
}

std::string urlencode(const std::string& s) {
    std::string out;
    out.reserve(s.size() * 3);
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out += ch;
        } else {
            out += '%';
            out += char2hex(ch);
        }
    }
    return out;
}

size_t urlencodedLength(const std::string& s) {
    size_t length = 0;
    for (char ch : s) length += isUnreserved(static_cast<unsigned char>(ch)) ? 1 : 3;
    return length;
}
