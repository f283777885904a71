// The authorize page and the PIN page of the PIN flow: any page read without harm, and values
// written into a page as HTML text come back exactly.
#include "fuzz_support.h"
#include "twitterclient.h"

using fuzzsupport::FieldReader;

namespace {

const char AUTHENTICITY_FIELD[] = "<input name=\"authenticity_token\" type=\"hidden\" value=\"";
const char TOKEN_FIELD[] = "<input name=\"oauth_token\" type=\"hidden\" value=\"";
const char PIN_FIELD[] = "<p id=\"code-desc\"><code>";

bool isAlnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The length of the well-formed UTF-8 sequence at `at` (1 to 4) and its code point, or 0.
size_t utf8Sequence(const std::string& s, size_t at, unsigned long& codePoint) {
    const auto lead = static_cast<unsigned char>(s[at]);
    size_t length;
    unsigned long least;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC0 && lead < 0xE0) {
        length = 2, least = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3, least = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4, least = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > s.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(s[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < least || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

// HTML text of a value. Style 0 writes the markup characters as named references and the rest
// raw; the other styles write every character but letters and digits as a decimal (1) or
// hexadecimal (2, with "x" or "X" and either case of digits by `variant`) reference, UTF-8
// sequences as one reference to their code point. NUL and bytes outside well-formed UTF-8 stay
// raw: no reference stands for them.
std::string htmlEscape(const std::string& value, int style, int variant) {
    std::string out;
    for (size_t i = 0; i < value.size();) {
        const char c = value[i];
        unsigned long codePoint = 0;
        const size_t length = utf8Sequence(value, i, codePoint);
        if (style != 0 && length > 0 && codePoint != 0 && !isAlnum(c)) {
            const char* format = style == 1     ? "&#%lu;"
                                 : variant == 0 ? "&#x%lX;"
                                 : variant == 1 ? "&#x%lx;"
                                                : "&#X%lx;";
            char reference[16];
            std::snprintf(reference, sizeof reference, format, codePoint);
            out += reference;
            i += length;
            continue;
        }
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else {
            out += c;
        }
        ++i;
    }
    return out;
}

void readsAnyPage(const std::string& page) {
    std::string authenticity = "keep", token = "keep", pin = "keep";
    const bool fields = authorizePageFields(page, authenticity, token);
    const bool code = pinPageCode(page, pin);
    if (page.find("oauth_token\" type=\"hidden\" value=\"") == std::string::npos)
        FUZZ_CHECK(!fields);
    if (page.find("code-desc\"><code>") == std::string::npos) FUZZ_CHECK(!code);
    if (!code) FUZZ_CHECK(pin == "keep");
}

void valuesComeBack(FieldReader& in) {
    const uint8_t flags = in.byte();
    const int style = flags % 3, variant = (flags >> 4) % 3;
    const std::string authenticity = in.field(), token = in.field(), pin = in.field();
    const std::string trailer = in.rest();  // after the fields: the first markers are ours

    const std::string authenticityItem =
        AUTHENTICITY_FIELD + htmlEscape(authenticity, style, variant) + "\">";
    const std::string tokenItem = TOKEN_FIELD + htmlEscape(token, style, variant) + "\">";
    const std::string page =
        "<form>" + ((flags & 8) ? tokenItem + authenticityItem : authenticityItem + tokenItem) +
        "</form>" + trailer;
    std::string gotAuthenticity, gotToken;
    FUZZ_CHECK(authorizePageFields(page, gotAuthenticity, gotToken));
    FUZZ_CHECK(gotAuthenticity == authenticity);
    FUZZ_CHECK(gotToken == token);

    std::string gotPin;
    FUZZ_CHECK(
        pinPageCode(PIN_FIELD + htmlEscape(pin, style, variant) + "</code></p>" + trailer, gotPin));
    FUZZ_CHECK(gotPin == pin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readsAnyPage(std::string(reinterpret_cast<const char*>(data), size));
    FieldReader in(data, size);
    valuesComeBack(in);
    return 0;
}
