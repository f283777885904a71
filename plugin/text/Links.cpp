#include "Links.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "BlueskyText.h"
#include "TopLevelDomains.h"
#include "Utf8.h"

namespace {

const std::size_t NONE = static_cast<std::size_t>(-1);
// No top-level domain is longer; it keeps the search for one short in long words.
const std::size_t LONGEST_DOMAIN = 64;
const std::size_t LONGEST_LABEL = 63;
// An address longer than this (with "https://" when it has no scheme) is no link.
const std::size_t LONGEST_LINK = 4096;

// A set of ASCII characters, tested with a bit each: the link search asks for every character.
class AsciiSet {
  public:
    constexpr explicit AsciiSet(const char* chars) {
        for (; *chars != '\0'; ++chars) {
            const unsigned c = static_cast<unsigned char>(*chars);
            (c < 64 ? low_ : high_) |= std::uint64_t{1} << (c % 64);
        }
    }
    constexpr bool has(char32_t c) const {
        return c < 64 ? ((low_ >> c) & 1) != 0 : c < 128 && ((high_ >> (c - 64)) & 1) != 0;
    }

  private:
    std::uint64_t low_ = 0, high_ = 0;
};

constexpr AsciiSet PUNCTUATION("!'#%&()*+,\\-./:;<=>?@[]^_{|}~$");
constexpr AsciiSet PATH_PUNCTUATION("!*';:=+,.$/%#[]-_~@|&");
constexpr AsciiSet PATH_END_PUNCTUATION("+-=_#/");
constexpr AsciiSet QUERY_PUNCTUATION("!?*'@();:&=+$/%#[]-_.,~|");
constexpr AsciiSet QUERY_END_PUNCTUATION("-_&=#/");
constexpr AsciiSet AFTER_DOMAIN_NOT_ENDING("@+-");
constexpr AsciiSet BEFORE_NO_BARE_DOMAIN("-_./");
bool isAsciiLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char32_t c) {
    return c >= '0' && c <= '9';
}
bool isAsciiAlnum(char32_t c) {
    return isAsciiLetter(c) || isDigit(c);
}

bool isSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           c == 0x180E || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}
bool isInvalid(char32_t c) {
    return c == 0xFFFE || c == 0xFEFF || c == 0xFFFF;
}
bool isDirectional(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2066 && c <= 0x2069);
}
bool isPunct(char32_t c) {
    return PUNCTUATION.has(c);
}
bool isDomainChar(char32_t c) {
    if (isAsciiAlnum(c)) return true;  // the common case, before the longer checks
    return !isPunct(c) && !isSpace(c) && !isInvalid(c) && !isDirectional(c);
}
bool isLatinAccent(char32_t c) {
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x24F) ||
           c == 0x253 || c == 0x254 || c == 0x256 || c == 0x257 || c == 0x259 || c == 0x25B ||
           c == 0x263 || c == 0x268 || c == 0x26F || c == 0x272 || c == 0x289 || c == 0x28B ||
           c == 0x2BB || (c >= 0x300 && c <= 0x36F) || (c >= 0x1E00 && c <= 0x1EFF);
}
bool isPathLetter(char32_t c) {
    return isAsciiAlnum(c) || (c >= 0x400 && c <= 0x4FF) || isLatinAccent(c);
}
bool isPathChar(char32_t c) {
    return isPathLetter(c) || PATH_PUNCTUATION.has(c) || c == 0x2013;
}
bool isPathEnd(char32_t c) {
    return isPathLetter(c) || PATH_END_PUNCTUATION.has(c);
}
bool isQueryChar(char32_t c) {
    return isAsciiAlnum(c) || QUERY_PUNCTUATION.has(c);
}
bool isQueryEnd(char32_t c) {
    return isAsciiAlnum(c) || QUERY_END_PUNCTUATION.has(c);
}

