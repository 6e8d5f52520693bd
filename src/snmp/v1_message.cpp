#include "snmp/v1_message.h"

#include <cstdint>
#include <cstring>

#include "usbink/ber.h"
#include "usbink/netio.h"

namespace usbink {
namespace {

constexpr unsigned char kNullValue[] = {kBerNull, 0x00};
// request-id, error-status and error-index of a request: all zero.
constexpr int kPduIntegerCount = 3;
// SNMP v1 is version 0 on the wire.
constexpr std::uint32_t kVersion1 = 0;

}  // namespace

void writeGetRequestPdu(BerBackWriter& writer, std::span<const unsigned char> oid, int count) {
  for (int i = 0; i < count && writer.ok(); ++i) {
    const int binding = writer.size();
    writer.bytes(kNullValue);
    const int oidStart = writer.size();
    writer.bytes(oid);
    writer.wrapShort(kBerObjectId, oidStart);
    writer.wrapShort(kBerSequence, binding);
  }
  writer.wrapShort(kBerSequence, 0);
  for (int i = 0; i < kPduIntegerCount; ++i) writer.integer(0);
  writer.wrapShort(kPduGetRequest, 0);
}

bool prependV1Header(BerBackWriter& writer, const char* community) {
  const char* text = community != nullptr ? community : kDefaultCommunity;
  writer.shortOctetString(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
  writer.integer(kVersion1);
  writer.wrapShort(kBerSequence, 0);
  return writer.ok();
}

}  // namespace usbink
