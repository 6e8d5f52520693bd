// SNMPv3 datagrams as they reach the engine discovery: any bytes, parsed
// with no keys in the record (the state before the real request).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "usbink/netio.h"
#include "v3_consumer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that any read past the datagram is caught.
  std::vector<unsigned char> datagram(data, data + size);
  _SNMP_PARAM_V3 params{};
  params.valueCallback = touchEveryOctet;
  unsigned char errorStatus = 0;
  unsigned char errorIndex = 0;
  int version = 0;
  unsigned char requestId = 0;
  CNetIO::parseSnmpV3Response(datagram.data(), static_cast<int>(datagram.size()), &version,
                              &requestId, &errorStatus, &errorIndex, &params);
  return 0;
}
