// Stands in for CoreFoundation's bundle calls, over Foundation: a CFStringRef is an NSString, a
// CFURLRef an NSURL and a CFBundleRef an NSBundle, each owned through retain and release.
#include <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <class Ref>
id object(Ref ref) {
    return reinterpret_cast<id>(const_cast<void*>(static_cast<const void*>(ref)));
}

template <class Ref>
Ref ref(id object) {
    return reinterpret_cast<Ref>(object);
}

id checked(CFTypeRef cf, const char* caller) {
    if (cf == nullptr) {
        std::fprintf(stderr, "%s() called with NULL\n", caller);
        std::abort();
    }
    return object(cf);
}

// GNUstep hands out one NSBundle per folder and cannot free one (its dealloc logs while holding
// the lock that logging needs), so every bundle is kept, as CoreFoundation keeps those it caches.
void keepForever(NSBundle* bundle) {
    static NSMutableSet* kept = [[NSMutableSet alloc] init];
    if (bundle == nil) return;
    @synchronized(kept) {
        [kept addObject:bundle];
    }
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr || encoding != kCFStringEncodingUTF8) return nullptr;
    // nil for bytes that are not UTF-8
    return ref<CFStringRef>([[NSString alloc] initWithUTF8String:cStr]);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
    if (buffer == nullptr || bufLen <= 0) return nullptr;
    @autoreleasepool {
        NSString* path = [[NSFileManager defaultManager]
            stringWithFileSystemRepresentation:reinterpret_cast<const char*>(buffer)
                                        length:static_cast<NSUInteger>(bufLen)];
        if (path == nil) return nullptr;
        return ref<CFURLRef>([[NSURL alloc] initFileURLWithPath:path isDirectory:isDirectory]);
    }
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen) {
    if (url == nullptr || buffer == nullptr || maxBufLen <= 0) return false;
    @autoreleasepool {
        NSURL* u = object(url);
        if (![u isFileURL]) return false;
        NSString* path = resolveAgainstBase ? [u path] : [u relativePath];
        const char* bytes = [path fileSystemRepresentation];
        const size_t length = std::strlen(bytes);
        if (length >= static_cast<size_t>(maxBufLen)) return false;
        std::memcpy(buffer, bytes, length + 1);
        return true;
    }
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    if (bundleURL == nullptr) return nullptr;
    @autoreleasepool {
        NSString* path = [object(bundleURL) path];
        BOOL folder = NO;
        if (![[NSFileManager defaultManager] fileExistsAtPath:path isDirectory:&folder] || !folder)
            return nullptr;
        // GNUstep's NSBundle reads its resources from Resources in the folder it is given; a macOS
        // bundle keeps them in Contents/Resources.
        NSString* contents = [path stringByAppendingPathComponent:@"Contents"];
        if ([[NSFileManager defaultManager] fileExistsAtPath:contents isDirectory:&folder] &&
            folder)
            path = contents;
        NSBundle* bundle = [[NSBundle alloc] initWithPath:path];
        keepForever(bundle);
        return ref<CFBundleRef>(bundle);
    }
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    if (bundle == nullptr || resourceName == nullptr) return nullptr;
    @autoreleasepool {
        NSString* path = [object(bundle) pathForResource:object(resourceName)
                                                  ofType:object(resourceType)
                                             inDirectory:object(subDirName)];
        if (path == nil) return nullptr;
        return ref<CFURLRef>([[NSURL alloc] initFileURLWithPath:path]);
    }
}

CFTypeRef CFRetain(CFTypeRef cf) {
    [checked(cf, "CFRetain") retain];
    return cf;
}

void CFRelease(CFTypeRef cf) {
    [checked(cf, "CFRelease") release];
}

}  // extern "C"
