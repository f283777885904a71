#include "BlueskyText.h"

#include <utf8proc.h>

#include <algorithm>
#include <iterator>

#include "TopLevelDomains.h"
#include "Utf8.h"

namespace {

const std::size_t NONE = static_cast<std::size_t>(-1);
const std::size_t LONGEST_TAG = 64;
const std::size_t LONGEST_TICKER = 5;
const std::size_t BYTES_PER_GRAPHEME = BlueskyMeasure::MAX_BYTES / BlueskyMeasure::MAX_GRAPHEMES;

// Indic conjuncts (Unicode's InCB property, as the library's Unicode 17 has it): a consonant, then
// marks with at least one linker (a virama) among them, then a consonant are one cluster.
const char32_t LINKERS[] = {0x94D,   0x9CD,   0xACD,   0xB4D,   0xC4D,   0xD4D,  0x1039,
                            0x17D2,  0x1A60,  0x1B44,  0x1BAB,  0xA9C0,  0xAAF6, 0x10A3F,
                            0x11133, 0x113D0, 0x1193E, 0x11A47, 0x11A99, 0x11F42};
struct Range {
    char32_t first, last;
};
const Range CONSONANTS[] = {
    {0x915, 0x939},     {0x958, 0x95F},     {0x978, 0x97F},     {0x995, 0x9A8},
    {0x9AA, 0x9B0},     {0x9B2, 0x9B2},     {0x9B6, 0x9B9},     {0x9DC, 0x9DD},
    {0x9DF, 0x9DF},     {0x9F0, 0x9F1},     {0xA95, 0xAA8},     {0xAAA, 0xAB0},
    {0xAB2, 0xAB3},     {0xAB5, 0xAB9},     {0xAF9, 0xAF9},     {0xB15, 0xB28},
    {0xB2A, 0xB30},     {0xB32, 0xB33},     {0xB35, 0xB39},     {0xB5C, 0xB5D},
    {0xB5F, 0xB5F},     {0xB71, 0xB71},     {0xC15, 0xC28},     {0xC2A, 0xC39},
    {0xC58, 0xC5A},     {0xD15, 0xD3A},     {0x1000, 0x102A},   {0x103F, 0x103F},
    {0x1050, 0x1055},   {0x105A, 0x105D},   {0x1061, 0x1061},   {0x1065, 0x1066},
    {0x106E, 0x1070},   {0x1075, 0x1081},   {0x108E, 0x108E},   {0x1780, 0x17B3},
    {0x1A20, 0x1A54},   {0x1B0B, 0x1B0C},   {0x1B13, 0x1B33},   {0x1B45, 0x1B4C},
    {0x1B83, 0x1BA0},   {0x1BAE, 0x1BAF},   {0x1BBB, 0x1BBD},   {0xA989, 0xA98B},
    {0xA98F, 0xA9B2},   {0xA9E0, 0xA9E4},   {0xA9E7, 0xA9EF},   {0xA9FA, 0xA9FE},
    {0xAA60, 0xAA6F},   {0xAA71, 0xAA73},   {0xAA7A, 0xAA7A},   {0xAA7E, 0xAA7F},
    {0xAAE0, 0xAAEA},   {0xABC0, 0xABDA},   {0x10A00, 0x10A00}, {0x10A10, 0x10A13},
    {0x10A15, 0x10A17}, {0x10A19, 0x10A35}, {0x11103, 0x11126}, {0x11144, 0x11144},
    {0x11147, 0x11147}, {0x11380, 0x11389}, {0x1138B, 0x1138B}, {0x1138E, 0x1138E},
    {0x11390, 0x113B5}, {0x11900, 0x11906}, {0x11909, 0x11909}, {0x1190C, 0x11913},
    {0x11915, 0x11916}, {0x11918, 0x1192F}, {0x11A00, 0x11A00}, {0x11A0B, 0x11A32},
    {0x11A50, 0x11A50}, {0x11A5C, 0x11A83}, {0x11F04, 0x11F10}, {0x11F12, 0x11F33}};

bool isLinker(char32_t c) {
    return std::find(std::begin(LINKERS), std::end(LINKERS), c) != std::end(LINKERS);
}
bool isConsonant(char32_t c) {
    const auto after = std::upper_bound(std::begin(CONSONANTS), std::end(CONSONANTS), c,
                                        [](char32_t x, const Range& r) { return x < r.first; });
    return after != std::begin(CONSONANTS) && c <= std::prev(after)->last;
}
// What may stand between a conjunct's consonants: marks that extend a cluster (ZWJ too, not
// ZWNJ), the linkers among them.
bool joinsConjunct(char32_t c) {
    if (c == 0x200C) return false;
    const int boundclass = utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass;
    return boundclass == UTF8PROC_BOUNDCLASS_EXTEND || boundclass == UTF8PROC_BOUNDCLASS_ZWJ;
}
// Whether the cluster boundary before `i` lies inside a conjunct.
bool insideConjunct(std::u32string_view text, std::size_t i) {
    if (!isConsonant(text[i])) return false;
    bool linked = false;
    for (; i > 0 && joinsConjunct(text[i - 1]); --i) linked = linked || isLinker(text[i - 1]);
    return linked && i > 0 && isConsonant(text[i - 1]);
}

// JavaScript's blanks (\s), as the library's patterns read them.
bool isBlank(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}
// A tag ends at a blank or at one of these invisible separators.
bool endsTag(char32_t c) {
    return isBlank(c) || c == 0xAD || c == 0x2060 || c == 0x200B || c == 0x200C || c == 0x200D ||
           c == 0x20E2;
}
bool isPunctuation(char32_t c) {
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
        case UTF8PROC_CATEGORY_PC:
        case UTF8PROC_CATEGORY_PD:
        case UTF8PROC_CATEGORY_PS:
        case UTF8PROC_CATEGORY_PE:
        case UTF8PROC_CATEGORY_PI:
        case UTF8PROC_CATEGORY_PF:
        case UTF8PROC_CATEGORY_PO:
            return true;
        default:
            return false;
    }
}
bool isDigit(char32_t c) {
    return c >= '0' && c <= '9';
}
bool isUpper(char32_t c) {
    return c >= 'A' && c <= 'Z';
}
bool isLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || isUpper(c);
}
bool isAlnum(char32_t c) {
    return isLetter(c) || isDigit(c);
}

