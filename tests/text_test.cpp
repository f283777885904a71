// Texts as the networks take them: X's weighted count (against the service's own library where
// scripts/setup installed it), Mastodon's count, fitting an announcement, the composition's
// parts, tag repair.
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "Fitting.h"
#include "Links.h"
#include "MastodonLength.h"
#include "TagRepair.h"
#include "TopLevelDomains.h"
#include "TweetComposer.h"
#include "Utf8.h"
#include "XLength.h"
#include "twitter_text_oracle.h"

namespace {

const std::string ELLIPSIS = u8"\u2026";

struct CountCase {
    const char* name;
    const char* text;
    std::size_t weight;  // as twitter-text 3.1.0 counts it
};

const CountCase COUNT_CASES[] = {
    {"plain ASCII", u8"Now playing Daft Punk - One More Time", 37},
    {"CJK weighs 2", u8"\u65e5\u672c\u8a9e\u306e\u30bf\u30a4\u30c8\u30eb", 16},
    {"Hangul syllables weigh 2", u8"\ud55c\uad6d\uc5b4 \uc81c\ubaa9", 11},
    {"NFC joins e and its accent", u8"Cafe\u0301 del Mar", 12},
    {"light punctuation ranges", u8"\u2026\u2014\u2019\u2032\u2037", 6},
    {"edges of the ranges", u8"\u10ff\u1100\u200d\u200e\u201f\u2020\u2031\u2038", 13},
    {"emoji", u8"\U0001f600", 2},
    {"skin tone", u8"\U0001f44d\U0001f3fd", 2},
    {"ZWJ family", u8"\U0001f468\u200d\U0001f469\u200d\U0001f467", 2},
    {"two flags", u8"\U0001f1ef\U0001f1f5\U0001f1e9\U0001f1ea", 4},
    {"keycaps", u8"1\ufe0f\u20e3#\ufe0f\u20e3", 4},
    {"copyright alone and as emoji", u8"\u00a9 \u00a9\ufe0f", 4},
    {"rainbow flag", u8"\U0001f3f3\ufe0f\u200d\U0001f308", 2},
    {"subdivision flag", u8"\U0001f3f4\U000e0067\U000e0062\U000e0073\U000e0063\U000e0074\U000e007f",
     2},
    {"dangling joiner", u8"\u2122\u200d", 3},
    {"https link", u8"https://example.com", 23},
    {"link with path and query", u8"http://example.com/path/to?x=1&y=2", 23},
    {"long link",
     u8"https://example.com/a-very-long-path/that/goes/on/and/on/and/on/for/ever/and/ever/"
     u8"index.html",
     23},
    {"bare domain", u8"example.com", 23},
    {"bare domain with path", u8"www.example.co.uk/a_b", 23},
    {"trailing punctuation left out", u8"Listen at example.com/dj, then dance.", 46},
    {"newer TLDs", u8"foo.museum and bar.tokyo", 51},
    {"IDN TLD", u8"foo.\u307f\u3093\u306a", 23},
    {"unknown TLD", u8"example.comx", 12},
    {"mail address", u8"user@example.com", 16},
    {"after $ or #", u8"$example.com #example.com", 25},
    {"after a hyphen", u8"-example.com", 12},
    {"port", u8"example.com:8080/p", 23},
    {"service short link", u8"https://t.co/abc", 23},
    {"parentheses in a path", u8"(see example.org/wiki/Foo_(bar))", 29},
    {"parentheses after a non-ending character", u8"example.com/p&(Extended)", 34},
    {"IDN domain with scheme", u8"https://\u4f8b\u3048.jp/\u30d1\u30b9", 27},
    {"bare domain after CJK", u8"\u65e5\u672cexample.com", 27},
    {"query without path", u8"example.com?q=1", 27},
    {"template with tag and link", u8"Now playing #Spinforge https://mix.example/dj", 45},
    {"emoji right before a domain", u8"\U0001f600-example.com", 25},
    {"empty", u8"", 0},
};

TEST(XWeightedLength, Table) {
    for (const CountCase& c : COUNT_CASES) EXPECT_EQ(xWeightedLength(c.text), c.weight) << c.name;
}

TEST(XWeightedLength, NotUtf8CountsAsReplacementCharacters) {
    EXPECT_EQ(xWeightedLength("a\xff\xfe"
                              "b"),
              6u);  // U+FFFD weighs 2
}

TEST(TopLevelDomains, FromThePublicSuffixList) {
    EXPECT_GT(TOP_LEVEL_DOMAIN_COUNT, 1000u);
    for (const char* known : {"com", "COM", "jp", "museum", "tokyo", u8"\u307f\u3093\u306a"})
        EXPECT_TRUE(isTopLevelDomain(known)) << known;
    for (const char* unknown : {"comx", "example", "", "co.uk"})
        EXPECT_FALSE(isTopLevelDomain(unknown)) << unknown;
}

TEST(Nfc, TheQuickCheckPassesNothingThatNormalisationChanges) {
    // Every code point the check passes is its own NFC, and of every canonical decomposition
    // (what NFC composes again, where it does) some part after the first fails it.
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const std::u32string one(1, c);
        if (isSurelyNfc(one)) {
            ASSERT_EQ(nfc(encodeUtf8(one)), one) << std::hex << c;
        }
        utf8proc_int32_t parts[8];
        int lastBoundClass = 0;
        const utf8proc_ssize_t n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), parts,
                                                           8, UTF8PROC_DECOMPOSE, &lastBoundClass);
        if (n < 2) continue;
        std::u32string decomposed;
        for (utf8proc_ssize_t k = 0; k < n; ++k) decomposed += static_cast<char32_t>(parts[k]);
        EXPECT_FALSE(isSurelyNfc(decomposed)) << std::hex << c;
    }
    EXPECT_TRUE(isSurelyNfc(U"Caf\u00e9 \u6771\u4eac \U0001f600 \uac00"));
    EXPECT_FALSE(isSurelyNfc(U"Cafe\u0301"));
    EXPECT_FALSE(isSurelyNfc(U"\u1100\u1161"));
}

