// Bluesky's texts: the facets that make links and tags clickable and the grapheme count, against
// the official client library where scripts/setup installed it; the measure's two limits; fitting
// that keeps links and tags whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BlueskyText.h"
#include "Fitting.h"
#include "Utf8.h"
#include "bluesky_oracle.h"

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string FAMILY = u8"\U0001f468\u200d\U0001f469\u200d\U0001f467\u200d\U0001f466";  // 25 B

nlohmann::json asJson(const std::vector<BlueskyFacet>& facets) {
    nlohmann::json out = nlohmann::json::array();
    for (const BlueskyFacet& f : facets)
        out.push_back({{"byteStart", f.byteStart},
                       {"byteEnd", f.byteEnd},
                       {"kind", f.kind == BlueskyFacet::Kind::Link ? "link" : "tag"},
                       {"value", f.value}});
    return out;
}

// The library's facets as the app shows them: one that begins inside an earlier one is passed over
// (a link after a "(" inside a tag, a cashtag inside a link).
nlohmann::json asShown(const nlohmann::json& facets) {
    nlohmann::json shown = nlohmann::json::array();
    for (const nlohmann::json& facet : facets)
        if (shown.empty() || shown.back()["byteEnd"] <= facet["byteStart"]) shown.push_back(facet);
    return shown;
}

// Texts whose facets and grapheme count the library decides.
const char* const ORACLE_TEXTS[] = {
    // links with a scheme, bare domains, known and unknown top-level domains
    u8"Now playing Daft Punk - One More Time https://example.com/track?id=1&t=2",
    u8"http://example.com and HTTPS://EXAMPLE.COM and Https://example.com",
    u8"listen at example.com/mix, www.example.co.uk and mix.fm!",
    u8"foo.notatld bar.comx baz.museum qux.tokyo x.io.",
    u8"Example.COM example.Com EXAMPLE.com",
    u8"1example.com e1.com a.b.c.d.com a..com a.com.",
    u8"user@example.com $example.com -example.com _example.com",
    u8"https://example.com/path/to/page.html?x=1#frag",
    u8"https://example",
    u8"https://x.y/z...",
    u8"see example.com:8080/p",
    u8"foo.bar-baz.com and foo-bar.com",
    u8"https://\u4f8b\u3048.jp/\u30d1\u30b9 \u4f8b\u3048.jp",
    // trailing punctuation and parentheses
    u8"(see example.com) and (https://en.example.org/wiki/Foo_(bar)) then example.com).",
    u8"example.com, example.com; example.com: example.com! example.com? example.com.. x",
    u8"example.com/(x) example.com/x) (example.com/(a)b) foo(example.com",
    u8"https://example.com/\u2026 and example.com\u2026 and \u201cexample.com\u201d",
    u8"x (example.com)(more) [example.com] {example.com}",
    // tags
    u8"#DJ #techno #1 #123abc #abc123 #_ #\u00e9t\u00e9 #caf\u00e9",
    u8"#tag! #tag... #tag's #rock'n'roll #a-b #a_b #!a #12.5 #...",
    u8"word#tag (#paren) \"#quoted\" ##double #\u200btag #ta\u200bg #\ufe0ftag",
    u8"\uff03\u5168\u89d2 \uff03\u30bf\u30b0\u3067\u3059 #\u65e5\u672c\u8a9e #\ud55c\uad6d\uc5b4",
    u8"#aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa "
    u8"#bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
    u8"#\U0001f600 #\U0001f468\u200d\U0001f469\u200d\U0001f467 #a\U0001f44d\U0001f3fd "
    u8"#1\ufe0f\u20e3",
    u8"line\n#tag\t#tab\u3000#ideographic\u00a0#nbsp",
    u8"#tag.com example.com#frag https://x.com/#tag #a(example.com) example.com/($ABC)",
    // cashtags
    u8"$AAPL $tsla. ($GOOG) $ABCDEF $A1 $1A $ab\u2019s x$ABC #$ #$ab #$5 #\u20ac",
    // CJK, emoji, combining marks
    u8"\u65e5\u672c\u8a9e\u306e\u30bf\u30a4\u30c8\u30eb example.com \u65e5\u672cexample.com",
    u8"\U0001f1ef\U0001f1f5\U0001f1e9\U0001f1ea "
    u8"\U0001f44d\U0001f3fd\U0001f3f3\ufe0f\u200d\U0001f308",
    u8"Cafe\u0301 del Mar - Sigur Ro\u0301s \u1100\u1161\u11a8 e\u0301\u0302\u0303",
    u8"\u0915\u094d\u0937\u0924\u094d\u0930\u093f\u092f \u0928\u092e\u0938\u094d\u0924\u0947 "
    u8"\u0d15\u0d4d\u0d37 \u0995\u09cd\u200d\u09b7",
    u8"\U0001f3f4\U000e0067\U000e0062\U000e0073\U000e0063\U000e0074\U000e007f 1\ufe0f\u20e3",
    u8"",
    u8"Now playing #Spinforge https://mix.example/dj - \U0001f3b5 Artist \u2013 Title (Remix)",
};

