#include "PluginResources.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool isPlainResourceName(const char* name) {
    return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

char* readWholeFile(const char* path, int& size) {
    size = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return nullptr;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
    const long end = std::ftell(file.get());
    // INT_MAX itself is refused: the buffer gets one byte more.
    if (end < 0 || end >= INT_MAX) return nullptr;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
    std::unique_ptr<char[]> data(new (std::nothrow) char[static_cast<size_t>(end) + 1]);
    if (!data) return nullptr;
    const size_t got = std::fread(data.get(), 1, static_cast<size_t>(end), file.get());
    if (got != static_cast<size_t>(end)) return nullptr;
    data[got] = '\0';
    size = static_cast<int>(got);
    return data.release();
}