char32_t at(std::u32string_view text, std::size_t i) {
    return i < text.size() ? text[i] : 0;
}

// The first blank from `i` on, or the text's end.
std::size_t blankFrom(std::u32string_view text, std::size_t i) {
    while (i < text.size() && !isBlank(text[i])) ++i;
    return i;
}

// What a facet found in the text is, which says how its value is made.
enum class Form { Uri, BareDomain, HashTag, Cashtag };
struct Found {
    std::size_t begin, end;
    Form form;
};

// Whether a facet may begin at `i`: at the text's start, or after a blank (or, with `paren`, a
// "(") that no earlier match took (the library's patterns go on after the end of each match).
bool mayBegin(std::u32string_view text, std::size_t i, std::size_t searchedTo, bool paren) {
    if (i == 0) return true;
    const char32_t before = text[i - 1];
    return i - 1 >= searchedTo && (isBlank(before) || (paren && before == '('));
}

// The length of "http://" or "https://" at `i`, in any case; 0 when neither is there.
std::size_t schemeLength(std::u32string_view text, std::size_t i) {
    const char32_t http[] = U"http";
    for (std::size_t k = 0; k < 4; ++k) {
        char32_t c = at(text, i + k);
        if (isUpper(c)) c += 'a' - 'A';
        if (c != http[k]) return 0;
    }
    std::size_t k = i + 4;
    if (at(text, k) == 's' || at(text, k) == 'S') ++k;
    if (at(text, k) != ':' || at(text, k + 1) != '/' || at(text, k + 2) != '/') return 0;
    return k + 3 - i;
}

