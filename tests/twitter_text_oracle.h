// The service's own count of texts: its published text library as the sandbox has it installed
// (scripts/setup puts it into sandbox/node_modules), run by node.
#ifndef TRACKPOST_TESTS_TWITTER_TEXT_ORACLE_H
#define TRACKPOST_TESTS_TWITTER_TEXT_ORACLE_H

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "node_oracle.h"

inline bool twitterTextInstalled() {
    return std::filesystem::exists(TRACKPOST_SOURCE_DIR
                                   "/sandbox/node_modules/twitter-text/package.json");
}

inline const char TWITTER_TEXT_MISSING[] =
    "twitter-text is not installed in sandbox/node_modules (scripts/setup installs it; it skips "
    "when the npm registry can't be reached)";

// Each text's weighted length by the library; fewer when node fails.
inline std::vector<std::size_t> countedByTwitterText(const std::vector<std::string>& texts) {
    std::istringstream output(nodeOutputOver("twitter_text_count.js", texts));
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; output >> length;) lengths.push_back(length);
    return lengths;
}

#endif
