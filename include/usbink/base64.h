// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) with a lenient
// decoder that skips foreign characters and stops at the first short group.
#pragma once

// The 64-character alphabet; the encoder reads it through this pointer.
extern const char* BASE64_CHARS;

// Encodes `sourceLength` bytes of `source` (read) into `target` (written) as
// NUL-terminated text. Returns 1, or 0 without writing when `targetSize` is
// below the text length plus one.
int base64_encode(unsigned char* source, unsigned long sourceLength, char* target,
                  unsigned long targetSize);

// Decodes the NUL-terminated `source` (read) into `target` (written, at most
// `targetSize` bytes). Returns the byte count, or -1 when the data would not
// fit (earlier groups stay written).
long base64_decode(char* source, unsigned char* target, unsigned long targetSize);

// Writes the four characters that encode the three bytes at `source`.
void _base64_encode_triple(unsigned char* source, char* result);

// 0 to 63 for an alphabet character, -1 for any other byte.
int _base64_char_value(unsigned char c);

// Decodes the four characters at `quadruple` into up to three bytes at
// `result`; returns how many were written (0 also for a malformed group).
int _base64_decode_triple(char* quadruple, char* result);
