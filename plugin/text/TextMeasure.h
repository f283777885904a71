#ifndef TRACKPOST_TEXT_TEXT_MEASURE_H
#define TRACKPOST_TEXT_TEXT_MEASURE_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "Links.h"

// How one network counts a text, and how much it takes.
class TextMeasure {
  public:
    virtual ~TextMeasure() = default;
    virtual std::size_t length(std::string_view text) const = 0;
    virtual std::size_t limit() const = 0;
    bool fits(std::string_view text) const { return length(text) <= limit(); }
    // How the network reads links (and mentions): what fitting keeps whole.
    virtual LinkRules linkRules() const { return LinkRules::X; }

    // The lengths of the first `ends[i]` bytes of `text` (laid out as `layout`), for each i
    // (`ends` in order), to choose a cut without counting each candidate: an estimate, which a
    // full count of the chosen text confirms. This one adds up the lengths of the runs between
    // the ends.
    virtual std::vector<std::size_t> prefixLengths(std::string_view text, const TextLayout&,
                                                   const std::vector<std::size_t>& ends) const {
        std::vector<std::size_t> lengths;
        std::size_t total = 0, from = 0;
        for (const std::size_t end : ends) {
            total += length(text.substr(from, end - from));
            from = end;
            lengths.push_back(total);
        }
        return lengths;
    }
};

// UTF-8 bytes against a limit: a network's cap on a text's size, and the measure whose edges a
// small limit reaches.
class ByteMeasure : public TextMeasure {
  public:
    explicit ByteMeasure(std::size_t limit) : limit_(limit) {}
    std::size_t length(std::string_view text) const override { return text.size(); }
    std::size_t limit() const override { return limit_; }

  private:
    std::size_t limit_;
};

#endif