// A Mastodon server's paths take any character but blanks, "<>?" and parentheses outside a group,
// and end on none of these.
constexpr AsciiSet MASTODON_PATH_NOT_ENDING("!*\"';:=,.$%[]~&|@");
constexpr AsciiSet MASTODON_QUERY_PUNCTUATION("!?*'@();:&=+$/%#[]-_.,~|^");
bool isMastodonPathChar(char32_t c) {
    return !isSpace(c) && c != '<' && c != '>' && c != '(' && c != ')' && c != '?';
}
bool isMastodonPathEnd(char32_t c) {
    return isMastodonPathChar(c) && !MASTODON_PATH_NOT_ENDING.has(c) && c != 0x300C && c != 0x300D;
}
// Beyond ASCII its queries take what RFC 3987 allows in an IRI.
bool isIriChar(char32_t c) {
    if (c < 0x10000)
        return (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFDCF) ||
               (c >= 0xFDF0 && c <= 0xFFEF);
    return (c & 0xFFFF) <= 0xFFFD && !(c >= 0xE0000 && c < 0xE1000);
}
bool isMastodonQueryChar(char32_t c) {
    return isAsciiAlnum(c) || MASTODON_QUERY_PUNCTUATION.has(c) || isIriChar(c);
}
bool isMastodonQueryEnd(char32_t c) {
    return isQueryEnd(c) || isIriChar(c);
}

// What sets one reading of links apart from the other.
struct LinkDialect {
    bool bareDomains;        // a domain without a scheme is a link
    bool utf16;              // lengths in UTF-16, the second half of a pair may begin a domain
    bool groupEndsAnywhere;  // a group in parentheses ends a path after any character
    bool (*isPathChar)(char32_t);
    bool (*isPathEnd)(char32_t);
    bool (*isQueryChar)(char32_t);
    bool (*isQueryEnd)(char32_t);
};
constexpr LinkDialect X_LINKS{true, true, false, isPathChar, isPathEnd, isQueryChar, isQueryEnd};
constexpr LinkDialect MASTODON_LINKS{false,
                                     false,
                                     true,
                                     isMastodonPathChar,
                                     isMastodonPathEnd,
                                     isMastodonQueryChar,
                                     isMastodonQueryEnd};

bool mayPrecede(char32_t c) {
    return !(isAsciiAlnum(c) || c == '@' || c == 0xFF20 || c == '$' || c == '#' || c == 0xFF03 ||
             isInvalid(c));
}

char32_t at(std::u32string_view text, std::size_t i) {
    return i < text.size() ? text[i] : 0;
}

bool startsWithIgnoringCase(std::u32string_view text, std::size_t i, const char* word) {
    for (std::size_t k = 0; word[k] != '\0'; ++k) {
        char32_t c = at(text, i + k);
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (c != static_cast<char32_t>(word[k])) return false;
    }
    return true;
}

// The end of the top-level domain that begins at `i`, the text taken to end at `end`; NONE when
// none does. A known domain must be followed by no ASCII letter, digit, "@", "+" or "-"; else an
// IDN's "xn--" form.
std::size_t topLevelDomainEnd(std::u32string_view text, std::size_t i, std::size_t end) {
    std::size_t found = NONE;
    for (std::size_t k = i + 1; k <= end && k - i <= LONGEST_DOMAIN; ++k) {
        if (!isDomainChar(text[k - 1])) break;
        const char32_t next = k < end ? text[k] : 0;
        if (isAsciiAlnum(next) || AFTER_DOMAIN_NOT_ENDING.has(next)) continue;
        if (isTopLevelDomain(encodeUtf8(text.substr(i, k - i)))) found = k;
    }
    if (found != NONE || !startsWithIgnoringCase(text, i, "xn--")) return found;
    std::size_t k = i + 4;
    while (k < end && (isAsciiAlnum(text[k]) || text[k] == '-')) ++k;
    return k > i + 4 ? k : NONE;
}

