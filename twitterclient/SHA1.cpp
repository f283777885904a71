#include "SHA1.h"

#include <cstring>

namespace {

inline uint32_t rol(uint32_t v, unsigned n) {
    return (v << n) | (v >> (32 - n));
}

inline uint32_t loadBigEndian(uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return v;
#else
    return __builtin_bswap32(v);
#endif
}

}  // namespace

CSHA1::CSHA1() {
    std::memset(buffer, 0, sizeof buffer);
    std::memset(digest, 0, sizeof digest);
    std::memset(workspace, 0, sizeof workspace);
    Reset();
}

void CSHA1::Reset() {
    state[0] = 0x67452301u;
    state[1] = 0xEFCDAB89u;
    state[2] = 0x98BADCFEu;
    state[3] = 0x10325476u;
    state[4] = 0xC3D2E1F0u;
    bitCount[0] = 0;
    bitCount[1] = 0;
}

// clang-format off
// The schedule is kept as a rolling window of 16 words in the workspace; the rounds are written
// out so that the five working variables rotate by renaming instead of by moves.
#define SHA1_W(i) (w[(i) & 15])
#define SHA1_EXPAND(i) \
    (SHA1_W(i) = rol(SHA1_W((i) + 13) ^ SHA1_W((i) + 8) ^ SHA1_W((i) + 2) ^ SHA1_W(i), 1))
#define SHA1_R0(v, x, y, z, u, i) \
    u += ((x & (y ^ z)) ^ z) + SHA1_W(i) + 0x5A827999u + rol(v, 5); x = rol(x, 30);
#define SHA1_R1(v, x, y, z, u, i) \
    u += ((x & (y ^ z)) ^ z) + SHA1_EXPAND(i) + 0x5A827999u + rol(v, 5); x = rol(x, 30);
#define SHA1_R2(v, x, y, z, u, i) \
    u += (x ^ y ^ z) + SHA1_EXPAND(i) + 0x6ED9EBA1u + rol(v, 5); x = rol(x, 30);
#define SHA1_R3(v, x, y, z, u, i) \
    u += (x & y) + (z & (x ^ y)) + SHA1_EXPAND(i) + 0x8F1BBCDCu + rol(v, 5); x = rol(x, 30);
#define SHA1_R4(v, x, y, z, u, i) \
    u += (x ^ y ^ z) + SHA1_EXPAND(i) + 0xCA62C1D6u + rol(v, 5); x = rol(x, 30);

