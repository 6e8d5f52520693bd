// Back-to-front assembly of SNMP v1 messages: every element is written in
// front of what it contains, so each length is known before its header.
#pragma once

#include <cstddef>
#include <span>

namespace usbink {

// The largest length a one-octet (short-form) length field holds. The v1
// messages the system sends use short-form lengths only.
inline constexpr std::size_t kShortLengthMax = 127;
// Size of a v1 message whose outer length is kShortLengthMax: tag, length
// octet and content.
inline constexpr std::size_t kShortMessageMax = kShortLengthMax + 2;

// Writes into a caller's area from its end towards its start; a write that
// does not fit in front of what is already written is refused.
class BackWriter {
 public:
  explicit BackWriter(std::span<unsigned char> area)
      : m_begin(area.data()), m_pos(area.data() + area.size()), m_end(m_pos) {}

  bool prepend(std::span<const unsigned char> bytes);
  bool prependByte(unsigned char byte) { return prepend({&byte, 1}); }
  // Tag and one-octet length of an element whose `length` content octets
  // are already written; refuses a length that needs the long form.
  bool prependHeader(unsigned char tag, std::size_t length);

  std::size_t size() const { return static_cast<std::size_t>(m_end - m_pos); }
  std::span<const unsigned char> written() const { return {m_pos, size()}; }

 private:
  unsigned char* m_begin;
  unsigned char* m_pos;
  unsigned char* m_end;
};

// Puts version 0 and the community (read; null means kDefaultCommunity) in
// front of the PDU `writer` holds, and the message header in front of all.
// False when the message length would need more than one octet.
bool prependV1Header(BackWriter& writer, const char* community);

}  // namespace usbink
