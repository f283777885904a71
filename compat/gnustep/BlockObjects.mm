// Stands in for the Objective-C runtime's part in blocks on macOS: a copied block retains the
// objects it captured and releases them when it goes, which BlocksRuntime alone does not do.
#include <Block_private.h>
#import <Foundation/Foundation.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

using Assign = void (*)(void*, const void*, const int);
using Dispose = void (*)(const void*, const int);

// BlocksRuntime's own, for everything but captured objects (blocks, __block variables).
template <typename Function>
Function next(const char* name) {
    static_assert(sizeof(Function) == sizeof(void*));
    void* found = dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        std::fprintf(stderr, "blocks: no %s after this one\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

bool isCapturedObject(int flags) {
    return flags == BLOCK_FIELD_IS_OBJECT;
}

}  // namespace

extern "C" void _Block_object_assign(void* destination, const void* object, const int flags) {
    static const Assign blocksRuntime = next<Assign>("_Block_object_assign");
    if (!isCapturedObject(flags)) return blocksRuntime(destination, object, flags);
    *static_cast<const void**>(destination) = object;
    [reinterpret_cast<id>(const_cast<void*>(object)) retain];
}

extern "C" void _Block_object_dispose(const void* object, const int flags) {
    static const Dispose blocksRuntime = next<Dispose>("_Block_object_dispose");
    if (!isCapturedObject(flags)) return blocksRuntime(object, flags);
    [reinterpret_cast<id>(const_cast<void*>(object)) release];
}
