#include "TagRepair.h"

#include <utf8proc.h>

#include "Utf8.h"

namespace {

// Windows-1252's 0x80-0x9F; its five unassigned bytes stand for the C1 controls they are.
const char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isBlank(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFEFF || c == 0xFFFE || c == 0xFFFF)
        return true;
    const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

}  // namespace

std::string utf8OrWindows1252(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        const char32_t c = byte >= 0x80 && byte <= 0x9F ? WINDOWS_1252_HIGH[byte - 0x80] : byte;
        appendUtf8(out, c);
    }
    return out;
}

std::string repairTag(std::string_view bytes) {
    std::string out;
    bool blankPending = false;
    for (char32_t c : decodeUtf8(utf8OrWindows1252(bytes))) {
        if (isBlank(c)) {
            blankPending = !out.empty();
            continue;
        }
        if (blankPending) out += ' ';
        blankPending = false;
        appendUtf8(out, c);
    }
    return out;
}
