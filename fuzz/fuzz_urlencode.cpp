// Percent-encoding against libcurl's escape, which encodes every byte but the RFC 3986
// unreserved ones with upper-case hex as well; the length without building, and the way back.
#include <curl/curl.h>

#include <memory>

#include "fuzz_support.h"
#include "urlencode.h"

namespace {

struct CurlFree {
    void operator()(char* p) const { curl_free(p); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string encoded = urlencode(text);
    FUZZ_CHECK(urlencodedLength(text) == encoded.size());

    const CurlText reference(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
    FUZZ_CHECK(reference != nullptr);
    FUZZ_CHECK(encoded == reference.get());

    int length = 0;
    const CurlText decoded(
        curl_easy_unescape(nullptr, encoded.data(), static_cast<int>(encoded.size()), &length));
    FUZZ_CHECK(decoded != nullptr);
    FUZZ_CHECK(std::string(decoded.get(), static_cast<size_t>(length)) == text);

    for (const char c : text.substr(0, 4)) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
        FUZZ_CHECK(char2hex(c) == hex);
    }
    return 0;
}
