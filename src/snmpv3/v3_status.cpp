// The printer's status over SNMPv3: the device-ID object read in an
// authenticated, encrypted GET and its status block decoded.
#include "snmp/udp.h"
#include "snmpv3/v3_exchange.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/status.h"

namespace {

// An answer whose value is no OCTET STRING (snmpd's noSuchObject, an
// authenticated Report) leaves nothing in g_deviceid, so it is emptied
// before every parse: such an answer then decodes nothing instead of the
// text of an earlier response.
void clearDeviceId() {
  g_deviceid[0] = '\0';
}

bool readStatus(usbink::V3Exchange x, PRINTER_STATUS* status) {
  if (status == nullptr) return false;
  const char* oids[] = {kOidDeviceId};
  x.oidCount = 1;
  x.oids = oids;
  x.consumer = outputDeviceIdValue;
  x.beforeResponseParse = clearDeviceId;
  x.onResponse = [status] {
    CTavrenCmd decoder;
    return decoder.DecodStatusFromDeviceID(g_deviceid, status) != -1;
  };
  return usbink::runV3Exchange(x);
}

}  // namespace

// A name that does not resolve returns false before anything is sent; the
// resolver's list is released inside firstAddressFamily.
bool CNetIO::NetworkReadStatusSNMPv3(const char* community, const char* address,
                                     PRINTER_STATUS* status) {
  int error = 0;
  const int family = usbink::firstAddressFamily(address, &error);
  if (family < 0) return false;
  if (family == AF_INET6) return NetworkReadStatusV6SNMPv3(community, address, status);
  return readStatus(usbink::v3ExchangeV4(address, usbink::V3Trace::kSilent), status);
}

bool CNetIO::NetworkReadStatusV6SNMPv3(const char* /*community*/, const char* address,
                                       PRINTER_STATUS* status) {
  return readStatus(usbink::v3ExchangeV6(address), status);
}

extern "C" bool NetworkReadStatusSNMPv3(const char* community, const char* address,
                                        PRINTER_STATUS* status) {
  CNetIO io;
  return io.NetworkReadStatusSNMPv3(community, address, status);
}

extern "C" bool NetworkReadStatusV6SNMPv3(const char* community, const char* address,
                                          PRINTER_STATUS* status) {
  CNetIO io;
  return io.NetworkReadStatusV6SNMPv3(community, address, status);
}
