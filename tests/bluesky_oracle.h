// Bluesky's reading of texts: its official client library as the sandbox has it installed
// (scripts/setup puts it into sandbox/node_modules), run by node.
#ifndef TRACKPOST_TESTS_BLUESKY_ORACLE_H
#define TRACKPOST_TESTS_BLUESKY_ORACLE_H

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "node_oracle.h"

inline bool blueskyLibraryInstalled() {
    return std::filesystem::exists(TRACKPOST_SOURCE_DIR
                                   "/sandbox/node_modules/@atproto/api/package.json");
}

inline const char BLUESKY_LIBRARY_MISSING[] =
    "@atproto/api is not installed in sandbox/node_modules (scripts/setup installs it; it skips "
    "when the npm registry can't be reached)";

// Each text as the library reads it: {"graphemes": N, "facets": [{byteStart, byteEnd, kind
// ("link" or "tag"), value}]}. Fewer when node fails.
inline std::vector<nlohmann::json> readByBlueskyLibrary(const std::vector<std::string>& texts) {
    std::istringstream output(nodeOutputOver("bluesky_facets.js", texts));
    std::vector<nlohmann::json> read;
    // A line cut short (node failing mid-way) is left out.
    for (std::string line; std::getline(output, line) && !output.eof();)
        read.push_back(nlohmann::json::parse(line, nullptr, false));
    return read;
}

#endif
