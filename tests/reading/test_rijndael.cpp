// CRijndael: FIPS-197 and SP 800-38A known answers, OpenSSL libcrypto as an
// oracle on random data, the reading-file key, misuse and in-place use.
#include "Rijndael.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

int len(const Bytes& b) {
    return static_cast<int>(b.size());
}

CRijndael keyed(const Bytes& key, const Bytes& iv) {
    CRijndael aes;
    aes.setKey(key.data(), iv.empty() ? nullptr : iv.data(), len(key), CRijndael::kBlockSize);
    return aes;
}

Bytes encrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    CRijndael aes = keyed(key, iv);
    Bytes out(plain.size());
    aes.encryptCbc(plain.data(), out.data(), len(plain));
    return out;
}

Bytes decrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher) {
    CRijndael aes = keyed(key, iv);
    Bytes out(cipher.size());
    aes.decryptCbc(cipher.data(), out.data(), len(cipher));
    return out;
}

// AES-128-CBC through OpenSSL, without padding.
Bytes openssl(bool encrypting, const Bytes& key, const Bytes& iv, const Bytes& in) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    EXPECT_NE(ctx, nullptr);
    Bytes out(in.size() + 16);
    int n = 0;
    int tail = 0;
    const bool ok = ctx != nullptr &&
                    EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data(),
                                      encrypting ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), len(in)) == 1 &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    EXPECT_TRUE(ok) << "OpenSSL failed";
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

Bytes randomBytes(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(n);
    for (unsigned char& b : out)
        b = static_cast<unsigned char>(byte(rng));
    return out;
}

std::string thrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const RijndaelError& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

const Bytes kZeroIv(16, 0);
const std::string kReadingKeyText = "mnbvcxzlmnbvcxzl";
const Bytes kReadingKey(kReadingKeyText.begin(), kReadingKeyText.end());

// --- FIPS-197 --------------------------------------------------------------

