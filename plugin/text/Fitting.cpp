#include "Fitting.h"

#include <algorithm>

#include "Links.h"
#include "TagRepair.h"
#include "Utf8.h"

namespace {

const char ELLIPSIS[] = "\u2026";

// A place where a text may be cut: after `clusters` grapheme clusters, at `byte`.
struct CutPoint {
    std::size_t clusters;
    std::size_t byte;
};

// The place `at` without the blanks before it, which a cut there drops.
std::size_t withoutBlanks(const TextLayout& layout, std::size_t at) {
    while (at > 0 && (layout.codePoints[at - 1] == ' ' || layout.codePoints[at - 1] == '\t')) --at;
    return at;
}

// Whether the network reads a "…" at `at` as part of `link`, which ends before it: a Mastodon
// server's paths take it, and the punctuation left out of the link before it.
bool ellipsisJoins(const TextLayout& layout, LinkRules rules, const TextSpan& link,
                   std::size_t at) {
    std::u32string probe = layout.codePoints.substr(link.begin, at - link.begin);
    probe += U'\u2026';
    const std::vector<TextSpan> read = findLinks(probe, rules);
    return !read.empty() && read.front().begin == 0 && read.front().end > at - link.begin;
}

// Every place between grapheme clusters that is not inside a link, a mention or a tag, the end
// included, and where a "…" would join no link.
std::vector<CutPoint> cutPoints(const TextLayout& layout, LinkRules rules) {
    std::vector<TextSpan> whole = layout.links;
    const std::vector<TextSpan> tags = findTags(layout.codePoints, rules);
    whole.insert(whole.end(), tags.begin(), tags.end());
    for (const Mention& mention : layout.mentions) whole.push_back({mention.begin, mention.end});
    std::sort(whole.begin(), whole.end(),
              [](const TextSpan& a, const TextSpan& b) { return a.begin < b.begin; });
    std::vector<CutPoint> cuts;
    std::size_t span = 0, reach = 0;  // the furthest end of the spans that begin before the place
    // The links before `settled` take no "…" at any later place: the first place after a link
    // where none joins it ends the checks, as what stops a link there stops it later too.
    std::size_t link = 0, settled = 0;
    for (std::size_t i = 0; i < layout.bounds.size(); ++i) {
        const std::size_t at = layout.bounds[i];
        for (; span < whole.size() && whole[span].begin < at; ++span)
            reach = std::max(reach, whole[span].end);
        if (reach > at) continue;
        const std::size_t kept = withoutBlanks(layout, at);
        while (link < layout.links.size() && layout.links[link].end <= kept) ++link;
        const bool last = i + 1 == layout.bounds.size();
        if (!last && link > settled) {
            if (ellipsisJoins(layout, rules, layout.links[link - 1], kept)) continue;
            settled = link;
        }
        cuts.push_back({i, layout.offsets[at]});
    }
    return cuts;
}

// Where the first `byte` bytes end without the blanks that end them.
std::size_t trimmedEnd(const std::string& text, std::size_t byte) {
    while (byte > 0 && (text[byte - 1] == ' ' || text[byte - 1] == '\t')) --byte;
    return byte;
}

// The first `byte` bytes without the blanks that end them, and "…".
std::string cutText(const std::string& text, std::size_t byte) {
    return text.substr(0, trimmedEnd(text, byte)) + ELLIPSIS;
}

// The largest of 0..last for which `fits` holds, given that it holds for 0 and not for `last`.
template <typename Fits>
std::size_t largestFitting(std::size_t last, const Fits& fits) {
    std::size_t low = 0, high = last;
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        (fits(middle) ? low : high) = middle;
    }
    return low;
}

// A part as fitting sees it: for a field, its length in grapheme clusters, its cut points and
// the measure's estimate of its length cut at each (without "…"); for any part, its length.
struct Piece {
    std::string text;
    bool field;
    std::size_t clusters = 0;
    std::vector<CutPoint> cuts;
    std::vector<std::size_t> cutLengths;
    std::size_t length = 0;

