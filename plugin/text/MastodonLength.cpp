#include "MastodonLength.h"

#include <algorithm>
#include <string>

#include "Utf8.h"

namespace {

// A link or a mention, as the server replaces it before counting: a link by characters of its
// own, a mention by its part up to `nameEnd`.
struct Entity {
    std::size_t begin;
    std::size_t end;
    bool link;
    std::size_t nameEnd;
};

// The links and mentions the server replaces, in order: of two that overlap, the first.
std::vector<Entity> entities(const std::vector<TextSpan>& links,
                             const std::vector<Mention>& mentions) {
    std::vector<Entity> found;
    found.reserve(links.size() + mentions.size());
    for (const TextSpan& link : links) found.push_back({link.begin, link.end, true, link.end});
    for (const Mention& m : mentions) found.push_back({m.begin, m.end, false, m.nameEnd});
    std::sort(found.begin(), found.end(),
              [](const Entity& a, const Entity& b) { return a.begin < b.begin; });
    std::vector<Entity> kept;
    for (const Entity& entity : found)
        if (kept.empty() || kept.back().end <= entity.begin) kept.push_back(entity);
    return kept;
}

// The text the server counts. With `places`, where each code point of `codePoints` (and its
// end) went in it: a place inside a link goes to the link's end, inside a mention's domain to its
// name's end.
std::u32string countedText(std::u32string_view codePoints, const std::vector<Entity>& entities,
                           std::size_t charactersPerUrl,
                           std::vector<std::size_t>* places = nullptr) {
    std::u32string counted;
    counted.reserve(codePoints.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < codePoints.size();) {
        if (next < entities.size() && entities[next].begin == i) {
            const Entity& entity = entities[next++];
            const std::size_t start = counted.size();
            if (entity.link)
                counted.append(charactersPerUrl, U'x');
            else
                counted.append(codePoints.substr(entity.begin, entity.nameEnd - entity.begin));
            if (places != nullptr)
                for (std::size_t j = entity.begin; j < entity.end; ++j)
                    (*places)[j] = j == entity.begin
                                       ? start
                                       : std::min(start + (j - entity.begin), counted.size());
            i = entity.end;
            continue;
        }
        if (places != nullptr) (*places)[i] = counted.size();
        counted += codePoints[i++];
    }
    if (places != nullptr) (*places)[codePoints.size()] = counted.size();
    return counted;
}

}  // namespace

std::size_t mastodonLength(std::string_view text, std::size_t charactersPerUrl) {
    const std::u32string codePoints = decodeUtf8(text);
    const std::vector<Entity> replaced =
        entities(findLinks(codePoints, LinkRules::Mastodon), findMentions(codePoints));
    return clusterBounds(countedText(codePoints, replaced, charactersPerUrl)).size() - 1;
}

std::size_t MastodonMeasure::length(std::string_view text) const {
    return mastodonLength(text, charactersPerUrl_);
}

std::vector<std::size_t> MastodonMeasure::prefixLengths(
    std::string_view, const TextLayout& layout, const std::vector<std::size_t>& ends) const {
    std::vector<std::size_t> places(layout.codePoints.size() + 1, 0);
    const std::u32string counted = countedText(
        layout.codePoints, entities(layout.links, layout.mentions), charactersPerUrl_, &places);
    // The clusters of the counted text that begin before a place: those of the prefix.
    const std::vector<std::size_t> bounds = clusterBounds(counted);
    std::vector<std::size_t> lengths;
    lengths.reserve(ends.size());
    for (const std::size_t end : ends) {
        const auto at = std::lower_bound(layout.offsets.begin(), layout.offsets.end(), end);
        const std::size_t place = places[static_cast<std::size_t>(at - layout.offsets.begin())];
        lengths.push_back(static_cast<std::size_t>(
            std::lower_bound(bounds.begin(), bounds.end(), place) - bounds.begin()));
    }
    return lengths;
}
