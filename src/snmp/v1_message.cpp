#include "snmp/v1_message.h"

#include <algorithm>
#include <cstring>

#include "usbink/ber.h"
#include "usbink/netio.h"

namespace usbink {

namespace {

constexpr unsigned char kVersion1[] = {kBerInteger, 0x01, 0x00};

}  // namespace

bool BackWriter::prepend(std::span<const unsigned char> bytes) {
  if (bytes.size() > static_cast<std::size_t>(m_pos - m_begin)) return false;
  m_pos -= bytes.size();
  std::copy(bytes.begin(), bytes.end(), m_pos);
  return true;
}

bool BackWriter::prependHeader(unsigned char tag, std::size_t length) {
  if (length > kShortLengthMax) return false;
  return prependByte(static_cast<unsigned char>(length)) && prependByte(tag);
}

bool prependV1Header(BackWriter& writer, const char* community) {
  const char* text = community != nullptr ? community : kDefaultCommunity;
  const std::span<const unsigned char> characters(reinterpret_cast<const unsigned char*>(text),
                                                  std::strlen(text));
  return writer.prepend(characters) && writer.prependHeader(kBerOctetString, characters.size()) &&
         writer.prepend(kVersion1) && writer.prependHeader(kBerSequence, writer.size());
}

}  // namespace usbink
