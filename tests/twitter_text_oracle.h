// The service's own count of texts: its published text library as the sandbox has it installed
// (scripts/setup puts it into sandbox/node_modules), run by node.
#ifndef TRACKPOST_TESTS_TWITTER_TEXT_ORACLE_H
#define TRACKPOST_TESTS_TWITTER_TEXT_ORACLE_H

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

inline bool twitterTextInstalled() {
    return std::filesystem::exists(TRACKPOST_SOURCE_DIR
                                   "/sandbox/node_modules/twitter-text/package.json");
}

inline const char TWITTER_TEXT_MISSING[] =
    "twitter-text is not installed in sandbox/node_modules (scripts/setup installs it; it skips "
    "when the npm registry can't be reached)";

// Each text's weighted length by the library; fewer when node fails.
inline std::vector<std::size_t> countedByTwitterText(const std::vector<std::string>& texts) {
    const std::filesystem::path input =
        std::filesystem::temp_directory_path() / ("trackpost-count-" + std::to_string(::getpid()));
    {
        std::ofstream out(input);
        for (const std::string& text : texts) out << nlohmann::json(text).dump() << '\n';
    }
    const std::string command =
        "node '" TRACKPOST_SOURCE_DIR "/sandbox/twitter_text_count.js' < '" + input.string() + "'";
    std::vector<std::size_t> lengths;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        unsigned long length = 0;
        while (std::fscanf(pipe, "%lu", &length) == 1) lengths.push_back(length);
        pclose(pipe);
    }
    std::filesystem::remove(input);
    return lengths;
}

#endif
