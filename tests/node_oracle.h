// A network's own library as the sandbox has it installed (scripts/setup puts it into
// sandbox/node_modules), run by node over texts.
#ifndef TRACKPOST_TESTS_NODE_ORACLE_H
#define TRACKPOST_TESTS_NODE_ORACLE_H

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// What `script` (in sandbox/) prints when given the texts, one JSON string a line; "" when node
// can't be run.
inline std::string nodeOutputOver(const std::string& script,
                                  const std::vector<std::string>& texts) {
    const std::filesystem::path input =
        std::filesystem::temp_directory_path() / ("trackpost-oracle-" + std::to_string(::getpid()));
    {
        std::ofstream out(input);
        for (const std::string& text : texts) out << nlohmann::json(text).dump() << '\n';
    }
    const std::string command =
        "node '" TRACKPOST_SOURCE_DIR "/sandbox/" + script + "' < '" + input.string() + "'";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;) output += static_cast<char>(c);
        pclose(pipe);
    }
    std::filesystem::remove(input);
    return output;
}

#endif
