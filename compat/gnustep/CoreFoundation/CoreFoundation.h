// Stands in for CoreFoundation's bundle calls that the plug-in's macOS code makes, on systems
// without CoreFoundation (implemented over GNUstep's Foundation in CoreFoundation.mm). Names, types
// and signatures are CoreFoundation's, so the same calling code builds on both.
#ifndef TRACKPOST_COMPAT_COREFOUNDATION_H
#define TRACKPOST_COMPAT_COREFOUNDATION_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned int UInt32;
typedef long CFIndex;

typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFURL* CFURLRef;
typedef struct __CFBundle* CFBundleRef;

// Only the default allocator exists; every allocator argument is ignored.
extern const CFAllocatorRef kCFAllocatorDefault;

typedef UInt32 CFStringEncoding;
enum { kCFStringEncodingUTF8 = 0x08000100 };

// Null for a null string, an encoding other than UTF-8 or bytes that are not valid UTF-8.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding);

// A relative path is taken against the working folder at the time of the call.
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// False when the path and its terminating zero don't fit in maxBufLen bytes.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);

// A bundle is an existing folder; null otherwise.
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
// <bundle>/Contents/Resources/[subDirName/]resourceName[.resourceType] when it exists, or null.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName);

// Reference counting shared by every type above; a null argument aborts.
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);

#ifdef __cplusplus
}
#endif

#endif
