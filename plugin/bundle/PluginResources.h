#ifndef TRACKPOST_PLUGIN_RESOURCES_H
#define TRACKPOST_PLUGIN_RESOURCES_H

// Reads a file found by its exact name (no folders) among the plug-in's own resources: on macOS
// the bundle's Resources (`bundle` is the host's CFBundleRef), elsewhere the folder "Resources"
// beside the plug-in library. The buffer holds the file's bytes and one more zero byte, so a
// text file can be handed on without its length; the caller owns it (delete[]). Null when the
// file can't be found or read. `size` becomes 0 once the file's path is known, then its length.
char* loadPluginResource(void* bundle, const char* name, int& size);

// The reading step shared by every platform: the whole file at `path` plus a zero byte, or null
// (with size 0) when it can't be opened, read whole, or is larger than an int can tell.
char* readWholeFile(const char* path, int& size);

// True for a plain file name: not empty, no '/', not "." or "..".
bool isPlainResourceName(const char* name);

#endif
