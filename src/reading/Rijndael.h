// AES-128 (FIPS-197) with CBC chaining, for the reading file.
#pragma once

#include <cstdint>
#include <stdexcept>

// Raised only on misuse of CRijndael; the text says which.
class RijndaelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CRijndael {
public:
    static constexpr int kBlockSize = 16;
    static constexpr int kKeySize = 16;
    static constexpr int kRounds = 10;

    // Computes the key schedule and keeps `chain` as the first CBC block.
    // Throws "Empty key" (null key), "Incorrect key length" (not 16),
    // "Incorrect block length" (not 16).
    void setKey(const unsigned char* key, const unsigned char* chain, int keyLength,
                int blockLength);
    // Enciphers `length` bytes in CBC mode, carrying the chain from call to call.
    // Throws "Object not Initialized" before setKey and
    // "Data not multiple of Block Size" for a length of 0 or not a multiple of 16.
    void encryptCbc(const unsigned char* in, unsigned char* out, int length);
    // The inverse of encryptCbc, with the same chain rules and exceptions.
    void decryptCbc(const unsigned char* in, unsigned char* out, int length);

    void encryptBlock(const unsigned char* in, unsigned char* out) const;
    void decryptBlock(const unsigned char* in, unsigned char* out) const;

private:
    void checkUse(int length) const;

    uint32_t m_encKey[4 * (kRounds + 1)] = {};
    uint32_t m_decKey[4 * (kRounds + 1)] = {};
    unsigned char m_chain[kBlockSize] = {};
    bool m_keyed = false;
};
