// SHA-1 and HMAC-SHA1 against OpenSSL, for any key and message, the message hashed in any split
// into pieces and the objects used again. Any difference aborts.
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>

#include "HMAC_SHA1.h"
#include "SHA1.h"
#include "fuzz_support.h"

using fuzzsupport::FieldReader;

namespace {

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string referenceSha1(const std::string& message) {
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(bytes(message), message.size(), md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

std::string referenceHmac(const std::string& key, const std::string& message) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    FUZZ_CHECK(HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), bytes(message),
                    message.size(), md, &length) != nullptr);
    return std::string(reinterpret_cast<char*>(md), length);
}

std::string hashOf(CSHA1& sha) {
    sha.Final();
    unsigned char md[CSHA1::DIGEST_SIZE];
    sha.GetHash(md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

// The message fed in pieces whose lengths are the bytes of `splits`, taken in turn (0 is an
// empty update), a bounded number of them; the last piece takes what is left.
std::string piecewiseSha1(CSHA1& sha, const std::string& message, const std::string& splits) {
    sha.Reset();
    size_t at = 0;
    const size_t maxPieces = splits.empty() ? 0 : 2 * (message.size() + splits.size());
    for (size_t i = 0; i < maxPieces && at < message.size(); ++i) {
        const size_t piece = std::min<size_t>(static_cast<unsigned char>(splits[i % splits.size()]),
                                              message.size() - at);
        sha.Update(bytes(message) + at, static_cast<unsigned int>(piece));
        at += piece;
    }
    sha.Update(bytes(message) + at, static_cast<unsigned int>(message.size() - at));
    return hashOf(sha);
}

std::string hmacOf(CHMAC_SHA1& hmac, const unsigned char* text, int textLength,
                   const unsigned char* key, int keyLength) {
    unsigned char md[CSHA1::DIGEST_SIZE];
    hmac.HMAC_SHA1(text, textLength, key, keyLength, md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FieldReader in(data, size);
    const std::string splits = in.field(), key = in.field(), message = in.rest();

    CSHA1 sha;
    FUZZ_CHECK(piecewiseSha1(sha, message, splits) == referenceSha1(message));
    // The same object, reset, for another message.
    FUZZ_CHECK(piecewiseSha1(sha, key, "") == referenceSha1(key));

    CHMAC_SHA1 hmac;
    const int keyLength = static_cast<int>(key.size()), length = static_cast<int>(message.size());
    FUZZ_CHECK(hmacOf(hmac, bytes(message), length, bytes(key), keyLength) ==
               referenceHmac(key, message));
    // Again on the same object, key and message swapped; then negative lengths, which count as 0.
    FUZZ_CHECK(hmacOf(hmac, bytes(key), keyLength, bytes(message), length) ==
               referenceHmac(message, key));
    FUZZ_CHECK(hmacOf(hmac, bytes(message), -1 - length, bytes(key), -keyLength) ==
               referenceHmac("", ""));
    return 0;
}
