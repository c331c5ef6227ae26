// AES-128 (FIPS-197) with CBC chaining, for the reading file.
//
// Table-driven: the S-boxes and the four encryption and four decryption
// round tables (SubBytes, ShiftRows and MixColumns folded together, one
// 32-bit word per byte value) are computed at compile time. The state is kept
// as four big-endian column words, as in FIPS-197 section 3.5; blocks are read
// and written byte by byte, never through a cast to uint32_t.
#include "Rijndael.h"

#include "Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

using Word = uint32_t;
using Byte = uint8_t;

constexpr int kWordsPerBlock = CRijndael::kBlockSize / 4; // Nb
constexpr int kKeyWords = CRijndael::kKeySize / 4;        // Nk
constexpr int kScheduleWords = kWordsPerBlock * (CRijndael::kRounds + 1);

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (FIPS-197 4.2.1).
constexpr Byte xtime(Byte b) {
    return static_cast<Byte>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

constexpr Byte gmul(Byte a, Byte b) {
    Byte r = 0;
    while (b != 0) {
        if ((b & 1) != 0)
            r = static_cast<Byte>(r ^ a);
        a = xtime(a);
        b = static_cast<Byte>(b >> 1);
    }
    return r;
}

constexpr Byte rotl8(Byte b, int n) {
    return static_cast<Byte>((b << n) | (b >> (8 - n))); // n in [1, 8)
}

constexpr Word rotr32(Word w, int n) {
    return n == 0 ? w : (w >> n) | (w << (32 - n)); // n in [0, 32)
}

constexpr Word pack(Byte b0, Byte b1, Byte b2, Byte b3) {
    return (static_cast<Word>(b0) << 24) | (static_cast<Word>(b1) << 16) |
           (static_cast<Word>(b2) << 8) | static_cast<Word>(b3);
}

// Plain arrays rather than std::array, so that even an unoptimised build
// indexes them without a function call.
struct Tables {
    Byte sbox[256] = {};
    Byte invSbox[256] = {};
    // te[0][x] = (2·S[x], S[x], S[x], 3·S[x]); te[k] is te[0] rotated right by 8k bits.
    Word te[4][256] = {};
    // td[0][x] = (e·Si[x], 9·Si[x], d·Si[x], b·Si[x]); td[k] likewise rotated.
    Word td[4][256] = {};
};

constexpr Tables makeTables() {
    Tables t;
    // Powers and logarithms of the generator 3, for the multiplicative inverse.
    std::array<Byte, 256> exp{};
    std::array<Byte, 256> log{};
    Byte p = 1;
    for (int i = 0; i < 255; ++i) {
        exp[static_cast<std::size_t>(i)] = p;
        log[p] = static_cast<Byte>(i);
        p = static_cast<Byte>(p ^ xtime(p)); // p *= 3
    }
    for (int x = 0; x < 256; ++x) {
        const Byte inv = x == 0 ? Byte{0} : exp[static_cast<std::size_t>((255 - log[x]) % 255)];
        // The affine transformation of FIPS-197 5.1.1.
        const Byte s = static_cast<Byte>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^
                                         rotl8(inv, 4) ^ 0x63);
        t.sbox[static_cast<std::size_t>(x)] = s;
        t.invSbox[s] = static_cast<Byte>(x);
    }
    for (int x = 0; x < 256; ++x) {
        const auto i = static_cast<std::size_t>(x);
        const Byte s = t.sbox[i];
        const Byte si = t.invSbox[i];
        const Word e = pack(gmul(s, 2), s, s, gmul(s, 3));
        const Word d = pack(gmul(si, 0x0e), gmul(si, 0x09), gmul(si, 0x0d), gmul(si, 0x0b));
        for (std::size_t k = 0; k < 4; ++k) {
            t.te[k][i] = rotr32(e, static_cast<int>(8 * k));
            t.td[k][i] = rotr32(d, static_cast<int>(8 * k));
        }
    }
    return t;
}

constexpr Tables kTables = makeTables();

// Spot checks against FIPS-197 figures 7 and 14.
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xed &&
              kTables.sbox[0xff] == 0x16 && kTables.sbox[0x10] == 0xca);
static_assert(kTables.invSbox[0x00] == 0x52 && kTables.invSbox[0x63] == 0x00 &&
              kTables.invSbox[0xff] == 0x7d);
static_assert(kTables.te[0][0x00] == 0xc66363a5u && kTables.te[3][0x00] == 0x6363a5c6u);

