#ifndef TRACKPOST_TEXT_LINKS_H
#define TRACKPOST_TEXT_LINKS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A run of code points, [begin, end).
struct TextSpan {
    std::size_t begin;
    std::size_t end;
};

// The links in `text` as X's published text library finds them: http(s) addresses and bare
// domains whose top-level domain is known, with port, path and query, trailing punctuation left
// out. In order, never overlapping.
std::vector<TextSpan> findLinks(std::u32string_view text);

// A text read once for what counting and cutting it need: its code points with the byte offset of
// each (the text's size last), its links and where its grapheme clusters begin (its size last).
struct TextLayout {
    std::u32string codePoints;
    std::vector<std::size_t> offsets;
    std::vector<TextSpan> links;
    std::vector<std::size_t> bounds;
};
TextLayout layOut(std::string_view text);

// The #tags in `text`: "#" after no letter or digit, then letters, marks, digits and "_".
std::vector<TextSpan> findTags(std::u32string_view text);

#endif
