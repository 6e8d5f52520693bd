// SNMP v1 GetResponses from the network: any bytes. The first byte picks
// the consumer (the bare parser with every output, the generic value, the
// device ID with its status block, or sysObjectID against two targets); the
// rest is the datagram, in a block of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

const unsigned char* g_begin = nullptr;
const unsigned char* g_end = nullptr;

bool inside(const unsigned char* p, int n) {
  return n >= 0 && p >= g_begin && n <= g_end - p;
}

// Every variable handed out must lie inside the datagram.
bool checkingCallback(unsigned char* oid, int oidLength, unsigned char, unsigned char* value,
                      int valueLength) {
  if (!inside(oid, oidLength) || !inside(value, valueLength)) std::abort();
  return true;
}

int parseWithEveryOutput(unsigned char* data, int length) {
  int version = 0;
  char community[kCommunityCapacity];
  unsigned char requestId = 0, errorStatus = 0, errorIndex = 0;
  return CNetIO::parseGetResponse(data, length, &version, community, &requestId, &errorStatus,
                                  &errorIndex, checkingCallback);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::vector<unsigned char> datagram(data + 1, data + size);
  g_begin = datagram.data();
  g_end = datagram.data() + datagram.size();
  const int length = static_cast<int>(datagram.size());
  char out[kRecvBufSize];
  PRINTER_STATUS status;
  static CNetIO net;
  switch (data[0] % 4) {
    case 0:
      parseWithEveryOutput(datagram.data(), length);
      break;
    case 1:
      CNetIO::parseForRecvBuf(datagram.data(), length, out);
      break;
    case 2:
      CNetIO::parseForDeviceId(datagram.data(), length, &status);
      break;
    default:
      net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", kOidSysObjectId);
      net.parseForOID(datagram.data(), length, nullptr, 0);
      break;
  }
  return 0;
}