// Texts as DJs write them: pieces of CJK, accents (composed and not), emoji sequences, links with
// and without a scheme and tags (and `more`), between blanks and punctuation.
std::vector<std::string> generatedTexts(std::size_t count,
                                        const std::vector<std::string>& more = {}) {
    std::vector<std::string> pieces = {"Now playing",
                                       "Mix",
                                       "(Extended)",
                                       "feat.",
                                       "&",
                                       u8"\u65e5\u672c\u8a9e",
                                       u8"\u6771\u4eac",
                                       u8"\ud55c\uad6d\uc5b4",
                                       u8"\u00fcn\u00efc\u00f6d\u00e9",
                                       u8"Cafe\u0301",
                                       u8"A\u030a",
                                       u8"\u1100\u1161",
                                       u8"\U0001f600",
                                       u8"\U0001f44d\U0001f3fd",
                                       u8"\U0001f468\u200d\U0001f469\u200d\U0001f467",
                                       u8"\U0001f1ef\U0001f1f5",
                                       u8"1\ufe0f\u20e3",
                                       u8"\u00a9",
                                       u8"\u00a9\ufe0f",
                                       u8"\u2122",
                                       u8"\u2764\ufe0f",
                                       u8"\U0001f3f3\ufe0f\u200d\U0001f308",
                                       u8"\U0001f469\U0001f3fd\u200d\U0001f4bb",
                                       "https://example.com",
                                       "http://example.com/path/to?x=1&y=2",
                                       "example.com",
                                       "www.example.co.uk/a_b",
                                       "foo.jp",
                                       "https://t.co/abc",
                                       "a.b.c.museum",
                                       "foo.com.",
                                       "(see example.org/wiki/Foo_(bar))",
                                       "x.com/",
                                       "bit.ly/3xYz",
                                       "user@example.com",
                                       "example.comx",
                                       "EXAMPLE.COM",
                                       "example.com:8080/p",
                                       u8"https://\u4f8b\u3048.jp/\u30d1\u30b9",
                                       "example.com?q=1",
                                       "#tag",
                                       "#Spinforge",
                                       u8"\u2026",
                                       u8"\u2014",
                                       u8"\u2019",
                                       u8"\u2032",
                                       u8"\u00df",
                                       u8"\u03a9",
                                       u8"\u3000",
                                       u8"\u00a0"};
    pieces.insert(pieces.end(), more.begin(), more.end());
    const std::vector<std::string> between = {" ", " ", ", ", " - ", "\n", ": ", "! ", " / "};
    std::mt19937 random(20261211);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
        std::string text;
        const std::size_t length = 1 + random() % 14;
        for (std::size_t k = 0; k < length; ++k) {
            if (k > 0) text += between[random() % between.size()];
            text += pieces[random() % pieces.size()];
        }
        texts.push_back(text);
    }
    return texts;
}

