// MD5 (RFC 1321) behind one process-wide context: MD5Init, any number of
// MD5Update, MD5Final (or MD5FinalToString), then md5FreeBuffer.
#pragma once

#include <cstdint>

struct MD5Context {
  std::uint32_t buf[4];    // chaining words
  std::uint32_t bits[2];   // message length in bits, low word first
  unsigned char in[64];    // bytes not yet compressed
};

extern MD5Context ctx;
// The digest as 32 uppercase hexadecimal digits, written by MD5FinalToString.
extern char ms8_MD5[64];

void MD5Init();
// Adds `length` bytes at `data` (read) to the digest.
void MD5Update(unsigned char* data, unsigned int length);
// Writes the 16-byte digest to `digest` and zeroes the context.
void MD5Final(unsigned char* digest);
// Finishes like MD5Final and returns ms8_MD5.
char* MD5FinalToString();
// The module keeps no read buffer: md5cMD5 and md5FreeBuffer have nothing to
// set up or release and stay for callers of the usual digest sequence.
void md5FreeBuffer();
void md5cMD5();
