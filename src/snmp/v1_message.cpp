#include "snmp/v1_message.h"

#include <cstring>

#include "usbink/ber.h"
#include "usbink/netio.h"

namespace usbink {
namespace {

constexpr unsigned char kVersion1[] = {kBerInteger, 0x01, 0x00};

}  // namespace

bool prependV1Header(BerBackWriter& writer, const char* community) {
  const char* text = community != nullptr ? community : kDefaultCommunity;
  writer.shortOctetString(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
  writer.bytes(kVersion1);
  writer.wrapShort(kBerSequence, 0);
  return writer.ok();
}

}  // namespace usbink
