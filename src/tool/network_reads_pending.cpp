// Placeholder SNMPv3 status reads until the SNMPv3 code joins the library:
// they fail, so only printers that answer SNMP v1 are reported.
#include "usbink/netio.h"

extern "C" {
bool NetworkReadStatusSNMPv3(const char*, const char*, PRINTER_STATUS*) { return false; }
bool NetworkReadStatusV6SNMPv3(const char*, const char*, PRINTER_STATUS*) { return false; }
}
