#include "SHA1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/mman.h>

#include "test_support.h"

using namespace testsupport;

namespace {

std::string oursHex(const Bytes& msg) {
    CSHA1 sha;
    sha.Update(msg.data(), static_cast<unsigned int>(msg.size()));
    sha.Final();
    unsigned char out[20];
    sha.GetHash(out);
    return toHex(out, 20);
}

// Reference digest from OpenSSL, optionally of `repeat` copies of the message.
std::string opensslHex(const unsigned char* msg, size_t size, size_t repeat = 1) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
    for (size_t i = 0; i < repeat; ++i) EVP_DigestUpdate(ctx, msg, size);
    unsigned char out[20];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, out, &len);
    EVP_MD_CTX_free(ctx);
    return toHex(out, len);
}

std::string opensslHex(const Bytes& msg, size_t repeat = 1) {
    return opensslHex(msg.data(), msg.size(), repeat);
}

std::string finalHex(CSHA1& sha) {
    sha.Final();
    unsigned char out[20];
    sha.GetHash(out);
    return toHex(out, 20);
}

}  // namespace

TEST(SHA1, PublishedVectors) {
    const auto vectors = publishedVectors("sha1");
    ASSERT_GE(vectors.size(), 4u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.at("name").get<std::string>());
        const auto& in = v.at("inputs");
        CSHA1 sha;
        if (in.contains("repeat_ascii")) {
            const Bytes piece = bytesOf(in.at("repeat_ascii").get<std::string>());
            const size_t count = in.at("count").get<size_t>();
            for (size_t i = 0; i < count; ++i)
                sha.Update(piece.data(), static_cast<unsigned int>(piece.size()));
        } else {
            const Bytes msg = bytesOf(in.at("message_ascii").get<std::string>());
            sha.Update(msg.data(), static_cast<unsigned int>(msg.size()));
        }
        EXPECT_EQ(finalHex(sha), v.at("expected").at("digest_hex").get<std::string>());
    }
}

// Messages around the padding boundaries: 55 bytes fit the length field into one block,
// 56 need a second block, 64 are compressed during Update and Final pads a whole block.
TEST(SHA1, EveryLengthAroundBlockBoundariesMatchesOpenSSL) {
    std::mt19937 rng(1);
    for (size_t len = 0; len <= 200; ++len) {
        const Bytes msg = randomBytes(rng, len);
        EXPECT_EQ(oursHex(msg), opensslHex(msg)) << "length " << len;
    }
}

TEST(SHA1, DigestDoesNotDependOnHowTheInputIsSplit) {
    std::mt19937 rng(2);
    const Bytes msg = randomBytes(rng, 1500);
    const std::string expected = opensslHex(msg);
    std::uniform_int_distribution<size_t> pieceLen(0, 150);
    for (int round = 0; round < 300; ++round) {
        CSHA1 sha;
        size_t at = 0;
        while (at < msg.size()) {
            const size_t n = std::min(pieceLen(rng), msg.size() - at);
            sha.Update(msg.data() + at, static_cast<unsigned int>(n));  // n may be 0
            at += n;
        }
        ASSERT_EQ(finalHex(sha), expected) << "round " << round;
    }
}

TEST(SHA1, ObjectIsReusableAfterFinalAndReset) {
    const Bytes first = bytesOf("abc");
    const Bytes second = bytesOf(std::string(100, 'x'));
    CSHA1 sha;
    sha.Update(first.data(), 3);
    EXPECT_EQ(finalHex(sha), opensslHex(first));

    sha.Reset();
    sha.Update(second.data(), static_cast<unsigned int>(second.size()));
    unsigned char kept[20];
    sha.GetHash(kept);
    EXPECT_EQ(toHex(kept, 20), opensslHex(first)) << "digest must stay readable until Final";
    EXPECT_EQ(finalHex(sha), opensslHex(second));

    // An empty message after reuse still gives the empty digest.
    sha.Reset();
    EXPECT_EQ(finalHex(sha), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// 2^29 bytes are 2^32 bits: the low word of the count wraps and the high word must carry.
TEST(SHA1, BitCountCarriesIntoHighWordAcrossManyUpdates) {
    std::mt19937 rng(3);
    const Bytes chunk = randomBytes(rng, 1 << 20);
    const size_t chunks = (size_t{1} << 29) / chunk.size() + 1;
    CSHA1 sha;
    for (size_t i = 0; i < chunks; ++i)
        sha.Update(chunk.data(), static_cast<unsigned int>(chunk.size()));
    EXPECT_EQ(finalHex(sha), opensslHex(chunk, chunks));
}

TEST(SHA1, BitCountCarriesIntoHighWordInOneUpdate) {
    const Bytes big((size_t{1} << 29) + 3, 0x5A);
    EXPECT_EQ(oursHex(big), opensslHex(big));
}

// After a partial block, a length near 2^32 makes position + length pass 2^32: that sum must not
// wrap, or the whole input is copied into the 64-byte buffer.
TEST(SHA1, LengthNear4GiBAfterAPartialBlock) {
    if (threadSanitizer) GTEST_SKIP() << "gigabytes are too much for ThreadSanitizer";
    const size_t total = size_t{1} << 32;
    // Untouched anonymous pages read as zeros and take no memory.
    void* pages =
        mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const auto* zeros = static_cast<const unsigned char*>(pages);
    CSHA1 sha;
    sha.Update(zeros, 1);
    sha.Update(zeros + 1, static_cast<unsigned int>(total - 1));
    EXPECT_EQ(finalHex(sha), opensslHex(zeros, total));
    munmap(pages, total);
}

TEST(SHA1, RandomMessagesMatchOpenSSL) {
    std::mt19937 rng(4);
    std::uniform_int_distribution<size_t> len(0, 5000);
    for (int i = 0; i < 500; ++i) {
        const Bytes msg = randomBytes(rng, len(rng));
        ASSERT_EQ(oursHex(msg), opensslHex(msg)) << "length " << msg.size();
    }
}