TEST(XWeightedLength, AgreesWithTwitterText) {
    if (!twitterTextInstalled()) GTEST_SKIP() << TWITTER_TEXT_MISSING;
    std::vector<std::string> texts = generatedTexts(1500);
    for (const CountCase& c : COUNT_CASES) texts.push_back(c.text);
    const std::vector<std::size_t> expected = countedByTwitterText(texts);
    ASSERT_EQ(expected.size(), texts.size()) << "node gave no count for every text";
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(xWeightedLength(texts[i]), expected[i]) << nlohmann::json(texts[i]).dump();
}

TEST(TagRepair, Cases) {
    struct Case {
        const char *name, *field, *repaired;
    } cases[] = {
        {"UTF-8 unchanged", u8"Caf\u00e9 \u65e5\u672c", u8"Caf\u00e9 \u65e5\u672c"},
        {"Windows-1252", "Caf\xe9 \x93quoted\x94 \x80 \x85",
         u8"Caf\u00e9 \u201cquoted\u201d \u20ac \u2026"},
        {"an undefined Windows-1252 byte is a control",
         "a\x81"
         "b\xe9",
         u8"a b\u00e9"},
        {"line ends and tabs", "line one\r\nline two\tend", "line one line two end"},
        {"runs of blanks, ends trimmed", u8"  a \u00a0 \u3000b\u2028c  ", "a b c"},
        {"C1 controls and DEL", u8"a\u0085b\u007fc", "a b c"},
        {"byte order mark", u8"\ufeffTitle", "Title"},
        {"nothing left", " \t\r\n ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(repairTag(c.field), c.repaired) << c.name;
    EXPECT_EQ(repairTag(std::string("a\0b", 3)), "a b");
    EXPECT_TRUE(isValidUtf8(repairTag("\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x90\x28\xbc")));
}

std::string q(const char* field) {
    return std::string("deck active get_loaded_song '") + field + "'";
}

std::vector<TextPart> compose(const std::string& tmpl, std::map<std::string, std::string> track) {
    return composeParts(tmpl, [&](const char* query) { return track[query]; });
}

TEST(ComposeParts, WordsAndFieldsApart) {
    const auto parts = compose("Now playing %ARTIST% - %TITLE% #Spinforge",
                               {{q("title"), "Strobe"}, {q("artist"), "Deadline"}});
    ASSERT_EQ(parts.size(), 5u);
    const std::vector<std::pair<std::string, bool>> expected = {{"Now playing ", false},
                                                                {"Deadline", true},
                                                                {" - ", false},
                                                                {"Strobe", true},
                                                                {" #Spinforge", false}};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].text, expected[i].first);
        EXPECT_EQ(parts[i].field, expected[i].second);
    }
    // A token inside a value is replaced in it, and what is left of the value stays a field.
    const auto nested = compose("%TITLE%!", {{q("title"), "by %ARTIST%"}, {q("artist"), "X"}});
    ASSERT_EQ(nested.size(), 3u);
    EXPECT_EQ(nested[0].text, "by ");
    EXPECT_TRUE(nested[0].field);
    EXPECT_EQ(nested[1].text, "X");
    EXPECT_TRUE(nested[1].field);
    EXPECT_FALSE(nested[2].field);
}

// Fields as fitting leaves them: the text between the words, in order.
std::vector<std::string> fieldsOf(const std::string& fitted,
                                  const std::vector<std::string>& words) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::size_t found = fitted.find(words[i], at);
        if (found == std::string::npos) return {};
        if (i > 0) fields.push_back(fitted.substr(at, found - at));
        at = found + words[i].size();
    }
    return fields;
}

std::size_t clusters(const std::string& text) {
    return clusterBounds(decodeUtf8(text)).size() - 1;
}

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// A template of words around two fields.
std::vector<TextPart> announcement(const std::string& first, const std::string& second,
                                   const std::string& link = "https://example.com/dj") {
    return {{"Now playing ", false},
            {first, true},
            {" - ", false},
            {second, true},
            {" " + link + " #Spinforge", false}};
}

