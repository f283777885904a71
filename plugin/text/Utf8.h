#ifndef TRACKPOST_TEXT_UTF8_H
#define TRACKPOST_TEXT_UTF8_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 and Unicode helpers over utf8proc, for counting and cutting texts as the networks do.

// The code points of `text`; a byte that starts no valid sequence stands for U+FFFD.
std::u32string decodeUtf8(std::string_view text);
void appendUtf8(std::string& out, char32_t codePoint);
std::string encodeUtf8(std::u32string_view codePoints);
bool isValidUtf8(std::string_view text);

// The text in Unicode normalisation form C; text that is not valid UTF-8 is decoded first.
std::u32string nfc(std::string_view text);

// Whether normalisation form C surely leaves `codePoints` as they are: no code point has a
// canonical decomposition, is a combining mark or a Hangul jamo (which all may join what precedes
// them). False for some texts that are in that form.
bool isSurelyNfc(std::u32string_view codePoints);

// Where the grapheme clusters of `codePoints` begin, in code points, with its size last: the
// places a text may be cut without splitting what a reader sees as one character.
std::vector<std::size_t> clusterBounds(std::u32string_view codePoints);

// The code points of `text` as decodeUtf8 gives them, with the byte offset of each and the
// text's size last.
struct OffsetText {
    std::u32string codePoints;
    std::vector<std::size_t> offsets;
};
OffsetText decodeUtf8WithOffsets(std::string_view text);

#endif