TEST(Fips197, AppendixC1EncryptBlock) {
    const CRijndael aes = keyed(fromHex("000102030405060708090a0b0c0d0e0f"), kZeroIv);
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    Bytes out(16);
    aes.encryptBlock(plain.data(), out.data());
    EXPECT_EQ(toHex(out), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST(Fips197, AppendixC1DecryptBlock) {
    const CRijndael aes = keyed(fromHex("000102030405060708090a0b0c0d0e0f"), kZeroIv);
    const Bytes cipher = fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    Bytes out(16);
    aes.decryptBlock(cipher.data(), out.data());
    EXPECT_EQ(toHex(out), "00112233445566778899aabbccddeeff");
}

// The key of appendix A.1, whose expansion ends with the round key
// d014f9a8 c9ee2589 e13f0cc8 b6630ca6, enciphers the block of appendix B. The
// schedule is private, so it is checked through this known answer: any wrong
// round key, the last included, changes the output (and the first step of the
// inverse cipher uses the last round key alone).
TEST(Fips197, AppendixBWithTheKeyOfAppendixA1) {
    const CRijndael aes = keyed(fromHex("2b7e151628aed2a6abf7158809cf4f3c"), kZeroIv);
    const Bytes plain = fromHex("3243f6a8885a308d313198a2e0370734");
    const Bytes cipher = fromHex("3925841d02dc09fbdc118597196a0b32");
    Bytes out(16);
    aes.encryptBlock(plain.data(), out.data());
    EXPECT_EQ(toHex(out), toHex(cipher));
    aes.decryptBlock(cipher.data(), out.data());
    EXPECT_EQ(toHex(out), toHex(plain));
}

TEST(Fips197, BlockCallsNeitherUseNorMoveTheChain) {
    // A one-block CBC with a zero IV is the bare block cipher.
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    CRijndael aes = keyed(fromHex("000102030405060708090a0b0c0d0e0f"), kZeroIv);
    Bytes block(16);
    aes.encryptBlock(plain.data(), block.data());
    aes.decryptBlock(block.data(), block.data());
    Bytes out(16);
    aes.encryptCbc(plain.data(), out.data(), 16);
    EXPECT_EQ(toHex(out), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST(Fips197, BlockInPlace) {
    const CRijndael aes = keyed(fromHex("000102030405060708090a0b0c0d0e0f"), kZeroIv);
    Bytes block = fromHex("00112233445566778899aabbccddeeff");
    aes.encryptBlock(block.data(), block.data());
    EXPECT_EQ(toHex(block), "69c4e0d86a7b0430d8cdb78070b4c55a");
    aes.decryptBlock(block.data(), block.data());
    EXPECT_EQ(toHex(block), "00112233445566778899aabbccddeeff");
}

// --- NIST SP 800-38A, F.2.1 and F.2.2 ----------------------------------------

class Sp80038a : public ::testing::Test {
protected:
    const Bytes key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv = fromHex("000102030405060708090a0b0c0d0e0f");
    const std::vector<Bytes> plainBlocks = {
        fromHex("6bc1bee22e409f96e93d7e117393172a"), fromHex("ae2d8a571e03ac9c9eb76fac45af8e51"),
        fromHex("30c81c46a35ce411e5fbc1191a0a52ef"), fromHex("f69f2445df4f9b17ad2b417be66c3710")};
    const std::vector<Bytes> cipherBlocks = {
        fromHex("7649abac8119b246cee98e9b12e9197d"), fromHex("5086cb9b507219ee95db113a917678b2"),
        fromHex("73bed6b8e3c1743b7116e69e22229516"), fromHex("3ff1caa1681fac09120eca307586e1a7")};
    const Bytes plain = concat(plainBlocks);
    const Bytes cipher = concat(cipherBlocks);
};

TEST_F(Sp80038a, F21CbcAes128Encrypt) {
    EXPECT_EQ(toHex(encrypt(key, iv, plain)), toHex(cipher));
}

TEST_F(Sp80038a, F22CbcAes128Decrypt) {
    EXPECT_EQ(toHex(decrypt(key, iv, cipher)), toHex(plain));
}

TEST_F(Sp80038a, EncryptInTwoCallsCarriesTheChain) {
    CRijndael aes = keyed(key, iv);
    Bytes out(64);
    aes.encryptCbc(plain.data(), out.data(), 32);
    aes.encryptCbc(plain.data() + 32, out.data() + 32, 32);
    EXPECT_EQ(toHex(out), toHex(cipher));
}

TEST_F(Sp80038a, EncryptBlockByBlockCarriesTheChain) {
    CRijndael aes = keyed(key, iv);
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes out(16);
        aes.encryptCbc(plainBlocks[i].data(), out.data(), 16);
        EXPECT_EQ(toHex(out), toHex(cipherBlocks[i])) << "block " << i + 1;
    }
}

TEST_F(Sp80038a, DecryptInTwoCallsCarriesTheChain) {
    CRijndael aes = keyed(key, iv);
    Bytes out(64);
    aes.decryptCbc(cipher.data(), out.data(), 32);
    aes.decryptCbc(cipher.data() + 32, out.data() + 32, 32);
    EXPECT_EQ(toHex(out), toHex(plain));
}

TEST_F(Sp80038a, DecryptBlockByBlockCarriesTheChain) {
    CRijndael aes = keyed(key, iv);
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes out(16);
        aes.decryptCbc(cipherBlocks[i].data(), out.data(), 16);
        EXPECT_EQ(toHex(out), toHex(plainBlocks[i])) << "block " << i + 1;
    }
}

TEST_F(Sp80038a, SetKeyAgainRestartsFromTheNewChain) {
    CRijndael aes = keyed(key, iv);
    Bytes out(64);
    aes.encryptCbc(plain.data(), out.data(), 64);
    aes.setKey(key.data(), iv.data(), 16, 16);
    aes.encryptCbc(plain.data(), out.data(), 64);
    EXPECT_EQ(toHex(out), toHex(cipher));
}

TEST_F(Sp80038a, TheChainGivenIsCopied) {
    Bytes chain = iv;
    CRijndael aes;
    aes.setKey(key.data(), chain.data(), 16, 16);
    std::fill(chain.begin(), chain.end(), 0xff);
    Bytes out(64);
    aes.encryptCbc(plain.data(), out.data(), 64);
    EXPECT_EQ(toHex(out), toHex(cipher));
}

// --- OpenSSL libcrypto as an oracle -----------------------------------------

constexpr int kRandomCases = 500;

TEST(OpenSslOracle, EncryptMatchesOnRandomInputs) {
    std::mt19937 rng(20240611u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < kRandomCases; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        ASSERT_EQ(toHex(encrypt(key, iv, plain)), toHex(openssl(true, key, iv, plain)))
            << "case " << i << ", " << plain.size() << " bytes";
    }
}

TEST(OpenSslOracle, DecryptOfOpenSslOutputGivesThePlainText) {
    std::mt19937 rng(31415926u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < kRandomCases; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        const Bytes cipher = openssl(true, key, iv, plain);
        ASSERT_EQ(toHex(decrypt(key, iv, cipher)), toHex(plain))
            << "case " << i << ", " << plain.size() << " bytes";
    }
}

TEST(OpenSslOracle, DecryptMatchesOnRandomCipherTexts) {
    std::mt19937 rng(27182818u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < kRandomCases; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes cipher = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        ASSERT_EQ(toHex(decrypt(key, iv, cipher)), toHex(openssl(false, key, iv, cipher)))
            << "case " << i << ", " << cipher.size() << " bytes";
    }
}

TEST(OpenSslOracle, RandomSplitsIntoCallsMatchOneShot) {
    std::mt19937 rng(16180339u);
    std::uniform_int_distribution<int> blocks(1, 64);
    for (int i = 0; i < 100; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        const Bytes expected = openssl(true, key, iv, plain);
        CRijndael enc = keyed(key, iv);
        CRijndael dec = keyed(key, iv);
        Bytes cipher(plain.size());
        Bytes back(plain.size());
        const int total = len(plain) / 16;
        for (int done = 0; done < total;) {
            const int n = std::uniform_int_distribution<int>(1, total - done)(rng);
            enc.encryptCbc(plain.data() + 16 * done, cipher.data() + 16 * done, 16 * n);
            dec.decryptCbc(expected.data() + 16 * done, back.data() + 16 * done, 16 * n);
            done += n;
        }
        ASSERT_EQ(toHex(cipher), toHex(expected)) << "case " << i;
        ASSERT_EQ(toHex(back), toHex(plain)) << "case " << i;
    }
}

// --- The reading-file key ---------------------------------------------------

TEST(ReadingKey, MatchesOpenSslOnAReadingLikeText) {
    std::string text;
    for (int i = 0; text.size() < 60000; ++i)
        text +=
            "R=" + std::to_string(2000 + (i * 37) % 900) + ";Z=" + std::to_string(i % 50) + "\r\n";
    text.resize(60000 - 60000 % 16);
    const Bytes plain(text.begin(), text.end());
    const Bytes expected = openssl(true, kReadingKey, kZeroIv, plain);
    EXPECT_EQ(toHex(encrypt(kReadingKey, kZeroIv, plain)), toHex(expected));
    EXPECT_EQ(toHex(decrypt(kReadingKey, kZeroIv, expected)), toHex(plain));
}

TEST(ReadingKey, MatchesOpenSslOnRandomSamples) {
    std::mt19937 rng(4711u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < 50; ++i) {
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        ASSERT_EQ(toHex(encrypt(kReadingKey, kZeroIv, plain)),
                  toHex(openssl(true, kReadingKey, kZeroIv, plain)))
            << "case " << i;
    }
}

TEST(ReadingKey, NullChainIsAZeroIv) {
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff0f0e0d0c0b0a09080706050403020100");
    const Bytes expected = openssl(true, kReadingKey, kZeroIv, plain);
    EXPECT_EQ(toHex(encrypt(kReadingKey, {}, plain)), toHex(expected));
    EXPECT_EQ(toHex(decrypt(kReadingKey, {}, expected)), toHex(plain));
}

// --- Misuse -----------------------------------------------------------------

TEST(Misuse, EmptyKey) {
    CRijndael aes;
    EXPECT_THROW(aes.setKey(nullptr, kZeroIv.data(), 16, 16), RijndaelError);
    EXPECT_EQ(thrownText([&] { aes.setKey(nullptr, kZeroIv.data(), 16, 16); }), "Empty key");
    // Checked before the lengths.
    EXPECT_EQ(thrownText([&] { aes.setKey(nullptr, kZeroIv.data(), 24, 32); }), "Empty key");
}

TEST(Misuse, IncorrectKeyLength) {
    CRijndael aes;
    EXPECT_THROW(aes.setKey(kReadingKey.data(), kZeroIv.data(), 24, 16), RijndaelError);
    for (const int keyLength : {0, -16, 15, 17, 24, 32})
        EXPECT_EQ(
            thrownText([&] { aes.setKey(kReadingKey.data(), kZeroIv.data(), keyLength, 16); }),
            "Incorrect key length")
            << keyLength;
    // Checked before the block length.
    EXPECT_EQ(thrownText([&] { aes.setKey(kReadingKey.data(), kZeroIv.data(), 32, 32); }),
              "Incorrect key length");
}

TEST(Misuse, IncorrectBlockLength) {
    CRijndael aes;
    EXPECT_THROW(aes.setKey(kReadingKey.data(), kZeroIv.data(), 16, 32), RijndaelError);
    for (const int blockLength : {0, -16, 8, 15, 17, 24, 32})
        EXPECT_EQ(
            thrownText([&] { aes.setKey(kReadingKey.data(), kZeroIv.data(), 16, blockLength); }),
            "Incorrect block length")
            << blockLength;
}

TEST(Misuse, ObjectNotInitialized) {
    CRijndael aes;
    Bytes buf(32);
    EXPECT_THROW(aes.encryptCbc(buf.data(), buf.data(), 32), RijndaelError);
    EXPECT_THROW(aes.decryptCbc(buf.data(), buf.data(), 32), RijndaelError);
    EXPECT_EQ(thrownText([&] { aes.encryptCbc(buf.data(), buf.data(), 32); }),
              "Object not Initialized");
    EXPECT_EQ(thrownText([&] { aes.decryptCbc(buf.data(), buf.data(), 32); }),
              "Object not Initialized");
    EXPECT_EQ(thrownText([&] { aes.encryptBlock(buf.data(), buf.data()); }),
              "Object not Initialized");
    EXPECT_EQ(thrownText([&] { aes.decryptBlock(buf.data(), buf.data()); }),
              "Object not Initialized");
    // Checked before the length.
    EXPECT_EQ(thrownText([&] { aes.encryptCbc(buf.data(), buf.data(), 7); }),
              "Object not Initialized");
}

TEST(Misuse, FailedSetKeyDoesNotInitialize) {
    CRijndael aes;
    Bytes buf(16);
    EXPECT_THROW(aes.setKey(kReadingKey.data(), kZeroIv.data(), 16, 8), RijndaelError);
    EXPECT_EQ(thrownText([&] { aes.encryptCbc(buf.data(), buf.data(), 16); }),
              "Object not Initialized");
}

TEST(Misuse, FailedSetKeyKeepsThePreviousKeyAndChain) {
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff0f0e0d0c0b0a09080706050403020100");
    const Bytes expected = openssl(true, kReadingKey, kZeroIv, plain);
    CRijndael aes = keyed(kReadingKey, kZeroIv);
    Bytes out(32);
    aes.encryptCbc(plain.data(), out.data(), 16);
    const Bytes other = fromHex("000102030405060708090a0b0c0d0e0f");
    EXPECT_THROW(aes.setKey(other.data(), other.data(), 32, 16), RijndaelError);
    EXPECT_THROW(aes.setKey(other.data(), other.data(), 16, 32), RijndaelError);
    aes.encryptCbc(plain.data() + 16, out.data() + 16, 16);
    EXPECT_EQ(toHex(out), toHex(expected));
}

TEST(Misuse, DataNotMultipleOfBlockSize) {
    CRijndael aes = keyed(kReadingKey, kZeroIv);
    Bytes buf(64);
    EXPECT_THROW(aes.encryptCbc(buf.data(), buf.data(), 15), RijndaelError);
    EXPECT_THROW(aes.decryptCbc(buf.data(), buf.data(), 15), RijndaelError);
    for (const int length : {0, -1, -16, 1, 15, 17, 31, 33, 63}) {
        EXPECT_EQ(thrownText([&] { aes.encryptCbc(buf.data(), buf.data(), length); }),
                  "Data not multiple of Block Size")
            << length;
        EXPECT_EQ(thrownText([&] { aes.decryptCbc(buf.data(), buf.data(), length); }),
                  "Data not multiple of Block Size")
            << length;
    }
}

TEST(Misuse, RejectedCallsLeaveTheChainAlone) {
    const Bytes plain(32, 0x5a);
    CRijndael aes = keyed(kReadingKey, kZeroIv);
    Bytes out(32, 0);
    EXPECT_THROW(aes.encryptCbc(plain.data(), out.data(), 31), RijndaelError);
    EXPECT_EQ(out, Bytes(32, 0)); // nothing written
    aes.encryptCbc(plain.data(), out.data(), 32);
    EXPECT_EQ(toHex(out), toHex(openssl(true, kReadingKey, kZeroIv, plain)));
}

TEST(Misuse, RijndaelErrorIsARuntimeError) {
    CRijndael aes;
    EXPECT_THROW(aes.setKey(nullptr, nullptr, 16, 16), std::runtime_error);
}

// --- In place ---------------------------------------------------------------

TEST(InPlace, EncryptGivesTheSameBytesAsOutOfPlace) {
    std::mt19937 rng(8675309u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < 50; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        const Bytes outOfPlace = encrypt(key, iv, plain);
        Bytes buf = plain;
        CRijndael aes = keyed(key, iv);
        aes.encryptCbc(buf.data(), buf.data(), len(buf));
        ASSERT_EQ(toHex(buf), toHex(outOfPlace)) << "case " << i;
    }
}

TEST(InPlace, DecryptGivesTheSameBytesAsOutOfPlace) {
    std::mt19937 rng(5551212u);
    std::uniform_int_distribution<int> blocks(1, 256);
    for (int i = 0; i < 50; ++i) {
        const Bytes key = randomBytes(rng, 16);
        const Bytes iv = randomBytes(rng, 16);
        const Bytes plain = randomBytes(rng, 16 * static_cast<std::size_t>(blocks(rng)));
        const Bytes cipher = encrypt(key, iv, plain);
        Bytes buf = cipher;
        CRijndael aes = keyed(key, iv);
        aes.decryptCbc(buf.data(), buf.data(), len(buf));
        ASSERT_EQ(toHex(buf), toHex(plain)) << "case " << i;
        // The chain is the last cipher-text block, not the plain text left in buf.
        const Bytes more = randomBytes(rng, 16);
        const Bytes moreCipher = encrypt(key, Bytes(cipher.end() - 16, cipher.end()), more);
        Bytes moreBuf = moreCipher;
        aes.decryptCbc(moreBuf.data(), moreBuf.data(), 16);
        ASSERT_EQ(toHex(moreBuf), toHex(more)) << "case " << i;
    }
}

TEST_F(Sp80038a, InPlaceKnownAnswer) {
    Bytes buf = plain;
    CRijndael aes = keyed(key, iv);
    aes.encryptCbc(buf.data(), buf.data(), len(buf));
    EXPECT_EQ(toHex(buf), toHex(cipher));
    aes.setKey(key.data(), iv.data(), 16, 16);
    aes.decryptCbc(buf.data(), buf.data(), len(buf));
    EXPECT_EQ(toHex(buf), toHex(plain));
}

} // namespace