TEST(FitAnnouncement, FitsUnchanged) {
    const XMeasure x;
    EXPECT_EQ(fitAnnouncement(announcement("Deadline", "Strobe"), x),
              "Now playing Deadline - Strobe https://example.com/dj #Spinforge");
    EXPECT_EQ(fitAnnouncement({}, x), "");
}

TEST(FitAnnouncement, ShortensTheLongestFieldFirstAndKeepsTheWords) {
    const XMeasure x;
    const std::string link = "https://example.com/" + repeat("very-long-path/", 20);
    const std::vector<std::string> words = {"Now playing ", " - ", " " + link + " #Spinforge"};
    struct Case {
        const char* name;
        std::string first, second;
    } cases[] = {
        {"a long title", "Deadline", repeat("Strobe ", 60)},
        {"a long artist", repeat("Artist ", 60), "Strobe"},
        {"both long", repeat("Artist ", 50), repeat("Title ", 70)},
        {"CJK title", "Deadline", repeat(u8"\u6771\u4eac\u306e\u591c ", 80)},
        {"emoji sequences", repeat(u8"\U0001f468\u200d\U0001f469\u200d\U0001f467e\u0301 ", 90),
         repeat(u8"\U0001f1ef\U0001f1f5", 150)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fitted = fitAnnouncement(announcement(c.first, c.second, link), x);
        EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT);
        EXPECT_GE(xWeightedLength(fitted), XMeasure::LIMIT - 8) << "fields cut more than needed";
        EXPECT_TRUE(isValidUtf8(fitted));
        const std::vector<std::string> fields = fieldsOf(fitted, words);
        ASSERT_EQ(fields.size(), 2u) << fitted;
        const std::string originals[] = {c.first, c.second};
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string& field = fields[i];
            if (field == originals[i]) continue;
            // Cut between clusters, ending in "…", at least 8 characters.
            ASSERT_GE(field.size(), ELLIPSIS.size());
            EXPECT_EQ(field.substr(field.size() - ELLIPSIS.size()), ELLIPSIS);
            const std::string kept = field.substr(0, field.size() - ELLIPSIS.size());
            EXPECT_EQ(originals[i].compare(0, kept.size(), kept), 0);
            EXPECT_EQ(clusters(originals[i].substr(0, kept.size())) + 1, clusters(field));
            EXPECT_GE(clusters(field), 8u);
            // The other field, when cut too, is no shorter by more than its last cluster.
            const std::string& other = fields[1 - i];
            if (other != originals[1 - i])
                EXPECT_LE(clusters(field), clusters(other) + 1);
            else
                EXPECT_LT(clusters(other), clusters(originals[i]));
        }
    }
}

TEST(FitAnnouncement, FieldsGoBelowEightOnlyWhenAllAreThere) {
    const XMeasure x;
    const std::string words(262, 'w');
    const std::vector<TextPart> parts = {{words, false}, {repeat("a", 50), true},
                                         {"|", false},   {repeat("b", 50), true},
                                         {"|", false},   {"c", true}};
    const std::string fitted = fitAnnouncement(parts, x);
    // "…" weighs 2 on X. Both long fields at 8 characters would make 283: both go down to 6,
    // the short one stays whole.
    EXPECT_EQ(fitted, words + "aaaaa" + ELLIPSIS + "|bbbbb" + ELLIPSIS + "|c");
    EXPECT_EQ(xWeightedLength(fitted), 279u);
}

TEST(FitAnnouncement, NeverCutsInsideALinkOrATag) {
    const XMeasure x;
    const std::string field = repeat("Intro ", 30) + "https://example.com/" + repeat("x", 300) +
                              " #LongTagForTheSet" + repeat(" Outro", 30);
    const std::string fitted = fitAnnouncement({{"Playing ", false}, {field, true}}, x);
    EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT);
    const std::string link = "https://example.com/" + repeat("x", 300);
    if (fitted.find("https://") != std::string::npos) {
        EXPECT_NE(fitted.find(link), std::string::npos) << fitted;
    }
    if (fitted.find("#Long") != std::string::npos) {
        EXPECT_NE(fitted.find("#LongTagForTheSet"), std::string::npos) << fitted;
    }
}

