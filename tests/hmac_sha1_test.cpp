#include "HMAC_SHA1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "test_support.h"

using namespace testsupport;

namespace {

std::string oursHex(CHMAC_SHA1& hmac, const Bytes& key, const Bytes& text) {
    unsigned char out[20];
    hmac.HMAC_SHA1(text.data(), static_cast<int>(text.size()), key.data(),
                   static_cast<int>(key.size()), out);
    return toHex(out, 20);
}

std::string oursHex(const Bytes& key, const Bytes& text) {
    CHMAC_SHA1 hmac;
    return oursHex(hmac, key, text);
}

std::string opensslHex(const Bytes& key, const Bytes& text) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    static const unsigned char none = 0;
    HMAC(EVP_sha1(), key.empty() ? &none : key.data(), static_cast<int>(key.size()),
         text.empty() ? &none : text.data(), text.size(), out, &len);
    return toHex(out, len);
}

}  // namespace

TEST(HMAC_SHA1, PublishedVectors) {
    const auto vectors = publishedVectors("hmac_sha1");
    ASSERT_GE(vectors.size(), 7u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.at("name").get<std::string>());
        const Bytes key = fromHex(v.at("inputs").at("key_hex").get<std::string>());
        const Bytes text = fromHex(v.at("inputs").at("data_hex").get<std::string>());
        EXPECT_EQ(oursHex(key, text), v.at("expected").at("digest_hex").get<std::string>());
    }
}

// Keys of 64 bytes are used as they are; from 65 bytes on they are replaced by their digest.
// Texts beyond 4032 bytes no longer fit an inner buffer of 4096 bytes and must still be right.
TEST(HMAC_SHA1, KeyAndTextLengthsAtTheLimitsMatchOpenSSL) {
    std::mt19937 rng(5);
    const size_t keyLengths[] = {0, 1, 20, 63, 64, 65, 80, 200};
    const size_t textLengths[] = {0, 1, 55, 56, 64, 4031, 4032, 4033, 4096, 100000};
    for (size_t k : keyLengths) {
        for (size_t t : textLengths) {
            const Bytes key = randomBytes(rng, k), text = randomBytes(rng, t);
            EXPECT_EQ(oursHex(key, text), opensslHex(key, text)) << "key " << k << ", text " << t;
        }
    }
}

TEST(HMAC_SHA1, EmptyKeyAndEmptyText) {
    CHMAC_SHA1 hmac;
    unsigned char out[20];
    hmac.HMAC_SHA1(nullptr, 0, nullptr, 0, out);
    EXPECT_EQ(toHex(out, 20), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");

    // A negative length is read as nothing, never as a huge unsigned count.
    const unsigned char junk[4] = {1, 2, 3, 4};
    hmac.HMAC_SHA1(junk, -1, junk, -4, out);
    EXPECT_EQ(toHex(out, 20), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST(HMAC_SHA1, OneObjectGivesTheSameResultsAsFreshObjects) {
    std::mt19937 rng(6);
    CHMAC_SHA1 reused;
    for (int i = 0; i < 50; ++i) {
        const Bytes key = randomBytes(rng, static_cast<size_t>(i * 7 % 130));
        const Bytes text = randomBytes(rng, static_cast<size_t>(i * 97 % 5000));
        ASSERT_EQ(oursHex(reused, key, text), oursHex(key, text)) << "call " << i;
    }
}

TEST(HMAC_SHA1, RandomKeysAndTextsMatchOpenSSL) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> keyLen(0, 300), textLen(0, 9000);
    for (int i = 0; i < 400; ++i) {
        const Bytes key = randomBytes(rng, keyLen(rng)), text = randomBytes(rng, textLen(rng));
        ASSERT_EQ(oursHex(key, text), opensslHex(key, text))
            << "key " << key.size() << ", text " << text.size();
    }
}

TEST(HMAC_SHA1, WritesExactlyTwentyBytes) {
    unsigned char out[24];
    std::memset(out, 0xEE, sizeof out);
    const Bytes key = bytesOf("key"), text = bytesOf("text");
    CHMAC_SHA1 hmac;
    hmac.HMAC_SHA1(text.data(), 4, key.data(), 3, out);
    for (int i = 20; i < 24; ++i) EXPECT_EQ(out[i], 0xEE) << "byte " << i;
}
