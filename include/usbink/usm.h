// USM cryptography: key localisation (RFC 3414 A.2.1), HMAC-MD5-96 and
// DES-CBC privacy with a per-request salt.
#pragma once

#include <cstdint>

inline constexpr int kUsmKeySize = 16;
inline constexpr int kUsmPadSize = 64;
inline constexpr int kUsmMacSize = 12;
inline constexpr int kUsmMaxEngineIdSize = 32;
inline constexpr int kDesBlockSize = 8;

// Second half of every privacy salt; read and incremented per encryption.
extern std::uint32_t salt_low;

// Writes the 16-byte key localised from `password` (read, `passwordLen`
// bytes, at least 1) and `engineID` (read, at most 32 bytes) to `key`.
// Refuses other lengths without writing.
void Password_to_Key_md5(const unsigned char* password, unsigned int passwordLen,
                         const unsigned char* engineID, unsigned int engineIDLen,
                         unsigned char* key);
// Writes the 64-byte HMAC pads of the 16-byte `authKey` to `K1` and `K2`.
void AuthKey2K1K2(unsigned char* authKey, unsigned char* K1, unsigned char* K2);
// Writes the 12-byte HMAC-MD5-96 code of `msgLen` bytes at `msg` to `mac`.
void CalcuateAuthParams(unsigned char* msg, unsigned int msgLen, unsigned char* K1,
                        unsigned char* K2, unsigned char* mac);
// DES-CBC encryption of `length` bytes rounded up to whole blocks from `src`
// into `dst` (at least `dstSize` bytes). Returns `length`, or 0 without
// writing on a null key or destination or a destination too small.
int DesEncryption(const unsigned char* key, const unsigned char* iv, unsigned char* src,
                  unsigned long length, unsigned char* dst, int dstSize);
// Decrypts an encryptedPDU in place. Returns 1, or 0 without touching `data`
// when `length` is not a multiple of 8 or a pointer is null.
int DecryptMsgData(unsigned char* data, unsigned long length, unsigned char* privKey,
                   unsigned char* privParams);
