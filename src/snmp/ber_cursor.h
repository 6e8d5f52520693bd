// A bounded reader over one received datagram. Every read checks what
// remains, so no length inside a message can move a read past its end.
#pragma once

#include <cstddef>

#include "usbink/ber.h"

namespace usbink {

// Length fields of more than four octets are refused: no SNMP message the
// system handles comes near 2^32 octets, and refusing keeps every length a
// non-negative int.
inline constexpr int kBerMaxLengthOctets = 4;

class BerCursor {
 public:
  BerCursor(unsigned char* begin, unsigned char* end) : m_pos(begin), m_end(end) {}

  unsigned char* pos() const { return m_pos; }
  unsigned char* end() const { return m_end; }
  std::ptrdiff_t remaining() const { return m_end - m_pos; }
  bool atEnd() const { return m_pos >= m_end; }

  // True when the next octet is `tag` (without consuming it).
  bool peekTag(unsigned char tag) const { return m_pos < m_end && *m_pos == tag; }

  // Consumes the next octet if it is `tag`.
  bool expectTag(unsigned char tag) {
    if (!peekTag(tag)) return false;
    ++m_pos;
    return true;
  }

  // Consumes any one octet into `*tag`.
  bool readTag(unsigned char* tag) {
    if (atEnd()) return false;
    *tag = *m_pos++;
    return true;
  }

  // Reads length octets by the definite-form rules (a lone 0x80 reads as
  // 0). Only the length octets themselves are checked against the end; the
  // caller decides what the length must fit. Sets `*indefinite` (when given)
  // for the lone 0x80.
  bool readLength(int* length, bool* indefinite = nullptr) {
    if (atEnd()) return false;
    const unsigned char first = *m_pos++;
    if (indefinite != nullptr) *indefinite = (first == 0x80);
    if (first < 0x80) {
      *length = first;
      return true;
    }
    const int count = first & 0x7F;
    if (count > kBerMaxLengthOctets || count > remaining()) return false;
    unsigned long value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | *m_pos++;
    if (value > 0x7FFFFFFFul) return false;
    *length = static_cast<int>(value);
    return true;
  }

  // Reads a tag-length-value with tag `tag` whose content lies wholly inside
  // the data; `content` and `length` (written) describe the content and the
  // cursor moves past it.
  bool readTlv(unsigned char tag, unsigned char** content, int* length) {
    if (!expectTag(tag) || !readLength(length) || *length > remaining()) return false;
    *content = m_pos;
    m_pos += *length;
    return true;
  }

  // Reads the tag and length of a constructed element whose length is not
  // used; the cursor stays at its first content octet.
  bool enter(unsigned char tag) {
    int ignored = 0;
    return expectTag(tag) && readLength(&ignored);
  }

  // Reads an INTEGER and hands out its first content octet (when `out` is
  // given). An INTEGER without content octets is refused: X.690 requires at
  // least one, and the octet would otherwise come from the next element.
  bool readIntegerOctet(unsigned char* out) {
    unsigned char* content = nullptr;
    int length = 0;
    if (!readTlv(kBerInteger, &content, &length) || length < 1) return false;
    if (out != nullptr) *out = content[0];
    return true;
  }

  // Reads the length of a constructed element that must run exactly to the
  // end of the data: nothing missing and nothing after it.
  bool lengthFillsRest() {
    int length = 0;
    return readLength(&length) && length == remaining();
  }

  bool skip(int count) {
    if (count < 0 || count > remaining()) return false;
    m_pos += count;
    return true;
  }

 private:
  unsigned char* m_pos;
  unsigned char* m_end;
};

}  // namespace usbink
