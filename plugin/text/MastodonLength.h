#ifndef TRACKPOST_TEXT_MASTODON_LENGTH_H
#define TRACKPOST_TEXT_MASTODON_LENGTH_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "Links.h"
#include "TextMeasure.h"

// How a Mastodon server counts a status against its limit (the instance's
// configuration.statuses: max_characters, characters_reserved_per_url).
class MastodonMeasure : public TextMeasure {
  public:
    static constexpr std::size_t MAX_CHARACTERS = 500;
    static constexpr std::size_t CHARACTERS_PER_URL = 23;

    explicit MastodonMeasure(std::size_t maxCharacters = MAX_CHARACTERS,
                             std::size_t charactersPerUrl = CHARACTERS_PER_URL)
        : maxCharacters_(maxCharacters), charactersPerUrl_(charactersPerUrl) {}
    std::size_t length(std::string_view text) const override;
    std::size_t limit() const override { return maxCharacters_; }
    LinkRules linkRules() const override { return LinkRules::Mastodon; }
    // From one reading of the text: exact for cuts between grapheme clusters outside links and
    // mentions that make no new link or mention.
    std::vector<std::size_t> prefixLengths(std::string_view, const TextLayout& layout,
                                           const std::vector<std::size_t>& ends) const override;

  private:
    std::size_t maxCharacters_;
    std::size_t charactersPerUrl_;
};

// The server counts the text's extended grapheme clusters, as the text came (no normalisation),
// once it has put `charactersPerUrl` characters in place of every link and "@user" in place of
// every "@user@domain" mention (the domain is free). Links need "http://" or "https://": a bare
// domain is plain text there. Links as findLinks (LinkRules::Mastodon) finds them, mentions as
// findMentions does; of a link and a mention that overlap, the first counts. Bytes that are not
// UTF-8 count as U+FFFD.
std::size_t mastodonLength(std::string_view text,
                           std::size_t charactersPerUrl = MastodonMeasure::CHARACTERS_PER_URL);

#endif