// The labels followed by a dot from `i` on: where each begins, and after the last dot.
std::vector<std::size_t> dottedLabels(std::u32string_view text, std::size_t i, std::size_t end,
                                      bool (*isLabelChar)(char32_t)) {
    std::vector<std::size_t> starts;
    for (;;) {
        std::size_t k = i;
        while (k < end && isLabelChar(text[k])) ++k;
        if (k == i || k >= end || text[k] != '.') break;
        starts.push_back(i);
        i = k + 1;
    }
    starts.push_back(i);
    return starts;
}

bool isDomainLabelChar(char32_t c) {
    return isDomainChar(c) || c == '_' || c == '-';
}

// A label of `first`..`last` (without its dot): a domain character at both ends, and "_" inside
// only where `underscore` allows it.
bool goodLabel(std::u32string_view text, std::size_t first, std::size_t last, bool underscore) {
    if (!isDomainChar(text[first]) || !isDomainChar(text[last])) return false;
    for (std::size_t k = first; k <= last; ++k)
        if (text[k] == '_' && !underscore) return false;
    return true;
}

// For each place of `text` (its end included), where the run of label characters there ends:
// read once, so that looking for a domain at every place of a long word (CJK has no blanks)
// costs no more than the word.
std::vector<std::size_t> labelRunEnds(std::u32string_view text) {
    std::vector<std::size_t> ends(text.size() + 1, text.size());
    for (std::size_t k = text.size(); k-- > 0;)
        ends[k] = isDomainLabelChar(text[k]) ? ends[k + 1] : k;
    return ends;
}

// The end of the domain that begins at `i`: labels and a known top-level domain, as many labels
// as can be taken. NONE when there is none. `runEnds` as labelRunEnds gives them.
std::size_t domainEnd(std::u32string_view text, const std::vector<std::size_t>& runEnds,
                      std::size_t i) {
    // Most words are no domain: no dot after their first label.
    const std::size_t firstDot = runEnds[i];
    if (firstDot == i || firstDot >= text.size() || text[firstDot] != '.') return NONE;
    const std::vector<std::size_t> starts = dottedLabels(text, i, text.size(), isDomainLabelChar);
    std::size_t goodSubdomains = 0;
    while (goodSubdomains + 1 < starts.size() &&
           goodLabel(text, starts[goodSubdomains], starts[goodSubdomains + 1] - 2, true))
        ++goodSubdomains;
    for (std::size_t labels = starts.size() - 1; labels >= 1; --labels) {
        if (labels - 1 > goodSubdomains) continue;
        if (!goodLabel(text, starts[labels - 1], starts[labels] - 2, false)) continue;
        const std::size_t end = topLevelDomainEnd(text, starts[labels], text.size());
        if (end != NONE) return end;
    }
    return NONE;
}

bool isAsciiDomainChar(char32_t c) {
    return isAsciiAlnum(c) || c == '-' || isLatinAccent(c);
}

// The domains of Latin letters within [begin, end): a link without a scheme is only counted
// where its domain has one.
std::vector<TextSpan> asciiDomains(std::u32string_view text, std::size_t begin, std::size_t end) {
    std::vector<TextSpan> found;
    for (std::size_t i = begin; i < end;) {
        const std::vector<std::size_t> starts = dottedLabels(text, i, end, isAsciiDomainChar);
        std::size_t domain = NONE;
        for (std::size_t labels = starts.size() - 1; labels >= 1 && domain == NONE; --labels)
            domain = topLevelDomainEnd(text, starts[labels], end);
        if (domain == NONE) {
            ++i;
            continue;
        }
        found.push_back({i, domain});
        i = domain;
    }
    return found;
}