constexpr const Byte (&S)[256] = kTables.sbox;
constexpr const Byte (&Si)[256] = kTables.invSbox;
constexpr const Word (&Te0)[256] = kTables.te[0];
constexpr const Word (&Te1)[256] = kTables.te[1];
constexpr const Word (&Te2)[256] = kTables.te[2];
constexpr const Word (&Te3)[256] = kTables.te[3];
constexpr const Word (&Td0)[256] = kTables.td[0];
constexpr const Word (&Td1)[256] = kTables.td[1];
constexpr const Word (&Td2)[256] = kTables.td[2];
constexpr const Word (&Td3)[256] = kTables.td[3];

// Byte n of a word, n = 0 being the most significant (the first in memory).
constexpr Byte b0(Word w) {
    return static_cast<Byte>(w >> 24);
}
constexpr Byte b1(Word w) {
    return static_cast<Byte>(w >> 16);
}
constexpr Byte b2(Word w) {
    return static_cast<Byte>(w >> 8);
}
constexpr Byte b3(Word w) {
    return static_cast<Byte>(w);
}

struct Block {
    Word w[kWordsPerBlock];
};

Block loadBlock(const unsigned char* p) {
    return {{readBigU32(p), readBigU32(p + 4), readBigU32(p + 8), readBigU32(p + 12)}};
}

void storeBlock(const Block& b, unsigned char* p) {
    writeBig32(p, b.w[0]);
    writeBig32(p + 4, b.w[1]);
    writeBig32(p + 8, b.w[2]);
    writeBig32(p + 12, b.w[3]);
}

Word subWord(Word w) {
    return pack(S[b0(w)], S[b1(w)], S[b2(w)], S[b3(w)]);
}