void CSHA1::Transform(uint32_t* st, const unsigned char* block) {
    uint32_t* w = workspace;
    std::memcpy(w, block, BLOCK_SIZE);
    for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(w[i]);

    uint32_t a = st[0], b = st[1], c = st[2], d = st[3], e = st[4];

    SHA1_R0(a, b, c, d, e, 0)  SHA1_R0(e, a, b, c, d, 1)  SHA1_R0(d, e, a, b, c, 2)
    SHA1_R0(c, d, e, a, b, 3)  SHA1_R0(b, c, d, e, a, 4)  SHA1_R0(a, b, c, d, e, 5)
    SHA1_R0(e, a, b, c, d, 6)  SHA1_R0(d, e, a, b, c, 7)  SHA1_R0(c, d, e, a, b, 8)
    SHA1_R0(b, c, d, e, a, 9)  SHA1_R0(a, b, c, d, e, 10) SHA1_R0(e, a, b, c, d, 11)
    SHA1_R0(d, e, a, b, c, 12) SHA1_R0(c, d, e, a, b, 13) SHA1_R0(b, c, d, e, a, 14)
    SHA1_R0(a, b, c, d, e, 15) SHA1_R1(e, a, b, c, d, 16) SHA1_R1(d, e, a, b, c, 17)
    SHA1_R1(c, d, e, a, b, 18) SHA1_R1(b, c, d, e, a, 19)

    SHA1_R2(a, b, c, d, e, 20) SHA1_R2(e, a, b, c, d, 21) SHA1_R2(d, e, a, b, c, 22)
    SHA1_R2(c, d, e, a, b, 23) SHA1_R2(b, c, d, e, a, 24) SHA1_R2(a, b, c, d, e, 25)
    SHA1_R2(e, a, b, c, d, 26) SHA1_R2(d, e, a, b, c, 27) SHA1_R2(c, d, e, a, b, 28)
    SHA1_R2(b, c, d, e, a, 29) SHA1_R2(a, b, c, d, e, 30) SHA1_R2(e, a, b, c, d, 31)
    SHA1_R2(d, e, a, b, c, 32) SHA1_R2(c, d, e, a, b, 33) SHA1_R2(b, c, d, e, a, 34)
    SHA1_R2(a, b, c, d, e, 35) SHA1_R2(e, a, b, c, d, 36) SHA1_R2(d, e, a, b, c, 37)
    SHA1_R2(c, d, e, a, b, 38) SHA1_R2(b, c, d, e, a, 39)

    SHA1_R3(a, b, c, d, e, 40) SHA1_R3(e, a, b, c, d, 41) SHA1_R3(d, e, a, b, c, 42)
    SHA1_R3(c, d, e, a, b, 43) SHA1_R3(b, c, d, e, a, 44) SHA1_R3(a, b, c, d, e, 45)
    SHA1_R3(e, a, b, c, d, 46) SHA1_R3(d, e, a, b, c, 47) SHA1_R3(c, d, e, a, b, 48)
    SHA1_R3(b, c, d, e, a, 49) SHA1_R3(a, b, c, d, e, 50) SHA1_R3(e, a, b, c, d, 51)
    SHA1_R3(d, e, a, b, c, 52) SHA1_R3(c, d, e, a, b, 53) SHA1_R3(b, c, d, e, a, 54)
    SHA1_R3(a, b, c, d, e, 55) SHA1_R3(e, a, b, c, d, 56) SHA1_R3(d, e, a, b, c, 57)
    SHA1_R3(c, d, e, a, b, 58) SHA1_R3(b, c, d, e, a, 59)

    SHA1_R4(a, b, c, d, e, 60) SHA1_R4(e, a, b, c, d, 61) SHA1_R4(d, e, a, b, c, 62)
    SHA1_R4(c, d, e, a, b, 63) SHA1_R4(b, c, d, e, a, 64) SHA1_R4(a, b, c, d, e, 65)
    SHA1_R4(e, a, b, c, d, 66) SHA1_R4(d, e, a, b, c, 67) SHA1_R4(c, d, e, a, b, 68)
    SHA1_R4(b, c, d, e, a, 69) SHA1_R4(a, b, c, d, e, 70) SHA1_R4(e, a, b, c, d, 71)
    SHA1_R4(d, e, a, b, c, 72) SHA1_R4(c, d, e, a, b, 73) SHA1_R4(b, c, d, e, a, 74)
    SHA1_R4(a, b, c, d, e, 75) SHA1_R4(e, a, b, c, d, 76) SHA1_R4(d, e, a, b, c, 77)
    SHA1_R4(c, d, e, a, b, 78) SHA1_R4(b, c, d, e, a, 79)

    st[0] += a;
    st[1] += b;
    st[2] += c;
    st[3] += d;
    st[4] += e;
}

#undef SHA1_W
#undef SHA1_EXPAND
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4
// clang-format on

void CSHA1::Update(const unsigned char* data, unsigned int len) {
    if (len == 0) return;

    // Positions are size_t: position + length can't wrap for any 32-bit length.
    const size_t length = len;
    const size_t pos = (bitCount[0] >> 3) & 63u;
    const uint32_t addedBits = static_cast<uint32_t>(len) << 3;
    bitCount[0] += addedBits;
    if (bitCount[0] < addedBits) ++bitCount[1];
    bitCount[1] += len >> 29;

    if (pos + length >= BLOCK_SIZE) {
        size_t i = BLOCK_SIZE - pos;
        std::memcpy(&buffer[pos], data, i);
        Transform(state, buffer);
        // Whole blocks are compressed where they lie.
        for (; i + BLOCK_SIZE <= length; i += BLOCK_SIZE) Transform(state, &data[i]);
        std::memcpy(buffer, &data[i], length - i);
    } else {
        std::memcpy(&buffer[pos], data, length);
    }
}

void CSHA1::Final() {
    unsigned char lengthField[8];
    for (int i = 0; i < 4; ++i) {
        lengthField[i] = static_cast<unsigned char>(bitCount[1] >> (24 - 8 * i));
        lengthField[4 + i] = static_cast<unsigned char>(bitCount[0] >> (24 - 8 * i));
    }

    const unsigned char one = 0x80, zero = 0x00;
    Update(&one, 1);
    while ((bitCount[0] & 0x1F8u) != 0x1C0u) Update(&zero, 1);
    Update(lengthField, 8);

    for (int i = 0; i < DIGEST_SIZE; ++i)
        digest[i] = static_cast<unsigned char>(state[i >> 2] >> (24 - 8 * (i & 3)));

    // Leave no message-derived data behind in the context.
    std::memset(buffer, 0, sizeof buffer);
    std::memset(state, 0, sizeof state);
    bitCount[0] = bitCount[1] = 0;
    Transform(state, buffer);
}

void CSHA1::GetHash(unsigned char* out) const {
    std::memcpy(out, digest, DIGEST_SIZE);
}
