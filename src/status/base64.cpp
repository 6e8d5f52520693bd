// Base64 codec with a lenient decoder: characters outside the alphabet are
// skipped wherever they stand, and decoding stops at the first group that
// yields fewer than three bytes, so a caller can hand over the whole rest of
// a device-ID string without finding the end of the Base64 text first.
#include "usbink/base64.h"

#include <cstring>

const char* BASE64_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

constexpr char kPad = '=';
constexpr int kGroupChars = 4;
constexpr int kGroupBytes = 3;
bool isAlphabet(unsigned char c) {
  return _base64_char_value(c) >= 0;
}

// The decoder's input: the source text followed by one group of padding
// characters, so every group collection ends inside it and an unpadded
// ending reads as a padded group. Nothing is copied or allocated.
class PaddedText {
 public:
  explicit PaddedText(const char* text) : m_pos(text) {}

  // The next character; '\0' once the text and the padding are used up.
  char next() {
    if (*m_pos != '\0') return *m_pos++;
    if (m_padding == 0) return '\0';
    --m_padding;
    return kPad;
  }

 private:
  const char* m_pos;
  int m_padding = kGroupChars;
};

}  // namespace

int _base64_char_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

void _base64_encode_triple(unsigned char* source, char* result) {
  const unsigned long v = (static_cast<unsigned long>(source[0]) << 16) |
                          (static_cast<unsigned long>(source[1]) << 8) | source[2];
  for (int i = 0; i < kGroupChars; ++i) result[i] = BASE64_CHARS[(v >> (18 - 6 * i)) & 63];
}

int base64_encode(unsigned char* source, unsigned long sourceLength, char* target,
                  unsigned long targetSize) {
  const unsigned long textLength = (sourceLength + 2) / kGroupBytes * kGroupChars;
  if (targetSize < textLength + 1) return 0;
  unsigned long in = 0;
  char* out = target;
  for (; in + kGroupBytes <= sourceLength; in += kGroupBytes, out += kGroupChars) {
    _base64_encode_triple(source + in, out);
  }
  const unsigned long left = sourceLength - in;
  if (left > 0) {
    unsigned char last[kGroupBytes] = {0, 0, 0};
    std::memcpy(last, source + in, left);
    _base64_encode_triple(last, out);
    out[3] = kPad;
    if (left == 1) out[2] = kPad;
    out += kGroupChars;
  }
  *out = '\0';
  return 1;
}

int _base64_decode_triple(char* quadruple, char* result) {
  int values[kGroupChars];
  int n = kGroupBytes;
  bool alphabetSeen = false;
  for (int i = kGroupChars - 1; i >= 0; --i) {
    const auto c = static_cast<unsigned char>(quadruple[i]);
    values[i] = _base64_char_value(c);
    if (values[i] >= 0) {
      alphabetSeen = true;
    } else if (c == kPad && !alphabetSeen) {
      values[i] = 0;
      --n;
    } else {
      return 0;
    }
  }
  if (n < 0) n = 0;
  unsigned long v = (static_cast<unsigned long>(values[0]) << 18) |
                    (static_cast<unsigned long>(values[1]) << 12) |
                    (static_cast<unsigned long>(values[2]) << 6) |
                    static_cast<unsigned long>(values[3]);
  v >>= 8 * (kGroupBytes - n);
  for (int i = 0; i < n; ++i) result[i] = static_cast<char>((v >> (8 * (n - 1 - i))) & 0xFF);
  return n;
}

long base64_decode(char* source, unsigned char* target, unsigned long targetSize) {
  PaddedText text(source);
  long total = 0;
  unsigned long room = targetSize;
  for (;;) {
    char group[kGroupChars];
    int taken = 0;
    // The padding guarantees four takeable characters after the text; the
    // end check only stops the walk once they are used up.
    while (taken < kGroupChars) {
      const auto c = static_cast<unsigned char>(text.next());
      if (c == '\0') break;
      if (c == kPad || isAlphabet(c)) group[taken++] = static_cast<char>(c);
    }
    if (taken < kGroupChars) break;
    char bytes[kGroupBytes];
    const int n = _base64_decode_triple(group, bytes);
    if (static_cast<unsigned long>(n) > room) return -1;
    std::memcpy(target + total, bytes, static_cast<std::size_t>(n));
    total += n;
    room -= static_cast<unsigned long>(n);
    if (n != kGroupBytes) break;
  }
  return total;
}
