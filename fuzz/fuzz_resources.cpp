// Skin and resource loading with any name: only a plain name inside the Resources folder is ever
// read, and a file found comes whole with its zero byte. The folder is the one the loader looks
// in, beside this program; it is made at the first input with a few files of known content.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "PluginResources.h"
#include "fuzz_support.h"

namespace fs = std::filesystem;

namespace {

struct Resource {
    const char* name;
    std::string bytes;
};

const Resource RESOURCES[] = {
    {"skin.xml", "<skin><button name=\"tweet\"/></skin>\n"},
    {"empty", ""},
    {"..bin", std::string("\0\x01\xff zero inside", 15)},
};

fs::path executableFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    FUZZ_CHECK(n > 0);
    return fs::path(std::string(path, static_cast<size_t>(n))).parent_path();
}

// Written through a new file and a rename, since a second run of this program may read them.
void makeResources() {
    const fs::path folder = executableFolder() / "Resources";
    fs::create_directories(folder);
    for (const Resource& r : RESOURCES) {
        const fs::path file = folder / r.name;
        const fs::path fresh = folder.parent_path() / (".resource-" + std::to_string(getpid()));
        std::ofstream(fresh, std::ios::binary) << r.bytes;
        fs::rename(fresh, file);
    }
}

const Resource* knownResource(const std::string& name) {
    for (const Resource& r : RESOURCES)
        if (name == r.name) return &r;
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool made = (makeResources(), true);
    (void)made;

    // Names are C strings: the input up to its first zero byte.
    const std::string name(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    const bool plain =
        !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
    FUZZ_CHECK(isPlainResourceName(name.c_str()) == plain);

    int length = 12345;
    const std::unique_ptr<char[]> loaded(loadPluginResource(nullptr, name.c_str(), length));
    if (!plain) {
        // Refused before any path is made: nothing read, the size untouched.
        FUZZ_CHECK(loaded == nullptr && length == 12345);
        return 0;
    }
    const Resource* known = knownResource(name);
    if (!known) {
        FUZZ_CHECK(loaded == nullptr && length == 0);
        return 0;
    }
    FUZZ_CHECK(loaded != nullptr);
    FUZZ_CHECK(std::string(loaded.get(), static_cast<size_t>(length)) == known->bytes);
    FUZZ_CHECK(loaded[length] == '\0');
    return 0;
}
