#ifndef TRACKPOST_TEXT_X_LENGTH_H
#define TRACKPOST_TEXT_X_LENGTH_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "TextMeasure.h"

// A text's weighted length as X counts it (its published text library, configuration v3): the
// text in NFC; U+0000-U+10FF, U+2000-U+200D, U+2010-U+201F and U+2032-U+2037 weigh 1, every other
// code point 2; an emoji sequence (modifiers, joiners, flags, keycaps) 2 as a whole; every link
// 23. Bytes that are not UTF-8 count as U+FFFD.
std::size_t xWeightedLength(std::string_view text);

// The weighted length of the first `ends[i]` bytes of the text laid out as `layout`, for each i
// (`ends` in order), from one reading of it: exact for cuts between grapheme clusters and outside
// links, given a text that normalisation form C leaves as it is and a cut that makes no new link.
std::vector<std::size_t> xPrefixWeights(const TextLayout& layout,
                                        const std::vector<std::size_t>& ends);

class XMeasure : public TextMeasure {
  public:
    static constexpr std::size_t LIMIT = 280;
    std::size_t length(std::string_view text) const override { return xWeightedLength(text); }
    std::size_t limit() const override { return LIMIT; }
    std::vector<std::size_t> prefixLengths(std::string_view, const TextLayout& layout,
                                           const std::vector<std::size_t>& ends) const override {
        return xPrefixWeights(layout, ends);
    }
};

#endif
