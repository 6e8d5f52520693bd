// Placeholder status reads until the SNMP code joins the library: every
// network read fails, so network queues end without a report.
#include "usbink/netio.h"

extern "C" {
bool NetworkReadStatus(const char*, const char*, PRINTER_STATUS*) { return false; }
bool NetworkReadStatusV6(const char*, const char*, PRINTER_STATUS*) { return false; }
bool NetworkReadStatusSNMPv3(const char*, const char*, PRINTER_STATUS*) { return false; }
bool NetworkReadStatusV6SNMPv3(const char*, const char*, PRINTER_STATUS*) { return false; }
}
