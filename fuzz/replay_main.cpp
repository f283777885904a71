// Runs a fuzz target without libFuzzer over given files and over every file of given folders, in
// name order: how the ordinary tests keep its seeds and the inputs that once failed passing.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

#include "fuzz_support.h"

namespace fs = std::filesystem;

namespace {

// The inputs a path names; false when it names neither a file nor a folder.
bool collectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
    if (fs::is_regular_file(path)) {
        inputs.push_back(path);
        return true;
    }
    if (!fs::is_directory(path)) return false;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(path))
        // Dot files keep otherwise empty folders in version control.
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " FILE_OR_FOLDER...\n";
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collectInputs(argv[i], inputs)) {
            std::cerr << "no such input file or folder: " << argv[i] << "\n";
            return 2;
        }
    }
    for (const auto& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::cerr << "can't read " << input << "\n";
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        // A copy of exactly its size, as libFuzzer hands it over: reading past it is caught, and
        // an empty input too has an address.
        const size_t size = bytes.size();
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        std::cout << "replaying " << input.string() << " (" << size << " bytes)" << std::endl;
        LLVMFuzzerTestOneInput(copy.get(), size);
    }
    std::cout << "replayed " << inputs.size() << " inputs" << std::endl;
    return 0;
}
