// Parameter storage is shared between the host's threads and the plug-in's: a switch may be
// flipped while a plug-in thread reads it, and a text shown by the host may be rewritten while the
// host reads it. Both sides go through these helpers, which move every int and every byte
// atomically (relaxed), so neither side ever reads a torn int or trips a race detector.
#ifndef SPF_SHARED_TEXT_H
#define SPF_SHARED_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

inline std::int32_t spfLoadInt32(const std::int32_t* storage) {
    return __atomic_load_n(storage, __ATOMIC_RELAXED);
}

inline void spfStoreInt32(std::int32_t* storage, std::int32_t value) {
    __atomic_store_n(storage, value, __ATOMIC_RELAXED);
}

// Copies `text` into a buffer of `capacity` bytes, cut to capacity - 1 bytes and a NUL.
inline void spfStoreText(char* buffer, std::size_t capacity, const char* text, std::size_t length) {
    if (capacity == 0) return;
    if (length > capacity - 1) length = capacity - 1;
    for (std::size_t i = 0; i < length; ++i)
        __atomic_store_n(buffer + i, text[i], __ATOMIC_RELAXED);
    __atomic_store_n(buffer + length, '\0', __ATOMIC_RELAXED);
}

inline void spfStoreText(char* buffer, std::size_t capacity, const std::string& text) {
    spfStoreText(buffer, capacity, text.data(), text.size());
}

// The text in a buffer of `capacity` bytes, up to its NUL, never past the buffer.
inline std::string spfLoadText(const char* buffer, std::size_t capacity) {
    std::string text;
    for (std::size_t i = 0; i < capacity; ++i) {
        const char c = __atomic_load_n(buffer + i, __ATOMIC_RELAXED);
        if (c == '\0') break;
        text += c;
    }
    return text;
}

// Every byte of a buffer of `size` bytes, NULs included (a kept block).
inline std::string spfLoadBytes(const char* buffer, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = __atomic_load_n(buffer + i, __ATOMIC_RELAXED);
    return bytes;
}

#endif
