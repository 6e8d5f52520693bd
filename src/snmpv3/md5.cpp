// MD5 (RFC 1321) behind one process-wide context.
//
// Every SNMPv3 request localises two keys, each an MD5 over 1 MiB, so the
// compression function is written for throughput: the message words are
// loaded straight from the caller's bytes, the four chaining words stay in
// locals across all the blocks of one update, and the round functions are
// arranged so that the terms that do not depend on the newest chaining word
// are computed off the dependency chain.
#include "usbink/md5.h"

#include <bit>
#include <cstddef>
#include <cstring>

MD5Context ctx;
char ms8_MD5[64];

namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kDigestSize = 16;
constexpr std::size_t kLengthOffset = kBlockSize - 8;  // where the bit count goes in the last block
constexpr unsigned char kPadFirst = 0x80;
constexpr std::uint32_t kInit[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};

// Loads the little-endian word at `p`. On a little-endian host this is a
// plain load and the byte-order fix-up has nothing to do.
inline std::uint32_t md5byteReverse(const unsigned char* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
  return w;
}

inline void storeLittleEndian(unsigned char* p, std::uint32_t w) {
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
  std::memcpy(p, &w, sizeof w);
}

// One step of each round: a = b + ((a + f(b, c, d) + m + k) <<< s).
// F and I keep their textbook form (the compiler hoists the parts without
// b); G is split into two independent terms whose sum equals
// (b & d) | (c & ~d), and H folds b in last.
#define MD5_F(a, b, c, d, m, k, s)              \
  a += ((d) ^ ((b) & ((c) ^ (d)))) + (m) + (k); \
  a = std::rotl(a, s) + (b)
#define MD5_G(a, b, c, d, m, k, s) \
  a += ((c) & ~(d)) + (m) + (k);   \
  a += (b) & (d);                  \
  a = std::rotl(a, s) + (b)
#define MD5_H(a, b, c, d, m, k, s)      \
  a += (((c) ^ (d)) ^ (b)) + (m) + (k); \
  a = std::rotl(a, s) + (b)
#define MD5_I(a, b, c, d, m, k, s)       \
  a += ((c) ^ ((b) | ~(d))) + (m) + (k); \
  a = std::rotl(a, s) + (b)