    Piece(std::string_view raw, bool isField, const TextMeasure& measure)
        : text(utf8OrWindows1252(raw)), field(isField) {
        if (!field) {
            length = measure.length(text);
            return;
        }
        const TextLayout layout = layOut(text, measure.linkRules());
        cuts = cutPoints(layout, measure.linkRules());
        clusters = cuts.empty() ? 0 : cuts.back().clusters;
        std::vector<std::size_t> ends;
        ends.reserve(cuts.size());
        for (const CutPoint& cut : cuts) ends.push_back(trimmedEnd(text, cut.byte));
        cutLengths = measure.prefixLengths(text, layout, ends);
        length = cutLengths.empty() ? 0 : cutLengths.back();
    }

    // The last cut point that leaves at most `most` - 1 clusters, room for "…".
    const CutPoint& cutFor(std::size_t most) const {
        const auto after = std::upper_bound(
            cuts.begin(), cuts.end(), most - 1,
            [](std::size_t wanted, const CutPoint& cut) { return wanted < cut.clusters; });
        return *std::prev(after);
    }

    // At most `most` clusters, "…" included; nothing for 0.
    std::string shortened(std::size_t most) const {
        if (!field || clusters <= most) return text;
        if (most == 0) return std::string();
        return cutText(text, cutFor(most).byte);
    }

    // The estimated length of shortened(most), "…" weighing `ellipsis`.
    std::size_t estimate(std::size_t most, std::size_t ellipsis) const {
        if (!field || clusters <= most) return length;
        if (most == 0) return 0;
        const std::size_t cut = static_cast<std::size_t>(&cutFor(most) - cuts.data());
        return cutLengths[cut] + ellipsis;
    }
};

}  // namespace

std::string fitAnnouncement(const std::vector<TextPart>& parts, const TextMeasure& measure) {
    // A character that spans two parts is read whole, not as the Windows-1252 bytes each part
    // alone would give: the text as composed, when it fits.
    const bool split = std::any_of(parts.begin(), parts.end(),
                                   [](const TextPart& part) { return !isValidUtf8(part.text); });
    if (std::string whole = joinParts(parts); split && isValidUtf8(whole) && measure.fits(whole))
        return whole;
    std::vector<Piece> pieces;
    std::size_t longest = 0;
    for (const TextPart& part : parts) {
        pieces.emplace_back(part.text, part.field, measure);
        longest = std::max(longest, pieces.back().clusters);
    }
    const auto withFieldsOf = [&pieces](std::size_t most) {
        std::string text;
        for (const Piece& piece : pieces) text += piece.shortened(most);
        return text;
    };
    std::string text = withFieldsOf(longest);
    if (measure.fits(text)) return text;

    // The cut the estimates choose, taken when a full count agrees with them; else (a link, an
    // emoji sequence or a normalisation across a part's end) the search by full counts.
    const std::size_t ellipsis = measure.length(ELLIPSIS);
    const auto estimated = [&](std::size_t most) {
        std::size_t total = 0;
        for (const Piece& piece : pieces) total += piece.estimate(most, ellipsis);
        return total;
    };
    const std::size_t limit = measure.limit();
    if (estimated(0) <= limit && estimated(longest) > limit) {
        const std::size_t most =
            largestFitting(longest, [&](std::size_t m) { return estimated(m) <= limit; });
        text = withFieldsOf(most);
        const std::size_t length = measure.length(text);
        if (length == estimated(most) && length <= limit) return text;
    }

    text = withFieldsOf(0);
    if (!measure.fits(text)) return cutToFit(text, measure);
    const std::size_t most =
        largestFitting(longest, [&](std::size_t m) { return measure.fits(withFieldsOf(m)); });
    return withFieldsOf(most);
}

std::string cutToFit(std::string_view raw, const TextMeasure& measure) {
    const std::string text = utf8OrWindows1252(raw);
    if (measure.fits(text)) return text;
    const std::vector<CutPoint> cuts =
        cutPoints(layOut(text, measure.linkRules()), measure.linkRules());
    if (!measure.fits(cutText(text, 0))) return std::string();
    const std::size_t cut = largestFitting(
        cuts.size() - 1, [&](std::size_t k) { return measure.fits(cutText(text, cuts[k].byte)); });
    return cutText(text, cuts[cut].byte);
}
