// Resources of the plug-in library on systems without bundles: the folder "Resources" beside the
// library file, found from the library's own address (the host's bundle handle is its own matter).
#include <dlfcn.h>

#include <string>

#include "PluginResources.h"

namespace {

std::string resourcesFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&resourcesFolder), &info) == 0 || !info.dli_fname)
        return std::string();
    const std::string library = info.dli_fname;
    const size_t slash = library.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : library.substr(0, slash);
    return folder + "/Resources/";
}

}  // namespace

char* loadPluginResource(void* /*bundle*/, const char* name, int& size) {
    if (!isPlainResourceName(name)) return nullptr;
    const std::string folder = resourcesFolder();
    if (folder.empty()) return nullptr;
    return readWholeFile((folder + name).c_str(), size);
}
