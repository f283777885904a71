#ifndef TRACKPOST_HMAC_SHA1_H
#define TRACKPOST_HMAC_SHA1_H

#include "SHA1.h"

// HMAC-SHA1 (RFC 2104). Texts of any length are streamed into the hash, never copied.
class CHMAC_SHA1 : public CSHA1 {
  public:
    CHMAC_SHA1() = default;
    CHMAC_SHA1(const CHMAC_SHA1&) = delete;
    CHMAC_SHA1& operator=(const CHMAC_SHA1&) = delete;

    // Writes exactly 20 bytes to digest. Negative lengths count as 0.
    void HMAC_SHA1(const unsigned char* text, int text_len, const unsigned char* key, int key_len,
                   unsigned char* digest);

  private:
    unsigned char innerPad[BLOCK_SIZE];
    unsigned char outerPad[BLOCK_SIZE];
    unsigned char innerDigest[DIGEST_SIZE];
    unsigned char keyBlock[BLOCK_SIZE];
    unsigned char outerMessage[BLOCK_SIZE + DIGEST_SIZE];
};

#endif