// The end of the domain that begins at `i`: a letter, letters and digits, then one or more dots
// each followed by letters and digits. NONE when there is none.
std::size_t domainEnd(std::u32string_view text, std::size_t i) {
    if (!isLetter(at(text, i))) return NONE;
    std::size_t k = i + 1, dots = 0;
    while (isAlnum(at(text, k))) ++k;
    while (at(text, k) == '.' && isAlnum(at(text, k + 1))) {
        for (k += 2; isAlnum(at(text, k));) ++k;
        ++dots;
    }
    return dots > 0 ? k : NONE;
}

// Whether the domain [begin, end) ends in a known top-level domain written in lower case.
bool knownDomain(std::u32string_view text, std::size_t begin, std::size_t end) {
    const std::u32string_view domain = text.substr(begin, end - begin);
    const std::u32string_view label = domain.substr(domain.rfind(U'.') + 1);
    return std::none_of(label.begin(), label.end(), isUpper) && isTopLevelDomain(encodeUtf8(label));
}

// A link's end without one trailing ".,;:!?", then without a ")" when the link has no "(".
std::size_t withoutTrailingPunctuation(std::u32string_view text, std::size_t begin,
                                       std::size_t end) {
    const std::u32string_view trailing = U".,;:!?";
    if (trailing.find(text[end - 1]) != std::u32string_view::npos) --end;
    const std::u32string_view link = text.substr(begin, end - begin);
    if (end > begin && text[end - 1] == ')' && link.find(U'(') == std::u32string_view::npos) --end;
    return end;
}

// Links run from where one may begin to the next blank: a scheme and anything, or a bare domain.
// The library takes a scheme in lower case only, and the network refuses a URI with nothing after
// "//" or a third "/" there; it takes a bare domain with a known top-level domain. What matched
// and was refused is passed over whole.
void findLinks(std::u32string_view text, std::vector<Found>& found) {
    std::size_t searchedTo = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!mayBegin(text, i, searchedTo, true)) continue;
        const std::size_t scheme = schemeLength(text, i);
        const bool withScheme =
            scheme != 0 && i + scheme < text.size() && !isBlank(text[i + scheme]);
        const std::size_t domain = withScheme ? NONE : domainEnd(text, i);
        if (!withScheme && domain == NONE) continue;
        const std::size_t matched = blankFrom(text, i);
        const std::size_t end = withoutTrailingPunctuation(text, i, matched);
        if (withScheme) {
            const bool lowerCase =
                text[i] == 'h' && text[i + 1] == 't' && text[i + 2] == 't' && text[i + 3] == 'p';
            if (lowerCase && end > i + scheme && text[i + scheme] != '/')
                found.push_back({i, end, Form::Uri});
        } else if (knownDomain(text, i, domain)) {
            found.push_back({i, end, Form::BareDomain});
        }
        searchedTo = matched;
        i = matched - 1;
    }
}

// "#" or "＃" where a facet may begin, then a run up to a blank or an invisible separator that
// does not begin with VS16 and holds more than digits and punctuation; its trailing punctuation
// is left out, and what is left may have at most 64 clusters.
void findHashTags(std::u32string_view text, std::vector<Found>& found) {
    std::size_t searchedTo = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((text[i] != '#' && text[i] != 0xFF03) || !mayBegin(text, i, searchedTo, false))
            continue;
        std::size_t run = i + 1;
        while (run < text.size() && !endsTag(text[run])) ++run;
        const std::u32string_view body = text.substr(i + 1, run - i - 1);
        const bool tag = !body.empty() && body.front() != 0xFE0F &&
                         std::any_of(body.begin(), body.end(),
                                     [](char32_t c) { return !isDigit(c) && !isPunctuation(c); });
        if (!tag) {
            searchedTo = i + 1;
            continue;
        }
        std::size_t end = run;
        while (isPunctuation(text[end - 1])) --end;
        if (blueskyClusterBounds(text.substr(i + 1, end - i - 1)).size() - 1 <= LONGEST_TAG)
            found.push_back({i, end, Form::HashTag});
        searchedTo = run;
        i = run - 1;
    }
}