// The cipher of FIPS-197 5.1 on one block of column words.
Block encryptWords(const Word* rk, Block in) {
    Word s0 = in.w[0] ^ rk[0];
    Word s1 = in.w[1] ^ rk[1];
    Word s2 = in.w[2] ^ rk[2];
    Word s3 = in.w[3] ^ rk[3];
    for (int round = 1; round < CRijndael::kRounds; ++round) {
        rk += kWordsPerBlock;
        const Word t0 = Te0[b0(s0)] ^ Te1[b1(s1)] ^ Te2[b2(s2)] ^ Te3[b3(s3)] ^ rk[0];
        const Word t1 = Te0[b0(s1)] ^ Te1[b1(s2)] ^ Te2[b2(s3)] ^ Te3[b3(s0)] ^ rk[1];
        const Word t2 = Te0[b0(s2)] ^ Te1[b1(s3)] ^ Te2[b2(s0)] ^ Te3[b3(s1)] ^ rk[2];
        const Word t3 = Te0[b0(s3)] ^ Te1[b1(s0)] ^ Te2[b2(s1)] ^ Te3[b3(s2)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += kWordsPerBlock;
    // The last round has no MixColumns.
    return {{pack(S[b0(s0)], S[b1(s1)], S[b2(s2)], S[b3(s3)]) ^ rk[0],
             pack(S[b0(s1)], S[b1(s2)], S[b2(s3)], S[b3(s0)]) ^ rk[1],
             pack(S[b0(s2)], S[b1(s3)], S[b2(s0)], S[b3(s1)]) ^ rk[2],
             pack(S[b0(s3)], S[b1(s0)], S[b2(s1)], S[b3(s2)]) ^ rk[3]}};
}

// The equivalent inverse cipher of FIPS-197 5.3.5, with the decryption schedule.
Block decryptWords(const Word* rk, Block in) {
    Word s0 = in.w[0] ^ rk[0];
    Word s1 = in.w[1] ^ rk[1];
    Word s2 = in.w[2] ^ rk[2];
    Word s3 = in.w[3] ^ rk[3];
    for (int round = 1; round < CRijndael::kRounds; ++round) {
        rk += kWordsPerBlock;
        const Word t0 = Td0[b0(s0)] ^ Td1[b1(s3)] ^ Td2[b2(s2)] ^ Td3[b3(s1)] ^ rk[0];
        const Word t1 = Td0[b0(s1)] ^ Td1[b1(s0)] ^ Td2[b2(s3)] ^ Td3[b3(s2)] ^ rk[1];
        const Word t2 = Td0[b0(s2)] ^ Td1[b1(s1)] ^ Td2[b2(s0)] ^ Td3[b3(s3)] ^ rk[2];
        const Word t3 = Td0[b0(s3)] ^ Td1[b1(s2)] ^ Td2[b2(s1)] ^ Td3[b3(s0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += kWordsPerBlock;
    return {{pack(Si[b0(s0)], Si[b1(s3)], Si[b2(s2)], Si[b3(s1)]) ^ rk[0],
             pack(Si[b0(s1)], Si[b1(s0)], Si[b2(s3)], Si[b3(s2)]) ^ rk[1],
             pack(Si[b0(s2)], Si[b1(s1)], Si[b2(s0)], Si[b3(s3)]) ^ rk[2],
             pack(Si[b0(s3)], Si[b1(s2)], Si[b2(s1)], Si[b3(s0)]) ^ rk[3]}};
}

Block xorBlocks(const Block& a, const Block& b) {
    return {{a.w[0] ^ b.w[0], a.w[1] ^ b.w[1], a.w[2] ^ b.w[2], a.w[3] ^ b.w[3]}};
}

} // namespace

void CRijndael::setKey(const unsigned char* key, const unsigned char* chain, int keyLength,
                       int blockLength) {
    if (key == nullptr)
        throw RijndaelError("Empty key");
    if (keyLength != kKeySize)
        throw RijndaelError("Incorrect key length");
    if (blockLength != kBlockSize)
        throw RijndaelError("Incorrect block length");

    static_assert(sizeof(m_encKey) / sizeof(m_encKey[0]) == kScheduleWords);
    static_assert(sizeof(m_decKey) / sizeof(m_decKey[0]) == kScheduleWords);

    // Key expansion, FIPS-197 5.2.
    Word rcon = 0x01;
    for (int i = 0; i < kKeyWords; ++i)
        m_encKey[i] = readBigU32(key + 4 * i);
    for (int i = kKeyWords; i < kScheduleWords; ++i) {
        Word temp = m_encKey[i - 1];
        if (i % kKeyWords == 0) {
            temp = subWord(rotr32(temp, 24)) ^ (rcon << 24); // SubWord(RotWord(temp)) xor Rcon
            rcon = xtime(static_cast<Byte>(rcon));
        }
        m_encKey[i] = m_encKey[i - kKeyWords] ^ temp;
    }

    // Decryption schedule for the equivalent inverse cipher: the round keys in
    // reverse order, InvMixColumns applied to all but the first and the last.
    for (int round = 0; round <= kRounds; ++round) {
        for (int j = 0; j < kWordsPerBlock; ++j) {
            const Word w = m_encKey[(kRounds - round) * kWordsPerBlock + j];
            // Td[k][S[x]] is InvMixColumns of a column holding x in row k alone.
            m_decKey[round * kWordsPerBlock + j] =
                round == 0 || round == kRounds
                    ? w
                    : Td0[S[b0(w)]] ^ Td1[S[b1(w)]] ^ Td2[S[b2(w)]] ^ Td3[S[b3(w)]];
        }
    }

    for (int i = 0; i < kBlockSize; ++i)
        m_chain[i] = chain != nullptr ? chain[i] : 0;
    m_keyed = true;
}

void CRijndael::checkUse(int length) const {
    if (!m_keyed)
        throw RijndaelError("Object not Initialized");
    if (length <= 0 || length % kBlockSize != 0)
        throw RijndaelError("Data not multiple of Block Size");
}

void CRijndael::encryptBlock(const unsigned char* in, unsigned char* out) const {
    checkUse(kBlockSize);
    storeBlock(encryptWords(m_encKey, loadBlock(in)), out);
}

void CRijndael::decryptBlock(const unsigned char* in, unsigned char* out) const {
    checkUse(kBlockSize);
    storeBlock(decryptWords(m_decKey, loadBlock(in)), out);
}

// Each block is read whole before its output is written, so `out` may be `in`.
void CRijndael::encryptCbc(const unsigned char* in, unsigned char* out, int length) {
    checkUse(length);
    Block chain = loadBlock(m_chain);
    for (int offset = 0; offset < length; offset += kBlockSize) {
        chain = encryptWords(m_encKey, xorBlocks(loadBlock(in + offset), chain));
        storeBlock(chain, out + offset);
    }
    storeBlock(chain, m_chain);
}

void CRijndael::decryptCbc(const unsigned char* in, unsigned char* out, int length) {
    checkUse(length);
    Block chain = loadBlock(m_chain);
    for (int offset = 0; offset < length; offset += kBlockSize) {
        const Block cipher = loadBlock(in + offset);
        storeBlock(xorBlocks(decryptWords(m_decKey, cipher), chain), out + offset);
        chain = cipher;
    }
    storeBlock(chain, m_chain);
}