TEST(FitAnnouncement, WordsAlonePastTheLimitCutTheEnd) {
    const XMeasure x;
    const std::string words = repeat(u8"\u6771\u4eac ", 100);  // 300 by weight
    const std::string fitted = fitAnnouncement({{words, false}, {"Title", true}}, x);
    EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT);
    EXPECT_GE(xWeightedLength(fitted), XMeasure::LIMIT - 3);
    EXPECT_EQ(fitted.substr(fitted.size() - ELLIPSIS.size()), ELLIPSIS);
    EXPECT_EQ(fitted.find("Title"), std::string::npos);
    EXPECT_EQ(words.compare(0, fitted.size() - ELLIPSIS.size(),
                            fitted.substr(0, fitted.size() - ELLIPSIS.size())),
              0);
}

// A network's count with estimates that are never right, so that fitting takes its search by full
// counts.
template <typename Measure>
class Unestimated : public Measure {
  public:
    using Measure::Measure;
    std::vector<std::size_t> prefixLengths(std::string_view, const TextLayout&,
                                           const std::vector<std::size_t>& ends) const override {
        return std::vector<std::size_t>(ends.size(), 0);
    }
};

// A network's count that tells how often it counted a long text.
template <typename Measure>
class Counting : public Measure {
  public:
    using Measure::Measure;
    std::size_t length(std::string_view text) const override {
        if (text.size() > 100) ++longCounts;
        return Measure::length(text);
    }
    mutable std::size_t longCounts = 0;
};

// Announcements past the limit from the generated texts. Apart: words with a blank at each end
// of a field, texts in a field apart, none of them "example.comx" (cut after its "m", a link):
// where the estimates of cuts are right. Else the words may join what is around them (a link,
// an emoji sequence or an accent across a part's end) and texts in a field run together.
std::vector<std::vector<TextPart>> generatedAnnouncements(
    std::size_t count, bool apart, const std::vector<std::string>& more = {}) {
    std::vector<std::string> texts;
    for (const std::string& text : generatedTexts(count * 6, more))
        if (!apart || text.find("comx") == std::string::npos) texts.push_back(text);
    const std::vector<std::string> words =
        apart ? std::vector<std::string>{"Now playing ",
                                         " - ",
                                         " ",
                                         " https://example.com/dj #Spinforge ",
                                         " (",
                                         ") "}
              : std::vector<std::string>{"Now playing ",       " - ",       "",       ".com/", "#",
                                         u8"\u200d\U0001f469", u8"\u0301 ", "example"};
    std::mt19937 random(20261212);
    std::vector<std::vector<TextPart>> announcements;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<TextPart> parts;
        for (std::size_t k = 0; k < 3; ++k) {
            parts.push_back({words[random() % words.size()], false});
            std::string field;
            for (std::size_t n = random() % 6; n > 0; --n)
                field += texts[random() % texts.size()] + (apart ? " " : "");
            parts.push_back({field, true});
        }
        parts.push_back({words[random() % words.size()], false});
        announcements.push_back(parts);
    }
    return announcements;
}

TEST(FitAnnouncement, WhereTheEstimatesAreRightTheCutIsTheOneFullCountsFind) {
    const XMeasure x;
    const Unestimated<XMeasure> searched;
    for (const auto& parts : generatedAnnouncements(400, true)) {
        const std::string fitted = fitAnnouncement(parts, x);
        EXPECT_EQ(fitted, fitAnnouncement(parts, searched)) << nlohmann::json(joinParts(parts));
        EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT);
    }
}

TEST(FitAnnouncement, WhereTheyAreWrongTheTextStillFits) {
    const XMeasure x;
    for (const auto& parts : generatedAnnouncements(400, false)) {
        const std::string fitted = fitAnnouncement(parts, x);
        EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT) << nlohmann::json(joinParts(parts));
        EXPECT_TRUE(isValidUtf8(fitted));
    }
}

TEST(FitAnnouncement, ALongAnnouncementTakesTwoFullCounts) {
    // One finds that it passes the limit, one confirms the estimated cut.
    const char* const titles[] = {
        u8"Mix \u6771\u4eac \U0001f468\u200d\U0001f469 ",
        u8"Cafe\u0301 A\u030a \u1100\u1161 ",  // decomposed: joined by normalisation
        u8"#Tag example.com/p \U0001f1ef\U0001f1f5 1\ufe0f\u20e3 ",
    };
    for (const char* title : titles) {
        const Counting<XMeasure> x;
        const std::string fitted = fitAnnouncement(announcement("Deadline", repeat(title, 40)), x);
        EXPECT_LE(xWeightedLength(fitted), XMeasure::LIMIT) << title;
        EXPECT_EQ(x.longCounts, 2u) << title;
    }
}

