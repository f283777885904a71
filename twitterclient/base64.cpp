#include "base64.h"

namespace {

const std::string base64_chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "abcdefghijklmnopqrstuvwxyz"
    "0123456789+/";

// Value of a Base64 character, or -1 when it is not in the alphabet.
int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64_encode(unsigned char const* bytes, unsigned int in_len) {
    std::string out;
    out.reserve((static_cast<size_t>(in_len) + 2) / 3 * 4);

    unsigned int i = 0;
    for (; i + 3 <= in_len; i += 3) {
        const unsigned int group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += base64_chars[(group >> 18) & 63];
        out += base64_chars[(group >> 12) & 63];
        out += base64_chars[(group >> 6) & 63];
        out += base64_chars[group & 63];
    }

    const unsigned int left = in_len - i;
    if (left > 0) {
        unsigned int group = bytes[i] << 16;
        if (left == 2) group |= bytes[i + 1] << 8;
        out += base64_chars[(group >> 18) & 63];
        out += base64_chars[(group >> 12) & 63];
        out += left == 2 ? base64_chars[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64_decode(std::string const& encoded) {
    std::string out;
    out.reserve(encoded.size() / 4 * 3 + 2);

    unsigned int group = 0;
    int count = 0;
    for (unsigned char c : encoded) {
        const int v = base64Value(c);
        if (v < 0) break;  // "=", whitespace and anything else end the text
        group = (group << 6) | static_cast<unsigned int>(v);
        if (++count == 4) {
            out += static_cast<char>((group >> 16) & 0xFF);
            out += static_cast<char>((group >> 8) & 0xFF);
            out += static_cast<char>(group & 0xFF);
            group = 0;
            count = 0;
        }
    }

    // A partial group of k characters yields k - 1 bytes.
    if (count >= 2) {
        group <<= 6 * (4 - count);
        out += static_cast<char>((group >> 16) & 0xFF);
        if (count == 3) out += static_cast<char>((group >> 8) & 0xFF);
    }
    return out;
}
