#ifndef TRACKPOST_SHA1_H
#define TRACKPOST_SHA1_H

#include <cstdint>

// SHA-1 (FIPS 180) over data fed in pieces. The digest leaves the object only as 20 raw bytes.
class CSHA1 {
  public:
    enum { DIGEST_SIZE = 20, BLOCK_SIZE = 64 };

    CSHA1();

    void Reset();
    void Update(const unsigned char* data, unsigned int len);
    // Wipes the working state: Reset() is needed before the next message.
    void Final();
    void GetHash(unsigned char* out) const;

  private:
    void Transform(uint32_t* state, const unsigned char* block);

    uint32_t state[5];
    uint32_t bitCount[2];  // low word first
    unsigned char buffer[BLOCK_SIZE];
    unsigned char digest[DIGEST_SIZE];
    uint32_t workspace[16];
};

#endif
