#ifndef TRACKPOST_TEXT_TEXT_PART_H
#define TRACKPOST_TEXT_TEXT_PART_H

#include <string>
#include <vector>

// A piece of a composed announcement: the template's own words, or a track field's value.
struct TextPart {
    std::string text;
    bool field = false;
};

inline std::string joinParts(const std::vector<TextPart>& parts) {
    std::string text;
    for (const TextPart& part : parts) text += part.text;
    return text;
}

#endif