// Where the plug-in reads a text otherwise than the library, on purpose: the library would give
// these links URIs that the network's record validation refuses, and a post with them fails.
struct DifferenceCase {
    const char* name;
    const char* text;
    std::vector<std::string> values;
};
const DifferenceCase DIFFERENCES[] = {
    {"a bare domain beginning with http gets a scheme too",
     u8"httpbin.org/get",
     {"https://httpbin.org/get"}},
    {"and needs a known top-level domain", u8"httpfoo.notatld", {}},
    {"nothing after the scheme", u8"http://. https://)", {}},
    {"a third slash", u8"http:///example.com", {}},
};

// Whether clusters of Unicode `version` ("15.1") keep Indic conjuncts whole: from 15.1 on.
bool conjunctsWhole(const std::string& version) {
    int major = 0, minor = 0;
    std::sscanf(version.c_str(), "%d.%d", &major, &minor);
    return major > 15 || (major == 15 && minor >= 1);
}

bool hasIndicVirama(const std::string& text) {
    for (const char* virama :
         {u8"\u094d", u8"\u09cd", u8"\u0acd", u8"\u0b4d", u8"\u0c4d", u8"\u0d4d"})
        if (text.find(virama) != std::string::npos) return true;
    return false;
}

TEST(BlueskyFacets, AgreeWithTheClientLibrary) {
    if (!blueskyLibraryInstalled()) GTEST_SKIP() << BLUESKY_LIBRARY_MISSING;
    std::vector<std::string> texts(std::begin(ORACLE_TEXTS), std::end(ORACLE_TEXTS));
    // Long texts: the byte offsets far into a text, and a tag of 64 and 65 emoji.
    texts.push_back(repeat(FAMILY, 150) + " #" + repeat(u8"\U0001f600", 64) + " example.com");
    texts.push_back("#" + repeat(u8"\U0001f600", 65) + " #" + repeat("\u00e9", 70));
    const std::vector<nlohmann::json> read = readByBlueskyLibrary(texts);
    ASSERT_EQ(read.size(), texts.size()) << "node failed";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(asJson(findBlueskyFacets(texts[i])), asShown(read[i]["facets"])) << texts[i];
        // An engine before Unicode 15.1 (Debian's node 18) splits Indic conjuncts, which the app's
        // engines keep whole, as the plug-in does.
        if (conjunctsWhole(read[i].value("unicode", "")) || !hasIndicVirama(texts[i])) {
            EXPECT_EQ(blueskyGraphemes(texts[i]), read[i]["graphemes"].get<std::size_t>())
                << texts[i];
        }
    }
}

