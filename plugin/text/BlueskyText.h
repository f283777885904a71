#ifndef TRACKPOST_TEXT_BLUESKY_TEXT_H
#define TRACKPOST_TEXT_BLUESKY_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Links.h"
#include "TextMeasure.h"

// Bluesky's text as its official client library (RichText) reads it: a post takes at most 300
// grapheme clusters and 3000 UTF-8 bytes, and its links and tags are only clickable when the post
// carries them as facets, spans of UTF-8 bytes.

// The grapheme clusters of `text` as Bluesky counts them (Unicode's current rules, with Indic
// conjuncts whole). Bytes that are not UTF-8 count as U+FFFD.
std::size_t blueskyGraphemes(std::string_view text);

// Where the grapheme clusters of `codePoints` begin as Bluesky reads them, its size last:
// clusterBounds' places less those inside an Indic conjunct.
std::vector<std::size_t> blueskyClusterBounds(std::u32string_view codePoints);

class BlueskyMeasure : public TextMeasure {
  public:
    static constexpr std::size_t MAX_GRAPHEMES = 300;
    static constexpr std::size_t MAX_BYTES = 3000;

    // The larger of the grapheme clusters and a tenth of the bytes (rounded up): within 300
    // exactly when both limits are kept.
    std::size_t length(std::string_view text) const override;
    std::size_t limit() const override { return MAX_GRAPHEMES; }
    LinkRules linkRules() const override { return LinkRules::Bluesky; }
    // From the layout's clusters: exact for cuts between grapheme clusters.
    std::vector<std::size_t> prefixLengths(std::string_view, const TextLayout& layout,
                                           const std::vector<std::size_t>& ends) const override;
};

// A link or a tag as a post's facet: bytes [byteStart, byteEnd) of the text. `value` is the
// link's URI ("https://" before a bare domain) or the tag without its "#" ("$" and the ticker in
// capitals for a cashtag).
struct BlueskyFacet {
    std::size_t byteStart, byteEnd;
    enum class Kind { Link, Tag } kind;
    std::string value;
};

// The links and tags of `text` as the client library detects them: in order, never overlapping
// (of two that do, the first, as the app shows them).
//  - Links begin the text or follow a blank or "(" and run to the next blank: "http://" or
//    "https://" and anything, or a bare domain of ASCII labels whose top-level domain is known
//    (in lower case). One trailing ".,;:!?" is left out, then a ")" when the link has no "(".
//  - Tags begin the text or follow a blank: "#" or "＃" and a run up to a blank or an invisible
//    separator, not all digits and punctuation, its trailing punctuation left out; at most 64
//    grapheme clusters. Cashtags: "$" and a letter and up to 4 letters or digits, followed by a
//    blank, the end or one of .,;:!?)"'’.
// Where this differs from the library: a link it would give a URI the network refuses
// ("http:///x", "https://." or "httpbin.org" without a scheme) is read as a bare domain or not
// at all.
std::vector<BlueskyFacet> findBlueskyFacets(std::string_view text);

// The facets' spans in code points, for fitting; `kind` selects links or tags.
std::vector<TextSpan> blueskySpans(std::u32string_view codePoints, BlueskyFacet::Kind kind);

#endif
