// Base64 against OpenSSL: decoding any text where both define a result, encoding any bytes, and
// the round trip.
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "base64.h"
#include "fuzz_support.h"

namespace {

const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool inAlphabet(char c) {
    return c != '\0' && std::strchr(ALPHABET, c) != nullptr;
}

void decodesLikeOpenSsl(const std::string& text) {
    const std::string decoded = base64_decode(text);

    // Decoding ends at the first character outside the alphabet.
    size_t runLength = 0;
    while (runLength < text.size() && inAlphabet(text[runLength])) ++runLength;
    const std::string run = text.substr(0, runLength);
    FUZZ_CHECK(base64_decode(run) == decoded);

    // OpenSSL decodes whole padded groups only: the run with its padding, or without a lone
    // last character, which holds no whole byte.
    const size_t whole = run.size() / 4 * 4, partial = run.size() % 4;
    std::string padded = run.substr(0, whole);
    size_t padding = 0;
    if (partial >= 2) {
        padding = 4 - partial;
        padded += run.substr(whole) + std::string(padding, '=');
    }
    const size_t groupBytes = padded.size() / 4 * 3;
    FUZZ_CHECK(decoded.size() == groupBytes - padding);
    std::vector<unsigned char> reference(groupBytes + 1);
    const int n =
        EVP_DecodeBlock(reference.data(), reinterpret_cast<const unsigned char*>(padded.data()),
                        static_cast<int>(padded.size()));
    FUZZ_CHECK(n == static_cast<int>(groupBytes));
    FUZZ_CHECK(std::memcmp(reference.data(), decoded.data(), decoded.size()) == 0);
}

void encodesLikeOpenSsl(const uint8_t* data, size_t size) {
    const std::string encoded = base64_encode(data, static_cast<unsigned int>(size));
    std::vector<unsigned char> reference((size + 2) / 3 * 4 + 1);
    const int n = EVP_EncodeBlock(reference.data(), data, static_cast<int>(size));
    FUZZ_CHECK(encoded == std::string(reinterpret_cast<const char*>(reference.data()), n));
    FUZZ_CHECK(base64_decode(encoded) == std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodesLikeOpenSsl(std::string(reinterpret_cast<const char*>(data), size));
    encodesLikeOpenSsl(data, size);
    return 0;
}
