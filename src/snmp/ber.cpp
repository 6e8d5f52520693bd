// BER primitives shared by every SNMP message the system builds or parses.
#include "usbink/ber.h"

#include <bit>
#include <cstring>

#include "usbink/netio.h"

namespace {

constexpr unsigned char kLongFormFlag = 0x80;
constexpr int kOidArcBits = 7;
constexpr unsigned char kOidArcMask = 0x7F;
constexpr long kOidArcMax = 2147483647;
constexpr int kOidFirstOctetMax = 127;

// Reads one decimal arc of at most kOidArcMax from `text` up to the next dot
// or the end. Returns false for an empty arc or one out of range.
bool readArc(const char*& text, long* value) {
  const char* start = text;
  long v = 0;
  while (*text >= '0' && *text <= '9') {
    v = v * 10 + (*text - '0');
    if (v > kOidArcMax) return false;
    ++text;
  }
  *value = v;
  return text != start;
}

}  // namespace

unsigned short FLIPWORD(unsigned short value) {
  if constexpr (std::endian::native != std::endian::little) return value;
  return static_cast<unsigned short>((value >> 8) | (value << 8));
}

std::uint32_t FLIPDWORD(unsigned long value) {
  auto v = static_cast<std::uint32_t>(value);
  if constexpr (std::endian::native != std::endian::little) return v;
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

int readIntValue(unsigned char* data, int length) {
  std::uint32_t value = 0;
  for (int i = 0; i < length; ++i) value = (value << 8) | data[i];
  return static_cast<int>(value);
}

int max(int a, int b) {
  return a > b ? a : b;
}

unsigned char* CNetIO::parseLength(unsigned char* p, int* length) {
  if (p[0] < kLongFormFlag) {
    *length = p[0];
    return p + 1;
  }
  const int count = p[0] & ~kLongFormFlag;
  std::uint32_t value = 0;
  for (int i = 1; i <= count; ++i) value = (value << 8) | p[i];
  *length = static_cast<int>(value);
  return p + 1 + count;
}

unsigned char* CNetIO::berEncodeLength(unsigned char* end, unsigned long length) {
  unsigned char* p = end;
  do {
    *--p = static_cast<unsigned char>(length & 0xFF);
    length >>= 8;
  } while (length != 0);
  const long written = end - p;
  if (written == 1 && *p < kLongFormFlag) return p;
  *--p = static_cast<unsigned char>(kLongFormFlag + written);
  return p;
}

// Identifiers outside the limits every caller respects (more than 127
// characters, a single or empty arc, an arc beyond the signed 32-bit range,
// first two arcs folding to more than one octet) are refused with -1 before
// anything is written, so `out` never needs more than kOidEncodedMax octets.
int CNetIO::oidEncode(const char* text, unsigned char* out) {
  if (text == nullptr || out == nullptr) return -1;
  const std::size_t textLength = std::strlen(text);
  for (std::size_t i = 0; i < textLength; ++i) {
    if ((text[i] < '0' || text[i] > '9') && text[i] != '.') return 0;
  }
  if (textLength > static_cast<std::size_t>(kOidTextMax)) return -1;

  long arcs[kOidTextMax / 2 + 1];
  int arcCount = 0;
  const char* p = text;
  for (;;) {
    if (!readArc(p, &arcs[arcCount])) return -1;
    ++arcCount;
    if (*p == '\0') break;
    ++p;  // the dot
  }
  if (arcCount < 2 || 40 * arcs[0] + arcs[1] > kOidFirstOctetMax) return -1;

  int n = 0;
  out[n++] = static_cast<unsigned char>(40 * arcs[0] + arcs[1]);
  for (int i = 2; i < arcCount; ++i) {
    unsigned long v = static_cast<unsigned long>(arcs[i]);
    int groups = 1;
    while ((v >> (kOidArcBits * groups)) != 0) ++groups;
    for (int g = groups - 1; g > 0; --g) {
      out[n++] =
          static_cast<unsigned char>(kLongFormFlag | ((v >> (kOidArcBits * g)) & kOidArcMask));
    }
    out[n++] = static_cast<unsigned char>(v & kOidArcMask);
  }
  return n;
}