TEST(BlueskyFacets, OffsetsAndValues) {
    const std::string text =
        u8"\u65e5\u672c #\u30bf\u30b0! \uff03DJ (example.com/x). https://a.io/(b) $ab";
    const std::vector<BlueskyFacet> facets = findBlueskyFacets(text);
    ASSERT_EQ(facets.size(), 5u);
    const std::vector<std::string> values = {u8"\u30bf\u30b0", "DJ", "https://example.com/x",
                                             "https://a.io/(b)", "$AB"};
    const std::vector<std::string> marked = {u8"#\u30bf\u30b0", u8"\uff03DJ", "example.com/x",
                                             "https://a.io/(b)", "$ab"};
    for (std::size_t i = 0; i < facets.size(); ++i) {
        EXPECT_EQ(facets[i].value, values[i]);
        EXPECT_EQ(text.substr(facets[i].byteStart, facets[i].byteEnd - facets[i].byteStart),
                  marked[i]);
    }
    EXPECT_EQ(facets[0].byteStart, 7u);  // after two CJK characters and a blank
}

TEST(BlueskyFacets, WhereThePlugInDiffersFromTheLibrary) {
    for (const DifferenceCase& c : DIFFERENCES) {
        std::vector<std::string> values;
        for (const BlueskyFacet& f : findBlueskyFacets(c.text)) values.push_back(f.value);
        EXPECT_EQ(values, c.values) << c.name;
    }
}

TEST(BlueskyFacets, BytesThatAreNotUtf8) {
    // Each bad byte reads as U+FFFD: no blank, so no tag after one; kept as it is in a value.
    const std::string text = "\xff#t\xc3g \xe2\x82 example.com/\x80 \xf0\x9f #9\xfe";
    const std::vector<BlueskyFacet> facets = findBlueskyFacets(text);
    ASSERT_EQ(facets.size(), 2u);
    EXPECT_EQ(facets[0].byteStart, 9u);
    EXPECT_EQ(facets[0].value, "https://example.com/\x80");
    EXPECT_EQ(facets[1].byteStart, 26u);
    EXPECT_EQ(facets[1].value, "9\xfe");
}

struct MeasureCase {
    const char* name;
    std::string text;
    std::size_t length;
    bool fits;
};

TEST(BlueskyMeasure, BothLimits) {
    const MeasureCase cases[] = {
        {"300 letters", std::string(300, 'a'), 300, true},
        {"301 letters", std::string(301, 'a'), 301, false},
        {"300 families: within the clusters, over the bytes", repeat(FAMILY, 300), 750, false},
        {"3000 bytes exactly", repeat(FAMILY, 120), 300, true},
        {"3001 bytes", repeat(FAMILY, 120) + "a", 301, false},
        {"a cluster of several code points counts once", u8"e\u0301\u0302", 1, true},
        {"an Indic conjunct is one cluster", u8"\u0915\u094d\u0937", 1, true},
        {"flags, two each", u8"\U0001f1ef\U0001f1f5\U0001f1e9\U0001f1ea", 2, true},
        {"empty", "", 0, true},
    };
    const BlueskyMeasure measure;
    for (const MeasureCase& c : cases) {
        EXPECT_EQ(measure.length(c.text), c.length) << c.name;
        EXPECT_EQ(measure.fits(c.text), c.fits) << c.name;
    }
}

TEST(BlueskyMeasure, PrefixLengthsAreTheLengthsOfThePrefixes) {
    const std::string text = repeat(FAMILY, 130) + u8" \u0915\u094d\u0937 abc #tag e\u0301";
    const BlueskyMeasure measure;
    const TextLayout layout = layOut(text, measure.linkRules());
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < layout.bounds.size(); i += 7)
        ends.push_back(layout.offsets[layout.bounds[i]]);
    const std::vector<std::size_t> lengths = measure.prefixLengths(text, layout, ends);
    ASSERT_EQ(lengths.size(), ends.size());
    for (std::size_t i = 0; i < ends.size(); ++i)
        EXPECT_EQ(lengths[i], measure.length(text.substr(0, ends[i]))) << ends[i];
}