TEST(CutToFit, Cases) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t limit;
        std::string cut;
    } cases[] = {
        {"fits", "abc", 3, "abc"},
        {"cut with the blank before it dropped", "abc def", 6, "abc" + ELLIPSIS},
        {"never inside a cluster", u8"ab\U0001f468\u200d\U0001f469\u200d\U0001f467", 19,
         "ab" + ELLIPSIS},
        {"never inside a link", "see example.com/abc", 18, "see" + ELLIPSIS},
        {"never inside a tag", "a #tagged", 8, "a" + ELLIPSIS},
        {"room only for the mark", "abcdef", 3, ELLIPSIS},
        {"no room at all", "abcdef", 2, ""},
        {"not UTF-8 read as Windows-1252", "caf\xe9", 10, u8"caf\u00e9"},
    };
    for (const Case& c : cases) EXPECT_EQ(cutToFit(c.text, ByteMeasure(c.limit)), c.cut) << c.name;
}

struct MastodonCase {
    const char* name;
    const char* text;
    std::size_t length;  // as a Mastodon server counts it
};

const MastodonCase MASTODON_CASES[] = {
    {"plain ASCII", u8"Now playing Daft Punk - One More Time", 37},
    {"CJK counts 1 each", u8"\u65e5\u672c\u8a9e\u306e\u30bf\u30a4\u30c8\u30eb", 8},
    {"Hangul jamo make one syllable", u8"\u1100\u1161\u11a8", 1},
    {"a combining mark counts with its letter", u8"Cafe\u0301 del Mar", 12},
    {"stacked marks", u8"a\u0301\u0323b", 2},
    {"emoji", u8"\U0001f600", 1},
    {"skin tone", u8"\U0001f44d\U0001f3fd", 1},
    {"ZWJ family", u8"\U0001f468\u200d\U0001f469\u200d\U0001f467", 1},
    {"ZWJ sequence with a skin tone", u8"\U0001f469\U0001f3fd\u200d\U0001f4bb", 1},
    {"two flags", u8"\U0001f1ef\U0001f1f5\U0001f1e9\U0001f1ea", 2},
    {"keycap", u8"1\ufe0f\u20e3", 1},
    {"https link", u8"https://example.com", 23},
    {"long link with a query",
     u8"http://example.com/a-very-long-path/that/goes/on/and/on/and/on/for/ever/index.html?x=1&y=2",
     23},
    {"path with trailing punctuation", u8"Listen at https://example.com/dj/set-1, then dance.", 46},
    {"path of any script", u8"https://example.com/\u6771\u4eac/\u591c", 23},
    {"parentheses in a path", u8"(https://example.com/wiki/Foo_(bar))", 25},
    {"query with a character beyond ASCII", u8"https://example.com/?q=\u00fc", 23},
    {"scheme in capitals", u8"HTTPS://EXAMPLE.COM/DJ", 23},
    {"a mark after a link joins what stands for it", u8"https://example.com\u0301", 23},
    {"a path takes a following ellipsis", u8"https://example.com/dj\u2026", 23},
    {"bare domain is plain text", u8"example.com", 11},
    {"bare domain with a path", u8"www.example.co.uk/a_b", 21},
    {"unknown top-level domain", u8"https://example.comx", 20},
    {"scheme after a letter", u8"xhttps://example.com", 20},
    {"mention counts without its domain", u8"@dj@mastodon.social", 3},
    {"local mention", u8"@dj", 3},
    {"mention in a sentence", u8"Now playing with @dj@mastodon.social!", 21},
    {"dotted user name", u8"@d.j@example.com", 4},
    {"a dot after the domain is text", u8"@dj@mastodon.social.", 4},
    {"mail address is no mention", u8"dj@mastodon.social", 18},
    {"none after =", u8"a=@dj@mastodon.social", 21},
    {"none followed by @", u8"@dj@mastodon.social@x", 21},
    {"mention in a link's path", u8"https://mastodon.social/@dj", 23},
    {"emoji, mention and link", u8"\U0001f3a7 @dj@mastodon.social https://example.com/dj", 29},
    {"empty", u8"", 0},
};