// "(" path characters ")", or one more pair inside; the end after it, or NONE.
std::size_t balancedParens(std::u32string_view text, std::size_t i, const LinkDialect& d) {
    const auto pathCharsFrom = [&](std::size_t k) {
        while (k < text.size() && d.isPathChar(text[k])) ++k;
        return k;
    };
    std::size_t k = pathCharsFrom(i + 1);
    if (at(text, k) == ')' && k > i + 1) return k + 1;
    if (at(text, k) != '(') return NONE;
    const std::size_t inner = k + 1;
    k = pathCharsFrom(inner);
    if (at(text, k) != ')' || k == inner) return NONE;
    k = pathCharsFrom(k + 1);
    return at(text, k) == ')' ? k + 1 : NONE;
}

// The end of the path that begins with the "/" at `i`: never on a dot, comma or the like. In X's
// pattern a group in parentheses ends the path only right after an ending character or another
// group.
std::size_t pathEnd(std::u32string_view text, std::size_t i, const LinkDialect& d) {
    std::size_t end = i + 1;
    for (std::size_t k = i + 1; k < text.size();) {
        if (text[k] == '(') {
            const std::size_t group = balancedParens(text, k, d);
            if (group == NONE) break;
            if (d.groupEndsAnywhere || k == end) end = group;
            k = group;
        } else if (d.isPathChar(text[k])) {
            if (d.isPathEnd(text[k])) end = k + 1;
            ++k;
        } else {
            break;
        }
    }
    return end;
}

// The end of the query that begins with the "?" at `i`, or `i` when it ends on no character
// that may end it (a letter, digit or one of "-_&=#/").
std::size_t queryEnd(std::u32string_view text, std::size_t i, const LinkDialect& d) {
    std::size_t end = i;
    for (std::size_t k = i + 1; k < text.size() && d.isQueryChar(text[k]); ++k)
        if (d.isQueryEnd(text[k])) end = k + 1;
    return end;
}

// The service's own short links take no more path than their slug (of up to 40 letters and
// digits) and a query; any other link as it is.
std::size_t shortLinkEnd(std::u32string_view text, std::size_t domainBegin, std::size_t end,
                         const LinkDialect& d) {
    if (!startsWithIgnoringCase(text, domainBegin, "t.co/")) return end;
    std::size_t slugEnd = domainBegin + 5;
    while (slugEnd < end && isAsciiAlnum(text[slugEnd])) ++slugEnd;
    if (slugEnd == domainBegin + 5 || slugEnd - (domainBegin + 5) > 40) return NONE;
    if (at(text, slugEnd) == '?') slugEnd = std::min(queryEnd(text, slugEnd, d), end);
    return slugEnd;
}

