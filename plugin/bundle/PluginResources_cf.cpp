// Resources of the plug-in bundle on macOS, through CoreFoundation's bundle services.
#include <CoreFoundation/CoreFoundation.h>

#include "PluginResources.h"

char* loadPluginResource(void* bundle, const char* name, int& size) {
    if (bundle == nullptr || !isPlainResourceName(name)) return nullptr;
    CFStringRef resourceName =
        CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingUTF8);
    if (resourceName == nullptr) return nullptr;
    CFURLRef url =
        CFBundleCopyResourceURL(static_cast<CFBundleRef>(bundle), resourceName, nullptr, nullptr);
    CFRelease(resourceName);
    if (url == nullptr) return nullptr;
    char path[2048];
    const Boolean converted =
        CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8*>(path), sizeof path);
    CFRelease(url);
    if (!converted) return nullptr;
    return readWholeFile(path, size);
}