TEST(MastodonLength, Table) {
    for (const MastodonCase& c : MASTODON_CASES)
        EXPECT_EQ(mastodonLength(c.text), c.length) << c.name;
    EXPECT_EQ(mastodonLength("a\xff\xfe"
                             "b"),
              4u);  // each a U+FFFD
}

TEST(MastodonMeasure, TheServersLimits) {
    const MastodonMeasure standard;
    EXPECT_EQ(standard.limit(), 500u);
    EXPECT_TRUE(standard.fits(std::string(500, 'a')));
    EXPECT_FALSE(standard.fits(std::string(501, 'a')));
    // 4,019 characters of links, 479 to the server.
    std::string links = "https://example.com/" + std::string(180, 'p');
    for (int i = 1; i < 20; ++i) links += " https://example.com/" + std::string(180, 'p');
    EXPECT_EQ(standard.length(links), 479u);

    const MastodonMeasure other(1000, 30);
    EXPECT_EQ(other.limit(), 1000u);
    EXPECT_EQ(other.length("https://example.com a"), 32u);
    EXPECT_EQ(MastodonMeasure(10, 0).length("a https://example.com b"), 4u);
}

TEST(MastodonFit, CutToFitCases) {
    const std::string link = "https://example.com/" + repeat("x", 200);
    const std::string family = u8"\U0001f468\u200d\U0001f469\u200d\U0001f467";
    struct Case {
        const char* name;
        std::string text;
        std::size_t limit;
        std::string cut;
    } cases[] = {
        {"a ZWJ sequence counts 1, never split", "ab" + family + "cd", 4, "ab" + family + ELLIPSIS},
        {"a link counts 23, never cut", "see " + link + " and more", 30,
         "see " + link + " a" + ELLIPSIS},
        {"no mark right after a link, whose path would take it", "see " + link + " and more", 28,
         "see" + ELLIPSIS},
        {"nor after the punctuation the link left out", "see " + link + ", more", 29,
         "see" + ELLIPSIS},
        {"a bare domain cut like words", "visit example.com/abc now", 10, "visit exa" + ELLIPSIS},
        {"a mention never cut, its domain free", "hi @dj@mastodon.social there", 7,
         "hi @dj@mastodon.social" + ELLIPSIS},
        {"nor cut to another user's name", "hi @djcollective", 7, "hi" + ELLIPSIS},
        {"a tag never cut", "a #tagged", 8, "a" + ELLIPSIS},
        {"a mark stays with its letter", u8"Cafe\u0301 del Mar", 5, u8"Cafe\u0301" + ELLIPSIS},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cutToFit(c.text, MastodonMeasure(c.limit)), c.cut) << c.name;
}

// The text of each span, for comparing what a fitted text holds with what its parts held.
std::vector<std::string> spanTexts(const std::u32string& codePoints,
                                   const std::vector<TextSpan>& spans) {
    std::vector<std::string> texts;
    for (const TextSpan& span : spans)
        texts.push_back(encodeUtf8(codePoints.substr(span.begin, span.end - span.begin)));
    return texts;
}

// Links, mentions and tags as a Mastodon server reads them.
std::vector<std::string> mastodonEntities(const std::string& text) {
    const std::u32string codePoints = decodeUtf8(text);
    std::vector<TextSpan> spans = findLinks(codePoints, LinkRules::Mastodon);
    for (const Mention& m : findMentions(codePoints)) spans.push_back({m.begin, m.end});
    const std::vector<TextSpan> tags = findTags(codePoints);
    spans.insert(spans.end(), tags.begin(), tags.end());
    return spanTexts(codePoints, spans);
}

