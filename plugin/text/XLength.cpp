#include "XLength.h"

#include <utf8proc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Links.h"
#include "Utf8.h"

namespace {

const std::size_t LINK_WEIGHT = 23;
const std::size_t EMOJI_WEIGHT = 2;

std::size_t codePointWeight(char32_t c) {
    const bool light = c <= 0x10FF || (c >= 0x2000 && c <= 0x200D) ||
                       (c >= 0x2010 && c <= 0x201F) || (c >= 0x2032 && c <= 0x2037);
    return light ? 1 : 2;
}

bool isPictographic(char32_t c) {
    const int bound = utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass;
    return bound == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC ||
           bound == UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR;
}

// What may follow an emoji within its sequence: another (after a joiner, or a flag's second
// letter), a skin tone, a joiner before another, the emoji presentation selector, a keycap or a
// tag letter.
bool continuesEmoji(std::u32string_view cluster, std::size_t i) {
    const char32_t c = cluster[i];
    if (c == 0x200D) return i + 1 < cluster.size() && isPictographic(cluster[i + 1]);
    return isPictographic(c) || (c >= 0x1F3FB && c <= 0x1F3FF) || c == 0xFE0F || c == 0x20E3 ||
           (c >= 0xE0020 && c <= 0xE007F);
}

// A cluster of more than one code point that is one emoji: a pictograph, or a keycap's digit,
// "#" or "*", followed only by what continues an emoji.
bool isEmojiSequence(std::u32string_view cluster) {
    if (cluster.size() < 2) return false;
    const char32_t first = cluster[0];
    const bool keycap = (first >= '0' && first <= '9') || first == '#' || first == '*';
    if (keycap && cluster.find(0x20E3) == std::u32string_view::npos) return false;
    if (!keycap && !isPictographic(first)) return false;
    for (std::size_t i = 1; i < cluster.size(); ++i)
        if (!continuesEmoji(cluster, i)) return false;
    return true;
}

// Calls `weigh(end, weight)` for each link, emoji sequence and other code point of
// `codePoints` in order, `end` being the index after it; `links` and `bounds` are theirs, as
// findLinks and clusterBounds give them.
template <typename Weigh>
void forEachWeight(std::u32string_view codePoints, const std::vector<TextSpan>& links,
                   const std::vector<std::size_t>& bounds, const Weigh& weigh) {
    std::size_t link = 0, cluster = 0;
    for (std::size_t i = 0; i < codePoints.size();) {
        if (link < links.size() && links[link].begin == i) {
            i = links[link++].end;
            weigh(i, LINK_WEIGHT);
            continue;
        }
        while (bounds[cluster + 1] <= i) ++cluster;
        const std::size_t clusterEnd = bounds[cluster + 1];
        const bool clearOfLinks = link == links.size() || clusterEnd <= links[link].begin;
        if (bounds[cluster] == i && clearOfLinks &&
            isEmojiSequence(codePoints.substr(i, clusterEnd - i))) {
            i = clusterEnd;
            weigh(i, EMOJI_WEIGHT);
            continue;
        }
        const std::size_t weight = codePointWeight(codePoints[i++]);
        weigh(i, weight);
    }
}

// Normalisation joins code points within a grapheme cluster (an accent with its letter), so a
// cluster outside links weighs what it weighs alone once normalised. `upTo` as xPrefixWeights
// has it, taken to these weights; inside a cluster, the weight of what precedes it.
void normaliseClusters(const TextLayout& layout, std::vector<std::size_t>& upTo) {
    const std::u32string_view codePoints = layout.codePoints;
    std::size_t link = 0, gained = 0, lost = 0, walkedBegin = upTo[0];
    for (std::size_t c = 0; c + 1 < layout.bounds.size(); ++c) {
        const std::size_t begin = layout.bounds[c], end = layout.bounds[c + 1];
        const std::size_t walkedEnd = upTo[end];
        while (link < layout.links.size() && layout.links[link].end <= begin) ++link;
        const bool inLink = link < layout.links.size() && layout.links[link].begin < end;
        const std::u32string_view cluster = codePoints.substr(begin, end - begin);
        if (!inLink && !isSurelyNfc(cluster)) {
            gained += xWeightedLength(encodeUtf8(cluster));
            lost += walkedEnd - walkedBegin;
        }
        for (std::size_t j = begin + 1; j < end; ++j) upTo[j] = upTo[begin];
        upTo[end] = walkedEnd + gained - lost;
        walkedBegin = walkedEnd;
    }
}

}  // namespace

std::size_t xWeightedLength(std::string_view text) {
    const std::u32string codePoints = nfc(text);
    std::size_t weight = 0;
    forEachWeight(codePoints, findLinks(codePoints), clusterBounds(codePoints),
                  [&weight](std::size_t, std::size_t w) { weight += w; });
    return weight;
}

std::vector<std::size_t> xPrefixWeights(const TextLayout& layout,
                                        const std::vector<std::size_t>& ends) {
    // Up to each code point: the weight of what ends there or before.
    std::vector<std::size_t> upTo(layout.codePoints.size() + 1, 0);
    std::size_t total = 0, filled = 0;
    forEachWeight(layout.codePoints, layout.links, layout.bounds,
                  [&](std::size_t end, std::size_t w) {
                      while (filled < end) upTo[filled++] = total;
                      total += w;
                  });
    while (filled < upTo.size()) upTo[filled++] = total;
    if (!isSurelyNfc(layout.codePoints)) normaliseClusters(layout, upTo);
    std::vector<std::size_t> weights;
    weights.reserve(ends.size());
    for (const std::size_t end : ends) {
        const auto at = std::lower_bound(layout.offsets.begin(), layout.offsets.end(), end);
        weights.push_back(upTo[static_cast<std::size_t>(at - layout.offsets.begin())]);
    }
    return weights;
}
