// USM cryptography (RFC 3414): key localisation, HMAC-MD5-96 and DES-CBC
// privacy with a per-request salt. The DES block cipher is libavutil's.
#include "usbink/usm.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "snmpv3/usm_detail.h"
#include "usbink/md5.h"

extern "C" {
#include <libavutil/des.h>
}

std::uint32_t salt_low = 0;

namespace {

constexpr unsigned kKeyStreamSize = 1u << 20;  // 1 MiB of repeated pass phrase
constexpr unsigned kBlock = kUsmPadSize;       // MD5 block, fed 64 bytes at a time
constexpr unsigned char kInnerPad = 0x36;
constexpr unsigned char kOuterPad = 0x5C;
constexpr int kDesKeyBits = 64;
constexpr int kDesEncrypt = 0;
constexpr int kDesDecrypt = 1;
constexpr int kPreIvOffset = 8;  // privKey bytes 8..15

// Feeds the pass-phrase stream of a phrase of at most one block. A
// 128-byte pattern holds the phrase repeated; every block of the stream is
// the 64-byte window that starts where the previous one left off, modulo
// the phrase length, so no byte is copied after the pattern is laid out.
void feedShortPhrase(const unsigned char* password, unsigned length) {
  alignas(8) std::array<unsigned char, 2 * kBlock> pattern;
  for (unsigned i = 0; i < kBlock + length; i += length) {
    std::memcpy(pattern.data() + i, password, std::min<unsigned>(length, pattern.size() - i));
  }
  const unsigned step = kBlock % length;
  unsigned offset = 0;
  for (unsigned fed = 0; fed < kKeyStreamSize; fed += kBlock) {
    MD5Update(pattern.data() + offset, kBlock);
    offset += step;
    if (offset >= length) offset -= length;
  }
}

// Feeds the stream of a phrase longer than a block: each 64-byte block is
// assembled in a stack buffer from at most two pieces of the phrase.
void feedLongPhrase(const unsigned char* password, unsigned length) {
  alignas(8) std::array<unsigned char, kBlock> block;
  unsigned index = 0;
  for (unsigned fed = 0; fed < kKeyStreamSize; fed += kBlock) {
    unsigned filled = 0;
    while (filled < kBlock) {
      const unsigned piece = std::min(kBlock - filled, length - index);
      std::memcpy(block.data() + filled, password + index, piece);
      filled += piece;
      index += piece;
      if (index == length) index = 0;
    }
    MD5Update(block.data(), kBlock);
  }
}

void storeBigEndian(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

}  // namespace

namespace usbink {

void nextPrivacySalt(std::uint32_t engineBoots, unsigned char* salt) {
  storeBigEndian(salt, engineBoots);
  storeBigEndian(salt + 4, salt_low);
  ++salt_low;
}

void privacyIv(const unsigned char* privKey, const unsigned char* salt, unsigned char* iv) {
  for (int i = 0; i < kDesBlockSize; ++i) iv[i] = privKey[kPreIvOffset + i] ^ salt[i];
}

bool equalInConstantTime(const unsigned char* a, const unsigned char* b, std::size_t length) {
  unsigned char diff = 0;
  for (std::size_t i = 0; i < length; ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

bool allZero(const unsigned char* bytes, std::size_t length) {
  unsigned char any = 0;
  for (std::size_t i = 0; i < length; ++i) any |= bytes[i];
  return any == 0;
}

}  // namespace usbink

// A zero-length pass phrase has no stream to repeat, and an engine ID over
// 32 bytes would not fit the localisation buffer beside the two copies of
// Ku: both are refused before anything is written, `key` included.
void Password_to_Key_md5(const unsigned char* password, unsigned int passwordLen,
                         const unsigned char* engineID, unsigned int engineIDLen,
                         unsigned char* key) {
  if (password == nullptr || passwordLen == 0 || key == nullptr) return;
  if (engineIDLen > static_cast<unsigned>(kUsmMaxEngineIdSize)) return;
  if (engineID == nullptr && engineIDLen != 0) return;

  MD5Init();
  if (passwordLen <= kBlock) {
    feedShortPhrase(password, passwordLen);
  } else {
    feedLongPhrase(password, passwordLen);
  }
  alignas(8) std::array<unsigned char, kUsmPadSize> localised;
  MD5Final(localised.data());  // Ku

  if (engineIDLen != 0) std::memcpy(localised.data() + kUsmKeySize, engineID, engineIDLen);
  std::memcpy(localised.data() + kUsmKeySize + engineIDLen, localised.data(), kUsmKeySize);
  MD5Init();
  MD5Update(localised.data(), 2 * kUsmKeySize + engineIDLen);
  MD5Final(key);
}

void AuthKey2K1K2(unsigned char* authKey, unsigned char* K1, unsigned char* K2) {
  if (authKey == nullptr || K1 == nullptr || K2 == nullptr) return;
  for (int i = 0; i < kUsmPadSize; ++i) {
    const unsigned char extended = i < kUsmKeySize ? authKey[i] : 0;
    K1[i] = extended ^ kInnerPad;
    K2[i] = extended ^ kOuterPad;
  }
}

void CalcuateAuthParams(unsigned char* msg, unsigned int msgLen, unsigned char* K1,
                        unsigned char* K2, unsigned char* mac) {
  if ((msg == nullptr && msgLen != 0) || K1 == nullptr || K2 == nullptr || mac == nullptr) return;
  unsigned char inner[kUsmKeySize];
  unsigned char outer[kUsmKeySize];
  MD5Init();
  MD5Update(K1, kUsmPadSize);
  MD5Update(msg, msgLen);
  MD5Final(inner);
  MD5Init();
  MD5Update(K2, kUsmPadSize);
  MD5Update(inner, kUsmKeySize);
  MD5Final(outer);
  std::memcpy(mac, outer, kUsmMacSize);
}

// The caller's `iv` is read, not written: the chaining value is advanced in
// a copy, since no caller uses the last ciphertext block afterwards. A null
// `src` or `iv`, and a length whose block count does not fit the cipher's
// int, are refused like a null key.
int DesEncryption(const unsigned char* key, const unsigned char* iv, unsigned char* src,
                  unsigned long length, unsigned char* dst, int dstSize) {
  if (key == nullptr || iv == nullptr || src == nullptr || dst == nullptr || dstSize < 0) return 0;
  if (length > static_cast<unsigned long>(dstSize)) return 0;
  const unsigned long blocks = (length + kDesBlockSize - 1) / kDesBlockSize;
  if (blocks * kDesBlockSize > static_cast<unsigned long>(dstSize)) return 0;

  AVDES des;
  alignas(8) std::array<unsigned char, kDesBlockSize> chain;
  std::memcpy(chain.data(), iv, chain.size());
  av_des_init(&des, key, kDesKeyBits, kDesEncrypt);
  av_des_crypt(&des, dst, src, static_cast<int>(blocks), chain.data(), kDesEncrypt);
  return static_cast<int>(length);
}

int DecryptMsgData(unsigned char* data, unsigned long length, unsigned char* privKey,
                   unsigned char* privParams) {
  if (data == nullptr || privKey == nullptr || privParams == nullptr) return 0;
  if (length % kDesBlockSize != 0 || length / kDesBlockSize > INT_MAX) return 0;
  if (length == 0) return 1;

  AVDES des;
  alignas(8) std::array<unsigned char, kDesBlockSize> iv;
  usbink::privacyIv(privKey, privParams, iv.data());
  av_des_init(&des, privKey, kDesKeyBits, kDesEncrypt);
  av_des_crypt(&des, data, data, static_cast<int>(length / kDesBlockSize), iv.data(), kDesDecrypt);
  return 1;
}
