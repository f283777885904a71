#ifndef TRACKPOST_TEXT_FITTING_H
#define TRACKPOST_TEXT_FITTING_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TextMeasure.h"
#include "TextPart.h"

// Fitting a text to a network's limit. Cuts fall between grapheme clusters and never inside a
// link or a #tag (as the network reads them) or, on Mastodon, a mention; what is cut ends in "…".
// Both results are valid UTF-8 (bytes that are not are read as Windows-1252) and fit `measure`'s
// limit whenever it is at least 1.

// An announcement whole when it fits; else its fields cut, the longest first, to the most
// characters each that fit (so none goes below 8 while another can still give); only when the
// template's words alone pass the limit are the fields left out and the end cut.
std::string fitAnnouncement(const std::vector<TextPart>& parts, const TextMeasure& measure);

// `text` whole when it fits, else its end cut.
std::string cutToFit(std::string_view text, const TextMeasure& measure);

#endif
