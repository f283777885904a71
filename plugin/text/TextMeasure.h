#ifndef TRACKPOST_TEXT_TEXT_MEASURE_H
#define TRACKPOST_TEXT_TEXT_MEASURE_H

#include <cstddef>
#include <string_view>

// How one network counts a text, and how much it takes.
class TextMeasure {
  public:
    virtual ~TextMeasure() = default;
    virtual std::size_t length(std::string_view text) const = 0;
    virtual std::size_t limit() const = 0;
    bool fits(std::string_view text) const { return length(text) <= limit(); }
};

#endif
