#include "XLength.h"

#include <utf8proc.h>

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

}  // namespace

std::size_t xWeightedLength(std::string_view text) {
    const std::u32string codePoints = nfc(text);
    const std::vector<TextSpan> links = findLinks(codePoints);
    const std::vector<std::size_t> bounds = clusterBounds(codePoints);
    std::size_t weight = 0, link = 0, cluster = 0;
    for (std::size_t i = 0; i < codePoints.size();) {
        if (link < links.size() && links[link].begin == i) {
            weight += LINK_WEIGHT;
            i = links[link++].end;
            continue;
        }
        while (bounds[cluster + 1] <= i) ++cluster;
        const std::size_t clusterEnd = bounds[cluster + 1];
        const bool clearOfLinks = link == links.size() || clusterEnd <= links[link].begin;
        if (bounds[cluster] == i && clearOfLinks &&
            isEmojiSequence(std::u32string_view(codePoints).substr(i, clusterEnd - i))) {
            weight += EMOJI_WEIGHT;
            i = clusterEnd;
            continue;
        }
        weight += codePointWeight(codePoints[i++]);
    }
    return weight;
}
