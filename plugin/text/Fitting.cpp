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

// Every place between grapheme clusters that is not inside a link or a tag, the end included.
std::vector<CutPoint> cutPoints(std::string_view text) {
    const OffsetText decoded = decodeUtf8WithOffsets(text);
    std::vector<TextSpan> whole = findLinks(decoded.codePoints);
    const std::vector<TextSpan> tags = findTags(decoded.codePoints);
    whole.insert(whole.end(), tags.begin(), tags.end());
    const std::vector<std::size_t> bounds = clusterBounds(decoded.codePoints);
    std::vector<CutPoint> cuts;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const std::size_t at = bounds[i];
        const bool inside = std::any_of(whole.begin(), whole.end(), [at](const TextSpan& span) {
            return span.begin < at && at < span.end;
        });
        if (!inside) cuts.push_back({i, decoded.offsets[at]});
    }
    return cuts;
}

// The first `byte` bytes without the blanks that end them, and "…".
std::string cutText(const std::string& text, std::size_t byte) {
    std::size_t end = byte;
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(0, end) + ELLIPSIS;
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

// A part as fitting sees it: a field with its length in grapheme clusters and its cut points.
struct Piece {
    std::string text;
    bool field;
    std::size_t clusters = 0;
    std::vector<CutPoint> cuts;

    // At most `most` clusters, "…" included; nothing for 0.
    std::string shortened(std::size_t most) const {
        if (!field || clusters <= most) return text;
        if (most == 0) return std::string();
        const auto after = std::upper_bound(
            cuts.begin(), cuts.end(), most - 1,
            [](std::size_t wanted, const CutPoint& cut) { return wanted < cut.clusters; });
        return cutText(text, std::prev(after)->byte);
    }
};

}  // namespace

std::string fitAnnouncement(const std::vector<TextPart>& parts, const TextMeasure& measure) {
    std::vector<Piece> pieces;
    std::size_t longest = 0;
    for (const TextPart& part : parts) {
        Piece piece{utf8OrWindows1252(part.text), part.field, 0, {}};
        if (piece.field) {
            piece.cuts = cutPoints(piece.text);
            piece.clusters = clusterBounds(decodeUtf8(piece.text)).size() - 1;
            longest = std::max(longest, piece.clusters);
        }
        pieces.push_back(std::move(piece));
    }
    const auto withFieldsOf = [&pieces](std::size_t most) {
        std::string text;
        for (const Piece& piece : pieces) text += piece.shortened(most);
        return text;
    };
    std::string text = withFieldsOf(longest);
    if (measure.fits(text)) return text;
    text = withFieldsOf(0);
    if (!measure.fits(text)) return cutToFit(text, measure);
    const std::size_t most =
        largestFitting(longest, [&](std::size_t m) { return measure.fits(withFieldsOf(m)); });
    return withFieldsOf(most);
}

std::string cutToFit(std::string_view raw, const TextMeasure& measure) {
    const std::string text = utf8OrWindows1252(raw);
    if (measure.fits(text)) return text;
    const std::vector<CutPoint> cuts = cutPoints(text);
    if (!measure.fits(cutText(text, 0))) return std::string();
    const std::size_t cut = largestFitting(
        cuts.size() - 1, [&](std::size_t k) { return measure.fits(cutText(text, cuts[k].byte)); });
    return cutText(text, cuts[cut].byte);
}
