#ifndef TRACKPOST_TEXT_TAG_REPAIR_H
#define TRACKPOST_TEXT_TAG_REPAIR_H

#include <string>
#include <string_view>

// `bytes` as UTF-8: unchanged when they are valid UTF-8, else read as Windows-1252, the encoding
// of old tags that are not.
std::string utf8OrWindows1252(std::string_view bytes);

// A track field from the host, fit for a post: read as utf8OrWindows1252 does; control
// characters, line and paragraph separators and non-characters become blanks, every run of
// blanks one space, and none is left at either end.
std::string repairTag(std::string_view bytes);

#endif