// The length of a label in its ASCII form (RFC 3492's Punycode after "xn--" when it is not
// ASCII), or more than LONGEST_LABEL when that is surely longer.
std::size_t asciiLabelLength(std::u32string_view label) {
    std::size_t basic = 0;
    for (char32_t c : label) basic += c < 0x80 ? 1 : 0;
    if (basic == label.size()) return label.size();
    if (label.size() > LONGEST_LABEL) return LONGEST_LABEL + 1;  // at least "xn--" and a digit each
    const std::uint64_t base = 36, tMin = 1, tMax = 26;
    std::uint64_t n = 0x80, delta = 0, bias = 72;
    std::size_t length = 4 + basic + (basic > 0 ? 1 : 0), handled = basic;
    while (handled < label.size()) {
        std::uint64_t next = UINT64_MAX;
        for (char32_t c : label)
            if (c >= n) next = std::min<std::uint64_t>(next, c);
        delta += (next - n) * (handled + 1);
        n = next;
        for (char32_t c : label) {
            if (c < n) ++delta;
            if (c != n) continue;
            std::uint64_t q = delta;
            for (std::uint64_t k = base;; k += base) {
                const std::uint64_t t = k <= bias ? tMin : k >= bias + tMax ? tMax : k - bias;
                if (q < t) break;
                ++length;
                q = (q - t) / (base - t);
            }
            ++length;
            // Bias adaptation, RFC 3492 section 6.1.
            std::uint64_t d = handled == basic ? delta / 700 : delta / 2;
            d += d / (handled + 1);
            std::uint64_t k = 0;
            for (; d > ((base - tMin) * tMax) / 2; k += base) d /= base - tMin;
            bias = k + (base - tMin + 1) * d / (d + 38);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return length;
}

// Whether every label of the domain has 1 to 63 characters in its ASCII form, as the library's
// check asks.
bool labelsFit(std::u32string_view domain) {
    for (std::size_t begin = 0;;) {
        const std::size_t dot = domain.find('.', begin);
        const std::u32string_view label = domain.substr(begin, dot == NONE ? NONE : dot - begin);
        const std::size_t length = asciiLabelLength(label);
        if (length < 1 || length > LONGEST_LABEL) return false;
        if (dot == NONE) return true;
        begin = dot + 1;
    }
}

std::size_t utf16Length(std::u32string_view text) {
    std::size_t length = 0;
    for (char32_t c : text) length += c > 0xFFFF ? 2 : 1;
    return length;
}

// The link that begins at `start`, if any, into `links`; the place to look on from. `runEnds` as
// labelRunEnds gives them.
std::size_t linkAt(std::u32string_view text, const std::vector<std::size_t>& runEnds,
                   std::size_t start, std::size_t before, const LinkDialect& d,
                   std::vector<TextSpan>& links) {
    std::size_t scheme = 0;
    if (startsWithIgnoringCase(text, start, "https://"))
        scheme = 8;
    else if (startsWithIgnoringCase(text, start, "http://"))
        scheme = 7;
    const std::size_t domainBegin = start + scheme;
    const std::size_t domain = domainEnd(text, runEnds, domainBegin);
    if (domain == NONE) return NONE;
    std::size_t end = domain;
    if (at(text, end) == ':' && isDigit(at(text, end + 1)))
        for (++end; isDigit(at(text, end));) ++end;
    const std::size_t pathBegin = end;
    if (at(text, end) == '/') end = pathEnd(text, end, d);
    const bool hasPath = end > pathBegin;
    if (at(text, end) == '?') end = queryEnd(text, end, d);
    if (scheme == 0 && !d.bareDomains) return end;

    const std::u32string_view address = text.substr(start, end - start);
    const std::size_t length = (d.utf16 ? utf16Length(address) : address.size()) + (scheme ? 0 : 8);
    if (length > LONGEST_LINK || !labelsFit(text.substr(domainBegin, domain - domainBegin)))
        return end;
    if (scheme != 0) {
        const std::size_t linkEnd = shortLinkEnd(text, domainBegin, end, d);
        if (linkEnd != NONE) links.push_back({start, linkEnd});
        return end;
    }
    if (before != NONE && BEFORE_NO_BARE_DOMAIN.has(text[before])) return end;
    std::vector<TextSpan> domains = asciiDomains(text, domainBegin, domain);
    if (domains.empty()) return end;
    if (hasPath) domains.back().end = end;
    links.insert(links.end(), domains.begin(), domains.end());
    return end;
}

bool isLetterMarkOrDigit(char32_t c) {
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
        case UTF8PROC_CATEGORY_LU:
        case UTF8PROC_CATEGORY_LL:
        case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM:
        case UTF8PROC_CATEGORY_LO:
        case UTF8PROC_CATEGORY_MN:
        case UTF8PROC_CATEGORY_MC:
        case UTF8PROC_CATEGORY_ME:
        case UTF8PROC_CATEGORY_ND:
            return true;
        default:
            return false;
    }
}

// A tag's characters.
bool isWordChar(char32_t c) {
    return c == '_' || c == 0x200C || c == 0x200D || isLetterMarkOrDigit(c);
}

// What Ruby's regular expressions take for a word character, as the server reads mentions.
bool isRubyWordChar(char32_t c) {
    return isLetterMarkOrDigit(c) ||
           utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_PC;
}

bool isUserNameChar(char32_t c) {
    return isAsciiAlnum(c) || c == '_';
}

// The end of the run of `isChar` characters from `i`, runs of "." and "-" between them; `i` when
// none is there.
std::size_t dottedRunEnd(std::u32string_view text, std::size_t i, bool (*isChar)(char32_t)) {
    std::size_t end = i;
    for (std::size_t k = i;;) {
        const std::size_t first = k;
        while (k < text.size() && isChar(text[k])) ++k;
        if (k == first) return end;
        end = k;
        while (k < text.size() && (text[k] == '.' || text[k] == '-')) ++k;
        if (k == end) return end;
    }
}

}  // namespace

