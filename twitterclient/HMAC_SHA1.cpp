#include "HMAC_SHA1.h"

#include <cstring>

void CHMAC_SHA1::HMAC_SHA1(const unsigned char* text, int text_len, const unsigned char* key,
                           int key_len, unsigned char* digest) {
    const unsigned int textLen = text_len > 0 ? static_cast<unsigned int>(text_len) : 0u;
    const unsigned int keyLen = key_len > 0 ? static_cast<unsigned int>(key_len) : 0u;

    std::memset(keyBlock, 0, sizeof keyBlock);
    std::memset(innerPad, 0x36, sizeof innerPad);
    std::memset(outerPad, 0x5C, sizeof outerPad);

    if (keyLen > BLOCK_SIZE) {
        Reset();
        Update(key, keyLen);
        Final();
        GetHash(keyBlock);
    } else if (keyLen > 0) {
        std::memcpy(keyBlock, key, keyLen);
    }

    for (int i = 0; i < BLOCK_SIZE; ++i) innerPad[i] ^= keyBlock[i];

    Reset();
    Update(innerPad, BLOCK_SIZE);
    Update(text, textLen);
    Final();
    GetHash(innerDigest);

    for (int i = 0; i < BLOCK_SIZE; ++i) outerPad[i] ^= keyBlock[i];
    std::memcpy(outerMessage, outerPad, BLOCK_SIZE);
    std::memcpy(outerMessage + BLOCK_SIZE, innerDigest, DIGEST_SIZE);

    Reset();
    Update(outerMessage, sizeof outerMessage);
    Final();
    GetHash(digest);
}
