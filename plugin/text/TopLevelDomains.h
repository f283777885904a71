#ifndef TRACKPOST_TEXT_TOP_LEVEL_DOMAINS_H
#define TRACKPOST_TEXT_TOP_LEVEL_DOMAINS_H

#include <cstddef>
#include <string_view>

// The public suffix list's top-level domains, lower case, in UTF-8 (made at build time).
extern const char* const TOP_LEVEL_DOMAIN_LIST[];
extern const std::size_t TOP_LEVEL_DOMAIN_COUNT;

// Whether `label` (UTF-8, any case of ASCII letters) is a top-level domain of the list.
bool isTopLevelDomain(std::string_view label);

#endif