// The facets of a fitted text are facets of the fields it came from, whole.
void expectWholeFacets(const std::string& fitted, const std::vector<std::string>& sources,
                       const char* name) {
    for (const BlueskyFacet& f : findBlueskyFacets(fitted)) {
        bool whole = false;
        for (const std::string& source : sources)
            for (const BlueskyFacet& g : findBlueskyFacets(source)) whole |= g.value == f.value;
        EXPECT_TRUE(whole) << name << ": " << f.value << " in " << fitted;
    }
}

struct FitCase {
    const char* name;
    std::vector<TextPart> parts;
    const char* kept;  // what the fitted text must hold
};

TEST(BlueskyFit, WithinBothLimitsAndNoLinkOrTagCut) {
    const std::string longTitle = repeat("la ", 120);
    const FitCase cases[] = {
        {"a link where the cut would fall",
         {{"Now playing ", false},
          {"DJ Example", true},
          {" - ", false},
          {repeat("x", 270) + " https://example.com/a-long/path/to/a/mix?id=12345 more", true}},
         "Now playing DJ Example - "},
        {"a tag where the cut would fall",
         {{"Now playing ", false}, {repeat("y", 280) + " #verylongtagname rest", true}},
         "Now playing "},
        {"a bare domain and a tag among the words",
         {{"#nowplaying ", false},
          {longTitle + "mix.example.com/set " + longTitle, true},
          {" on radio.example.org", false}},
         " on radio.example.org"},
        {"emoji reach the bytes before the clusters",
         {{"Now playing ", false},
          {repeat(FAMILY, 150), true},
          {" - ", false},
          {repeat(FAMILY, 100) + " #tag", true}},
         "Now playing "},
        {"CJK with a fullwidth tag",
         {{"\u266b ", false},
          {repeat(u8"\u97f3\u697d", 200) + u8" \uff03\u30bf\u30b0\u30bf\u30b0 \u3042", true}},
         u8"\u266b "},
    };
    const BlueskyMeasure measure;
    for (const FitCase& c : cases) {
        std::vector<std::string> fields;
        for (const TextPart& part : c.parts) fields.push_back(part.text);
        const std::string fitted = fitAnnouncement(c.parts, measure);
        EXPECT_TRUE(measure.fits(fitted)) << c.name;
        EXPECT_LE(fitted.size(), BlueskyMeasure::MAX_BYTES) << c.name;
        EXPECT_LE(blueskyGraphemes(fitted), BlueskyMeasure::MAX_GRAPHEMES) << c.name;
        EXPECT_NE(fitted.find(c.kept), std::string::npos) << c.name;
        EXPECT_NE(fitted.find(u8"\u2026"), std::string::npos) << c.name;
        expectWholeFacets(fitted, {joinParts(c.parts)}, c.name);
    }
}

TEST(BlueskyFit, CutToFitKeepsLinksAndTagsWhole) {
    const BlueskyMeasure measure;
    for (std::size_t pad = 250; pad < 300; pad += 3) {
        for (const std::string& tail :
             {std::string(" https://example.com/abcdefghijklmnopqrstuvwxyz"),
              std::string(" #abcdefghijklmn"), std::string(" example.com/abcdefghijk."),
              std::string(" $ABC and more"),
              // longer than X's reading: a tag past an apostrophe, a path of CJK
              std::string(" #rock'n'roll-forever"),
              std::string(u8" https://example.com/\u65e5\u672c\u8a9e\u306e\u66f2")}) {
            const std::string text = std::string(pad, 'z') + tail;
            const std::string fitted = cutToFit(text, measure);
            EXPECT_TRUE(measure.fits(fitted)) << text;
            expectWholeFacets(fitted, {text}, "cutToFit");
        }
    }
    // Past the bytes: 300 families come back as 119 and "…" (2975 + 3 bytes).
    const std::string fitted = cutToFit(repeat(FAMILY, 300), measure);
    EXPECT_EQ(fitted, repeat(FAMILY, 119) + u8"\u2026");
}

}  // namespace