// "$" where a facet may begin, a letter and up to 4 letters or digits, then a blank, the end or
// one of .,;:!?)"'’.
void findCashtags(std::u32string_view text, std::vector<Found>& found) {
    const std::u32string_view after = U".,;:!?)\"'\u2019";
    std::size_t searchedTo = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '$' || !mayBegin(text, i, searchedTo, true) || !isLetter(at(text, i + 1)))
            continue;
        std::size_t end = i + 2;
        while (isAlnum(at(text, end))) ++end;
        if (end - i - 1 > LONGEST_TICKER) continue;
        if (end < text.size() && !isBlank(text[end]) &&
            after.find(text[end]) == std::u32string_view::npos)
            continue;
        found.push_back({i, end, Form::Cashtag});
        searchedTo = end;
        i = end - 1;
    }
}

// Every facet of the text, in order; of two that overlap, the first.
std::vector<Found> findAll(std::u32string_view text) {
    std::vector<Found> found;
    findLinks(text, found);
    findHashTags(text, found);
    findCashtags(text, found);
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.begin < b.begin; });
    std::vector<Found> kept;
    for (const Found& f : found)
        if (kept.empty() || kept.back().end <= f.begin) kept.push_back(f);
    return kept;
}

BlueskyFacet::Kind kindOf(Form form) {
    return form == Form::Uri || form == Form::BareDomain ? BlueskyFacet::Kind::Link
                                                         : BlueskyFacet::Kind::Tag;
}

}  // namespace

std::vector<std::size_t> blueskyClusterBounds(std::u32string_view codePoints) {
    std::vector<std::size_t> bounds = clusterBounds(codePoints);
    bounds.erase(std::remove_if(bounds.begin() + 1, bounds.end() - 1,
                                [&](std::size_t i) { return insideConjunct(codePoints, i); }),
                 bounds.end() - 1);
    return bounds;
}

std::size_t blueskyGraphemes(std::string_view text) {
    return blueskyClusterBounds(decodeUtf8(text)).size() - 1;
}

std::size_t BlueskyMeasure::length(std::string_view text) const {
    return std::max(blueskyGraphemes(text),
                    (text.size() + BYTES_PER_GRAPHEME - 1) / BYTES_PER_GRAPHEME);
}

std::vector<std::size_t> BlueskyMeasure::prefixLengths(std::string_view, const TextLayout& layout,
                                                       const std::vector<std::size_t>& ends) const {
    std::vector<std::size_t> lengths;
    lengths.reserve(ends.size());
    for (const std::size_t end : ends) {
        const auto at = std::lower_bound(layout.offsets.begin(), layout.offsets.end(), end);
        const std::size_t place = static_cast<std::size_t>(at - layout.offsets.begin());
        const std::size_t clusters = static_cast<std::size_t>(
            std::lower_bound(layout.bounds.begin(), layout.bounds.end(), place) -
            layout.bounds.begin());
        lengths.push_back(std::max(clusters, (end + BYTES_PER_GRAPHEME - 1) / BYTES_PER_GRAPHEME));
    }
    return lengths;
}

std::vector<BlueskyFacet> findBlueskyFacets(std::string_view text) {
    const OffsetText decoded = decodeUtf8WithOffsets(text);
    std::vector<BlueskyFacet> facets;
    for (const Found& f : findAll(decoded.codePoints)) {
        const std::size_t start = decoded.offsets[f.begin], end = decoded.offsets[f.end];
        const std::string marked(text.substr(start, end - start));
        std::string value;
        switch (f.form) {
            case Form::Uri:
                value = marked;
                break;
            case Form::BareDomain:
                value = "https://" + marked;
                break;
            case Form::HashTag:
                value = marked.substr(decoded.offsets[f.begin + 1] - start);
                break;
            case Form::Cashtag:
                value = marked;
                for (char& c : value)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                break;
        }
        facets.push_back({start, end, kindOf(f.form), std::move(value)});
    }
    return facets;
}

std::vector<TextSpan> blueskySpans(std::u32string_view codePoints, BlueskyFacet::Kind kind) {
    std::vector<TextSpan> spans;
    for (const Found& f : findAll(codePoints))
        if (kindOf(f.form) == kind) spans.push_back({f.begin, f.end});
    return spans;
}
