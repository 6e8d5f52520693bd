// Writes a BER message back to front into a fixed work area, so that every
// length is known before its tag and length octets go in front of the
// content. A write that would pass the start of the area writes nothing and
// marks the writer failed; callers check ok() once at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "usbink/ber.h"
#include "usbink/netio.h"

namespace usbink {

// The largest length a one-octet (short-form) length field holds.
inline constexpr std::size_t kShortLengthMax = 127;

class BerBackWriter {
 public:
  explicit BerBackWriter(std::span<unsigned char> area)
      : m_begin(area.data()), m_end(area.data() + area.size()), m_pos(m_end) {}

  bool ok() const { return m_ok; }
  // Bytes written so far; they start at data().
  int size() const { return static_cast<int>(m_end - m_pos); }
  unsigned char* data() const { return m_pos; }
  std::span<const unsigned char> written() const {
    return {m_pos, static_cast<std::size_t>(m_end - m_pos)};
  }

  void bytes(const unsigned char* p, std::size_t n) {
    if (!room(n)) return;
    m_pos -= n;
    if (n != 0) std::memcpy(m_pos, p, n);
  }
  void bytes(std::span<const unsigned char> b) { bytes(b.data(), b.size()); }
  void byte(unsigned char b) { bytes(&b, 1); }
  void zeros(std::size_t n) {
    if (!room(n)) return;
    m_pos -= n;
    std::memset(m_pos, 0, n);
  }

  // Definite-form length octets (short form up to 127, else minimal long form).
  void berLength(std::size_t n) {
    std::array<unsigned char, 9> scratch;
    unsigned char* end = scratch.data() + scratch.size();
    const unsigned char* start = CNetIO::berEncodeLength(end, n);
    bytes(start, static_cast<std::size_t>(end - start));
  }
  // A single length octet; lengths above 127 cannot be written this way and
  // fail the writer.
  void shortLength(std::size_t n) {
    if (n > kShortLengthMax) {
      m_ok = false;
      return;
    }
    byte(static_cast<unsigned char>(n));
  }

  // INTEGER of a non-negative value in the fewest octets of two's complement
  // (a leading zero octet when the top bit would be set).
  void integer(std::uint32_t value) {
    std::array<unsigned char, 5> octets{};
    int n = 0;
    do {
      octets[octets.size() - 1 - n++] = static_cast<unsigned char>(value);
      value >>= 8;
    } while (value != 0);
    if (octets[octets.size() - n] & 0x80) ++n;  // the zero octet already there
    bytes(octets.data() + octets.size() - n, static_cast<std::size_t>(n));
    shortLength(static_cast<std::size_t>(n));
    byte(kBerInteger);
  }

  // An OCTET STRING with a one-octet length; a null or empty content gives 04 00.
  void shortOctetString(const unsigned char* p, std::size_t n) {
    bytes(p, p == nullptr ? 0 : n);
    shortLength(p == nullptr ? 0 : n);
    byte(kBerOctetString);
  }

  // Puts `tag` and the BER length of everything written since `mark` (an
  // earlier size()) in front, making it one element.
  void wrap(unsigned char tag, int mark) {
    berLength(static_cast<std::size_t>(size() - mark));
    byte(tag);
  }
  // The same with a one-octet length: content longer than 127 octets fails
  // the writer.
  void wrapShort(unsigned char tag, int mark) {
    shortLength(static_cast<std::size_t>(size() - mark));
    byte(tag);
  }

 private:
  bool room(std::size_t n) {
    if (!m_ok || n > static_cast<std::size_t>(m_pos - m_begin)) {
      m_ok = false;
      return false;
    }
    return true;
  }

  unsigned char* m_begin;
  unsigned char* m_end;
  unsigned char* m_pos;
  bool m_ok = true;
};

}  // namespace usbink
