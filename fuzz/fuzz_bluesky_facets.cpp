// Bluesky's facets of any bytes: never a crash; each facet's offsets are in order, within the
// text and on code points' boundaries, and its bytes are what its value says: the URI (without
// "https://" for a bare domain), "#" or "＃" and the tag, or "$" and the ticker.
#include <algorithm>
#include <string>
#include <string_view>

#include "BlueskyText.h"
#include "Utf8.h"
#include "fuzz_support.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Whether `marked` is what a facet of `kind` with `value` covers.
bool marks(std::string_view marked, BlueskyFacet::Kind kind, const std::string& value) {
    if (kind == BlueskyFacet::Kind::Link)
        return marked == value ||
               (startsWith(value, "https://") && "https://" + std::string(marked) == value);
    // A tag's value may begin with "$" too ("#$"): either reading will do.
    const bool cashtag = startsWith(value, "$") && upper(std::string(marked)) == value;
    return cashtag || (startsWith(marked, "#") && marked.substr(1) == value) ||
           (startsWith(marked, u8"\uff03") && marked.substr(3) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const OffsetText decoded = decodeUtf8WithOffsets(text);
    const auto onBoundary = [&decoded](std::size_t byte) {
        return std::binary_search(decoded.offsets.begin(), decoded.offsets.end(), byte);
    };
    std::size_t previousEnd = 0;
    for (const BlueskyFacet& facet : findBlueskyFacets(text)) {
        FUZZ_CHECK(facet.byteStart >= previousEnd);
        FUZZ_CHECK(facet.byteStart < facet.byteEnd);
        FUZZ_CHECK(facet.byteEnd <= text.size());
        FUZZ_CHECK(onBoundary(facet.byteStart) && onBoundary(facet.byteEnd));
        const std::string_view marked =
            text.substr(facet.byteStart, facet.byteEnd - facet.byteStart);
        FUZZ_CHECK(marks(marked, facet.kind, facet.value));
        previousEnd = facet.byteEnd;
    }
    (void)blueskyGraphemes(text);
    return 0;
}
