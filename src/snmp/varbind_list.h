// The variable-binding list at the end of every PDU the SNMP parsers accept,
// read the same way for v1 and SNMPv3 answers.
#pragma once

#include "snmp/ber_cursor.h"
#include "usbink/netio.h"

namespace usbink {

// Reads the varbind list at `cursor` and hands each binding to `callback`
// (when given). A lone 0x80 length or an empty list is accepted without a
// callback; a list that claims more octets than the data holds is refused.
// The OID and the value of each binding must lie inside the list, so no
// inner length reaches past it; a binding's own length is not used. Octets
// after the list are not examined.
bool readVarbindList(BerCursor& cursor, SnmpValueCallback callback);

}  // namespace usbink