std::vector<TextSpan> findLinks(std::u32string_view text, LinkRules rules) {
    if (rules == LinkRules::Bluesky) return blueskySpans(text, BlueskyFacet::Kind::Link);
    const LinkDialect& d = rules == LinkRules::Mastodon ? MASTODON_LINKS : X_LINKS;
    std::vector<TextSpan> links;
    const std::vector<std::size_t> runEnds = labelRunEnds(text);
    // As the library's pattern is searched: a preceding character at `i` (taken with the link),
    // or the start of the text; the search goes on after the end of what matched.
    // X's library reads UTF-16: the second half of a character beyond U+FFFF may begin a domain.
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = NONE;
        if (d.utf16 && text[i] > 0xFFFF) end = linkAt(text, runEnds, i, i, d, links);
        if (end == NONE && mayPrecede(text[i])) end = linkAt(text, runEnds, i + 1, i, d, links);
        if (end == NONE && i == 0) end = linkAt(text, runEnds, 0, NONE, d, links);
        i = end == NONE ? i + 1 : end;
    }
    return links;
}

std::vector<TextSpan> findTags(std::u32string_view text, LinkRules rules) {
    if (rules == LinkRules::Bluesky) return blueskySpans(text, BlueskyFacet::Kind::Tag);
    std::vector<TextSpan> tags;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '#' && text[i] != 0xFF03) continue;
        if (i > 0 && (isWordChar(text[i - 1]) || text[i - 1] == '&')) continue;
        std::size_t end = i + 1;
        while (end < text.size() && isWordChar(text[end])) ++end;
        if (end == i + 1) continue;
        tags.push_back({i, end});
        i = end - 1;
    }
    return tags;
}

std::vector<Mention> findMentions(std::u32string_view text) {
    std::vector<Mention> mentions;
    // As the server's pattern is searched: on after the end of what matched, a mention or not.
    for (std::size_t i = 0; i < text.size();) {
        const bool mayBegin =
            text[i] == '@' &&
            (i == 0 || (text[i - 1] != '=' && text[i - 1] != '/' && !isRubyWordChar(text[i - 1])));
        const std::size_t nameEnd = mayBegin ? dottedRunEnd(text, i + 1, isUserNameChar) : i + 1;
        if (nameEnd == i + 1) {
            ++i;
            continue;
        }
        std::size_t end = nameEnd;
        if (at(text, end) == '@') {
            const std::size_t domainEnd = dottedRunEnd(text, end + 1, isRubyWordChar);
            if (domainEnd > end + 1) end = domainEnd;
        }
        const char32_t next = at(text, end);
        const bool runsOn = next == '@' || next == 0xFF20 || isLatinAccent(next) ||
                            startsWithIgnoringCase(text, end, "://");
        if (!runsOn) mentions.push_back({i, nameEnd, end});
        i = end;
    }
    return mentions;
}

TextLayout layOut(std::string_view text, LinkRules rules) {
    OffsetText decoded = decodeUtf8WithOffsets(text);
    TextLayout layout{std::move(decoded.codePoints), std::move(decoded.offsets), {}, {}, {}};
    layout.links = findLinks(layout.codePoints, rules);
    layout.bounds = rules == LinkRules::Bluesky ? blueskyClusterBounds(layout.codePoints)
                                                : clusterBounds(layout.codePoints);
    if (rules == LinkRules::Mastodon) layout.mentions = findMentions(layout.codePoints);
    return layout;
}
