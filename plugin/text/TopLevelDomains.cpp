#include "TopLevelDomains.h"

#include <string>
#include <unordered_set>

bool isTopLevelDomain(std::string_view label) {
    static const std::unordered_set<std::string_view> domains(
        TOP_LEVEL_DOMAIN_LIST, TOP_LEVEL_DOMAIN_LIST + TOP_LEVEL_DOMAIN_COUNT);
    std::string lower(label);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return domains.count(lower) != 0;
}
