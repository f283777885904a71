#ifndef TRACKPOST_FUZZ_SUPPORT_H
#define TRACKPOST_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The entry point of every target, called by libFuzzer or by the replay program.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzzsupport {

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

// Splits an input into text fields. A field ends at a backslash followed by anything but a
// second backslash, which is dropped with it; "\\" stands for one backslash. Seeds stay readable
// ("GET\ https://...\ body") and the fuzzer finds the separator by itself.
class FieldReader {
  public:
    FieldReader(const uint8_t* data, size_t size)
        : next(reinterpret_cast<const char*>(data)), end(next + size) {}

    bool empty() const { return next == end; }

    std::string field() {
        std::string out;
        while (next != end) {
            const char c = *next++;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (next == end) break;
            if (*next++ != '\\') break;
            out += '\\';
        }
        return out;
    }

    // One byte, 0 once the input is used up.
    uint8_t byte() { return next == end ? 0 : static_cast<uint8_t>(*next++); }

    std::string rest() {
        std::string out(next, end);
        next = end;
        return out;
    }

  private:
    const char* next;
    const char* end;
};

}  // namespace fuzzsupport

// Aborts, so that libFuzzer keeps the input and the replay test fails, whatever the build type.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::fuzzsupport::checkFailed(#condition, __FILE__, __LINE__))

#endif
