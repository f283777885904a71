// Bluesky's reading of texts: its official client library as the sandbox has it installed
// (scripts/setup puts it into sandbox/node_modules), run by node.
#ifndef TRACKPOST_TESTS_BLUESKY_ORACLE_H
#define TRACKPOST_TESTS_BLUESKY_ORACLE_H

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
    const std::filesystem::path input =
        std::filesystem::temp_directory_path() / ("trackpost-bsky-" + std::to_string(::getpid()));
    {
        std::ofstream out(input);
        for (const std::string& text : texts) out << nlohmann::json(text).dump() << '\n';
    }
    const std::string command =
        "node '" TRACKPOST_SOURCE_DIR "/sandbox/bluesky_facets.js' < '" + input.string() + "'";
    std::vector<nlohmann::json> read;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::string line;
        for (int c; (c = std::fgetc(pipe)) != EOF;) {
            if (c != '\n') {
                line += static_cast<char>(c);
                continue;
            }
            read.push_back(nlohmann::json::parse(line, nullptr, false));
            line.clear();
        }
        pclose(pipe);
    }
    std::filesystem::remove(input);
    return read;
}

#endif
