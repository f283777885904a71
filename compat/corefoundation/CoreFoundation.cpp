#include <CoreFoundation/CoreFoundation.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

namespace {

enum class Kind { String, Url, Bundle };

// First member of every object, so any CFTypeRef can be read as a Header.
struct Header {
    explicit Header(Kind k) : kind(k) {}
    std::atomic<CFIndex> refs{1};
    const Kind kind;
};

}  // namespace

struct __CFString {
    Header header{Kind::String};
    std::string text;  // UTF-8
};

// A path and the folder it is relative to (empty when the path is absolute).
struct __CFURL {
    Header header{Kind::Url};
    std::string path;
    std::string base;
};

struct __CFBundle {
    Header header{Kind::Bundle};
    std::string folder;
};

// Standard layout makes an object and its first member share an address.
static_assert(std::is_standard_layout_v<__CFString>);
static_assert(std::is_standard_layout_v<__CFURL>);
static_assert(std::is_standard_layout_v<__CFBundle>);

namespace {

Header& headerOf(CFTypeRef cf, const char* caller) {
    if (cf == nullptr) {
        std::fprintf(stderr, "%s() called with NULL\n", caller);
        std::abort();
    }
    return *static_cast<Header*>(const_cast<void*>(cf));
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool isValidUtf8(const unsigned char* s) {
    while (*s != 0) {
        const unsigned lead = *s++;
        if (lead < 0x80) continue;
        int more;
        unsigned cp, least;
        if ((lead & 0xE0) == 0xC0) {
            more = 1, cp = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2, cp = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3, cp = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        for (; more > 0; --more, ++s) {
            if ((*s & 0xC0) != 0x80) return false;  // also stops at the terminating zero
            cp = (cp << 6) | (*s & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    }
    return true;
}

std::string resolved(const __CFURL& url) {
    if (url.base.empty()) return url.path;
    return url.base.back() == '/' ? url.base + url.path : url.base + '/' + url.path;
}

CFURLRef makeUrl(std::string path, std::string base) {
    auto* url = new __CFURL;
    url->path = std::move(path);
    url->base = std::move(base);
    return url;
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr || encoding != kCFStringEncodingUTF8) return nullptr;
    if (!isValidUtf8(reinterpret_cast<const unsigned char*>(cStr))) return nullptr;
    auto* string = new __CFString;
    string->text = cStr;
    return string;
}

// The directory flag changes only the URL's spelling, not its file system path.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean) {
    if (buffer == nullptr || bufLen <= 0) return nullptr;
    std::string path(reinterpret_cast<const char*>(buffer), static_cast<size_t>(bufLen));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::string base;
    if (path.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
        base = cwd;
    }
    return makeUrl(std::move(path), std::move(base));
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen) {
    if (url == nullptr || buffer == nullptr || maxBufLen <= 0) return false;
    const std::string path = resolveAgainstBase ? resolved(*url) : url->path;
    if (path.size() >= static_cast<size_t>(maxBufLen)) return false;
    path.copy(reinterpret_cast<char*>(buffer), path.size());
    buffer[path.size()] = 0;
    return true;
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    if (bundleURL == nullptr) return nullptr;
    std::string folder = resolved(*bundleURL);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    auto* bundle = new __CFBundle;
    bundle->folder = std::move(folder);
    return bundle;
}

// Localized folders are not searched: the plug-in ships none. The URL is relative to the file's
// folder, so resolveAgainstBase matters here as it does on macOS.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    if (bundle == nullptr || resourceName == nullptr) return nullptr;
    std::string folder = bundle->folder + "/Contents/Resources";
    if (subDirName != nullptr && !subDirName->text.empty()) folder += '/' + subDirName->text;
    std::string name = resourceName->text;
    if (resourceType != nullptr && !resourceType->text.empty()) name += '.' + resourceType->text;
    struct stat st;
    if (stat((folder + '/' + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return makeUrl(std::move(name), std::move(folder));
}

CFTypeRef CFRetain(CFTypeRef cf) {
    headerOf(cf, "CFRetain").refs.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Header& header = headerOf(cf, "CFRelease");
    // acq_rel: every earlier use of the object happens before its deletion.
    if (header.refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    switch (header.kind) {
        case Kind::String:
            delete static_cast<const __CFString*>(cf);
            break;
        case Kind::Url:
            delete static_cast<const __CFURL*>(cf);
            break;
        case Kind::Bundle:
            delete static_cast<const __CFBundle*>(cf);
            break;
    }
}

}  // extern "C"