TEST(MastodonFit, SmallLimitsKeepLinksMentionsTagsAndClustersWhole) {
    const std::vector<std::string> words = {"Now playing ", " - ", " #Spinforge"};
    const std::vector<std::pair<std::string, std::string>> fields = {
        {u8"Daft Punk \U0001f468\u200d\U0001f469\u200d\U0001f467 @dj@mastodon.social",
         u8"One More Time https://example.com/\u6771\u4eac/set-1, #FrenchHouse Cafe\u0301 "
         u8"\U0001f44d\U0001f3fd"},
        {u8"\u65e5\u672c\u8a9e\u306e\u30bf\u30a4\u30c8\u30eb https://example.com/(live)",
         u8"@someone (https://example.org/wiki/Foo_(bar)) example.com/bare \U0001f1ef\U0001f1f5"},
    };
    for (const auto& [first, second] : fields) {
        const std::vector<TextPart> parts = {
            {words[0], false}, {first, true}, {words[1], false}, {second, true}, {words[2], false}};
        const std::vector<std::string> whole = mastodonEntities(joinParts(parts));
        // From the words alone to one short of the whole text.
        for (std::size_t limit = 26; limit < mastodonLength(joinParts(parts)); ++limit) {
            SCOPED_TRACE(limit);
            const std::string fitted = fitAnnouncement(parts, MastodonMeasure(limit));
            EXPECT_LE(mastodonLength(fitted), limit);
            for (const std::string& entity : mastodonEntities(fitted))
                EXPECT_NE(std::find(whole.begin(), whole.end(), entity), whole.end())
                    << entity << " in " << fitted;
            const std::vector<std::string> cut = fieldsOf(fitted, words);
            ASSERT_EQ(cut.size(), 2u) << fitted;
            const std::string originals[] = {first, second};
            for (std::size_t i = 0; i < 2; ++i) {
                if (cut[i] == originals[i] || cut[i].empty()) continue;
                ASSERT_GE(cut[i].size(), ELLIPSIS.size());
                const std::string kept = cut[i].substr(0, cut[i].size() - ELLIPSIS.size());
                EXPECT_EQ(cut[i].substr(kept.size()), ELLIPSIS);
                ASSERT_EQ(originals[i].compare(0, kept.size(), kept), 0) << cut[i];
                const std::vector<std::size_t> bounds = clusterBounds(decodeUtf8(originals[i]));
                EXPECT_TRUE(
                    std::binary_search(bounds.begin(), bounds.end(), decodeUtf8(kept).size()))
                    << "a cluster split: " << cut[i];
            }
        }
    }
}

// Mastodon's links and mentions among the generated pieces.
const std::vector<std::string> MASTODON_PIECES = {"@dj@mastodon.social",
                                                  "@dj",
                                                  "dj@example.com",
                                                  "https://mastodon.social/@dj",
                                                  u8"https://example.com/\u6771\u4eac",
                                                  "https://example.com/dj/set-1,",
                                                  "(https://example.com/wiki/Foo_(bar))"};

TEST(MastodonFit, WhereTheEstimatesAreRightTheCutIsTheOneFullCountsFind) {
    const MastodonMeasure mastodon(200);
    const Unestimated<MastodonMeasure> searched(200);
    for (const auto& parts : generatedAnnouncements(400, true, MASTODON_PIECES)) {
        const std::string fitted = fitAnnouncement(parts, mastodon);
        EXPECT_EQ(fitted, fitAnnouncement(parts, searched)) << nlohmann::json(joinParts(parts));
        EXPECT_LE(mastodonLength(fitted), 200u);
    }
}

TEST(MastodonFit, WhereTheyAreWrongTheTextStillFits) {
    const MastodonMeasure mastodon(200);
    for (const auto& parts : generatedAnnouncements(400, false, MASTODON_PIECES)) {
        const std::string fitted = fitAnnouncement(parts, mastodon);
        EXPECT_LE(mastodonLength(fitted), 200u) << nlohmann::json(joinParts(parts));
        EXPECT_TRUE(isValidUtf8(fitted));
    }
}

TEST(MastodonFit, ALongAnnouncementTakesTwoFullCounts) {
    const char* const titles[] = {
        u8"Mix \u6771\u4eac \U0001f468\u200d\U0001f469 ",
        u8"Cafe\u0301 A\u030a \u1100\u1161 ",
        u8"@dj@mastodon.social https://example.com/\u6771\u4eac \U0001f1ef\U0001f1f5 ",
        u8"#Tag example.com/p 1\ufe0f\u20e3 @dj ",
    };
    for (const char* title : titles) {
        const Counting<MastodonMeasure> mastodon;
        const std::string fitted =
            fitAnnouncement(announcement("Deadline", repeat(title, 60)), mastodon);
        EXPECT_LE(mastodonLength(fitted), MastodonMeasure::MAX_CHARACTERS) << title;
        EXPECT_EQ(mastodon.longCounts, 2u) << title;
    }
}

}  // namespace
