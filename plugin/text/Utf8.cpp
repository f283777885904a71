#include "Utf8.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

const char32_t REPLACEMENT = 0xFFFD;

// The code point at `at` and its length in bytes; -1 for a byte that starts no valid sequence.
utf8proc_ssize_t next(std::string_view text, std::size_t at, utf8proc_int32_t& codePoint) {
    return utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                            static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
}

}  // namespace

std::u32string decodeUtf8(std::string_view text) {
    return decodeUtf8WithOffsets(text).codePoints;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    utf8proc_uint8_t bytes[4];
    const utf8proc_ssize_t length =
        utf8proc_encode_char(static_cast<utf8proc_int32_t>(codePoint), bytes);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

std::string encodeUtf8(std::u32string_view codePoints) {
    std::string out;
    out.reserve(codePoints.size());
    for (char32_t c : codePoints) appendUtf8(out, c);
    return out;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = next(text, at, codePoint);
        if (length <= 0) return false;
        at += static_cast<std::size_t>(length);
    }
    return true;
}

bool isSurelyNfc(std::u32string_view codePoints) {
    // Below U+0300 nothing decomposes and nothing joins what precedes it.
    const char32_t firstJoining = 0x300;
    return std::all_of(codePoints.begin(), codePoints.end(), [](char32_t c) {
        if (c < firstJoining) return true;
        if (c >= 0x1100 && c <= 0x11FF) return false;
        const utf8proc_property_t* p = utf8proc_get_property(static_cast<utf8proc_int32_t>(c));
        const bool canonicalDecomposition = p->decomp_seqindex != UINT16_MAX && p->decomp_type == 0;
        const bool mark = p->category == UTF8PROC_CATEGORY_MN ||
                          p->category == UTF8PROC_CATEGORY_MC ||
                          p->category == UTF8PROC_CATEGORY_ME;
        return !canonicalDecomposition && !mark && p->combining_class == 0;
    });
}

std::u32string nfc(std::string_view text) {
    std::u32string decoded = decodeUtf8(text);
    if (isSurelyNfc(decoded)) return decoded;
    const std::string valid = encodeUtf8(decoded);
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
                     static_cast<utf8proc_ssize_t>(valid.size()), &mapped,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) return decodeUtf8(valid);  // out of memory in utf8proc: counted as it is
    const std::unique_ptr<utf8proc_uint8_t, void (*)(void*)> owned(mapped, &std::free);
    return decodeUtf8(
        std::string_view(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length)));
}

std::vector<std::size_t> clusterBounds(std::u32string_view codePoints) {
    std::vector<std::size_t> bounds;
    if (codePoints.empty()) return {0};
    bounds.push_back(0);
    utf8proc_int32_t state = 0;
    for (std::size_t i = 1; i < codePoints.size(); ++i)
        if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(codePoints[i - 1]),
                                             static_cast<utf8proc_int32_t>(codePoints[i]), &state))
            bounds.push_back(i);
    bounds.push_back(codePoints.size());
    return bounds;
}

OffsetText decodeUtf8WithOffsets(std::string_view text) {
    OffsetText out;
    out.codePoints.reserve(text.size());
    out.offsets.reserve(text.size() + 1);
    for (std::size_t at = 0; at < text.size();) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = next(text, at, codePoint);
        out.offsets.push_back(at);
        out.codePoints += length > 0 ? static_cast<char32_t>(codePoint) : REPLACEMENT;
        at += length > 0 ? static_cast<std::size_t>(length) : 1;
    }
    out.offsets.push_back(text.size());
    return out;
}