// Compresses `blocks` consecutive 64-byte blocks at `p` into `state`.
void MD5Transform(std::uint32_t state[4], const unsigned char* p, std::size_t blocks) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks != 0; --blocks, p += kBlockSize) {
    const std::uint32_t m0 = md5byteReverse(p), m1 = md5byteReverse(p + 4),
                        m2 = md5byteReverse(p + 8), m3 = md5byteReverse(p + 12),
                        m4 = md5byteReverse(p + 16), m5 = md5byteReverse(p + 20),
                        m6 = md5byteReverse(p + 24), m7 = md5byteReverse(p + 28),
                        m8 = md5byteReverse(p + 32), m9 = md5byteReverse(p + 36),
                        m10 = md5byteReverse(p + 40), m11 = md5byteReverse(p + 44),
                        m12 = md5byteReverse(p + 48), m13 = md5byteReverse(p + 52),
                        m14 = md5byteReverse(p + 56), m15 = md5byteReverse(p + 60);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_F(a, b, c, d, m0, 0xd76aa478u, 7);
    MD5_F(d, a, b, c, m1, 0xe8c7b756u, 12);
    MD5_F(c, d, a, b, m2, 0x242070dbu, 17);
    MD5_F(b, c, d, a, m3, 0xc1bdceeeu, 22);
    MD5_F(a, b, c, d, m4, 0xf57c0fafu, 7);
    MD5_F(d, a, b, c, m5, 0x4787c62au, 12);
    MD5_F(c, d, a, b, m6, 0xa8304613u, 17);
    MD5_F(b, c, d, a, m7, 0xfd469501u, 22);
    MD5_F(a, b, c, d, m8, 0x698098d8u, 7);
    MD5_F(d, a, b, c, m9, 0x8b44f7afu, 12);
    MD5_F(c, d, a, b, m10, 0xffff5bb1u, 17);
    MD5_F(b, c, d, a, m11, 0x895cd7beu, 22);
    MD5_F(a, b, c, d, m12, 0x6b901122u, 7);
    MD5_F(d, a, b, c, m13, 0xfd987193u, 12);
    MD5_F(c, d, a, b, m14, 0xa679438eu, 17);
    MD5_F(b, c, d, a, m15, 0x49b40821u, 22);

    MD5_G(a, b, c, d, m1, 0xf61e2562u, 5);
    MD5_G(d, a, b, c, m6, 0xc040b340u, 9);
    MD5_G(c, d, a, b, m11, 0x265e5a51u, 14);
    MD5_G(b, c, d, a, m0, 0xe9b6c7aau, 20);
    MD5_G(a, b, c, d, m5, 0xd62f105du, 5);
    MD5_G(d, a, b, c, m10, 0x02441453u, 9);
    MD5_G(c, d, a, b, m15, 0xd8a1e681u, 14);
    MD5_G(b, c, d, a, m4, 0xe7d3fbc8u, 20);
    MD5_G(a, b, c, d, m9, 0x21e1cde6u, 5);
    MD5_G(d, a, b, c, m14, 0xc33707d6u, 9);
    MD5_G(c, d, a, b, m3, 0xf4d50d87u, 14);
    MD5_G(b, c, d, a, m8, 0x455a14edu, 20);
    MD5_G(a, b, c, d, m13, 0xa9e3e905u, 5);
    MD5_G(d, a, b, c, m2, 0xfcefa3f8u, 9);
    MD5_G(c, d, a, b, m7, 0x676f02d9u, 14);
    MD5_G(b, c, d, a, m12, 0x8d2a4c8au, 20);

    MD5_H(a, b, c, d, m5, 0xfffa3942u, 4);
    MD5_H(d, a, b, c, m8, 0x8771f681u, 11);
    MD5_H(c, d, a, b, m11, 0x6d9d6122u, 16);
    MD5_H(b, c, d, a, m14, 0xfde5380cu, 23);
    MD5_H(a, b, c, d, m1, 0xa4beea44u, 4);
    MD5_H(d, a, b, c, m4, 0x4bdecfa9u, 11);
    MD5_H(c, d, a, b, m7, 0xf6bb4b60u, 16);
    MD5_H(b, c, d, a, m10, 0xbebfbc70u, 23);
    MD5_H(a, b, c, d, m13, 0x289b7ec6u, 4);
    MD5_H(d, a, b, c, m0, 0xeaa127fau, 11);
    MD5_H(c, d, a, b, m3, 0xd4ef3085u, 16);
    MD5_H(b, c, d, a, m6, 0x04881d05u, 23);
    MD5_H(a, b, c, d, m9, 0xd9d4d039u, 4);
    MD5_H(d, a, b, c, m12, 0xe6db99e5u, 11);
    MD5_H(c, d, a, b, m15, 0x1fa27cf8u, 16);
    MD5_H(b, c, d, a, m2, 0xc4ac5665u, 23);

    MD5_I(a, b, c, d, m0, 0xf4292244u, 6);
    MD5_I(d, a, b, c, m7, 0x432aff97u, 10);
    MD5_I(c, d, a, b, m14, 0xab9423a7u, 15);
    MD5_I(b, c, d, a, m5, 0xfc93a039u, 21);
    MD5_I(a, b, c, d, m12, 0x655b59c3u, 6);
    MD5_I(d, a, b, c, m3, 0x8f0ccc92u, 10);
    MD5_I(c, d, a, b, m10, 0xffeff47du, 15);
    MD5_I(b, c, d, a, m1, 0x85845dd1u, 21);
    MD5_I(a, b, c, d, m8, 0x6fa87e4fu, 6);
    MD5_I(d, a, b, c, m15, 0xfe2ce6e0u, 10);
    MD5_I(c, d, a, b, m6, 0xa3014314u, 15);
    MD5_I(b, c, d, a, m13, 0x4e0811a1u, 21);
    MD5_I(a, b, c, d, m4, 0xf7537e82u, 6);
    MD5_I(d, a, b, c, m11, 0xbd3af235u, 10);
    MD5_I(c, d, a, b, m2, 0x2ad7d2bbu, 15);
    MD5_I(b, c, d, a, m9, 0xeb86d391u, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

// Bytes waiting in ctx.in: the byte count modulo 64, from the bit count.
std::size_t bufferedBytes() {
  return (ctx.bits[0] >> 3) & (kBlockSize - 1);
}

}  // namespace

void md5cMD5() {}

void md5FreeBuffer() {}

void MD5Init() {
  std::memcpy(ctx.buf, kInit, sizeof kInit);
  ctx.bits[0] = 0;
  ctx.bits[1] = 0;
}

void MD5Update(unsigned char* data, unsigned int length) {
  if (length == 0) return;
  std::size_t used = bufferedBytes();
  const std::uint32_t low = ctx.bits[0] + (length << 3);
  if (low < ctx.bits[0]) ++ctx.bits[1];
  ctx.bits[0] = low;
  ctx.bits[1] += length >> 29;

  std::size_t left = length;
  if (used != 0) {
    const std::size_t take = left < kBlockSize - used ? left : kBlockSize - used;
    std::memcpy(ctx.in + used, data, take);
    data += take;
    left -= take;
    used += take;
    if (used < kBlockSize) return;
    MD5Transform(ctx.buf, ctx.in, 1);
  }
  const std::size_t whole = left / kBlockSize;
  if (whole != 0) {
    MD5Transform(ctx.buf, data, whole);
    data += whole * kBlockSize;
    left -= whole * kBlockSize;
  }
  if (left != 0) std::memcpy(ctx.in, data, left);
}

void MD5Final(unsigned char* digest) {
  std::size_t used = bufferedBytes();
  ctx.in[used++] = kPadFirst;
  if (used > kLengthOffset) {
    std::memset(ctx.in + used, 0, kBlockSize - used);
    MD5Transform(ctx.buf, ctx.in, 1);
    used = 0;
  }
  std::memset(ctx.in + used, 0, kLengthOffset - used);
  storeLittleEndian(ctx.in + kLengthOffset, ctx.bits[0]);
  storeLittleEndian(ctx.in + kLengthOffset + 4, ctx.bits[1]);
  MD5Transform(ctx.buf, ctx.in, 1);
  for (std::size_t i = 0; i < 4; ++i) storeLittleEndian(digest + 4 * i, ctx.buf[i]);
  std::memset(&ctx, 0, sizeof ctx);
}

char* MD5FinalToString() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  unsigned char digest[kDigestSize];
  MD5Final(digest);
  for (std::size_t i = 0; i < kDigestSize; ++i) {
    ms8_MD5[2 * i] = kHex[digest[i] >> 4];
    ms8_MD5[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  ms8_MD5[2 * kDigestSize] = '\0';
  return ms8_MD5;
}
