// The GetRequest PDU of the SNMP v1 messages the system sends, and the
// header every one carries in front of its PDU: version 0 and the community.
#pragma once

#include <cstddef>
#include <span>

#include "snmp/ber_back_writer.h"

namespace usbink {

// Size of a v1 message whose outer length is kShortLengthMax: tag, length
// octet and content. The v1 messages the system sends use short-form
// lengths only.
inline constexpr std::size_t kShortMessageMax = kShortLengthMax + 2;

// Writes a GetRequest PDU (request-id, error-status and error-index 0)
// naming the encoded identifier `oid` `count` times, each with a NULL value.
// Every length is one octet; a longer one fails the writer.
void writeGetRequestPdu(BerBackWriter& writer, std::span<const unsigned char> oid, int count);

// Puts version 0 and the community (read; null means kDefaultCommunity) in
// front of the PDU `writer` holds, and the message header in front of all.
// False when the message length would need more than one octet.
bool prependV1Header(BerBackWriter& writer, const char* community);

}  // namespace usbink
