// Printer name, firmware version and controller firmware version over
// SNMPv3, asked for in one authenticated, encrypted GET.
#include <netdb.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "snmp/udp.h"
#include "snmpv3/v3_exchange.h"
#include "usbink/agent_values.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

constexpr int kValueCount = 3;

// Encodes the three OIDs into the table and clears their values; done for
// every discovery answer, so a later response that lacks a value leaves
// the value of an earlier one of the same agent in place.
void prepareValueTable() {
  CNetIO::oidEncode(kOidSysName, _sysNameOid);
  CNetIO::oidEncode(kOidFwVersion, _pvtFwVerOid);
  CNetIO::oidEncode(kOidMcuVersion, _pvtMcuVerOid);
  std::memset(_sysNameValue, 0, kAgentValueSize);
  std::memset(_pvtFwVerValue, 0, kAgentValueSize);
  std::memset(_pvtMcuVerValue, 0, kAgentValueSize);
}

// Copies each value that arrived non-empty to its output (at most 127
// characters and the NUL); true when any was copied.
bool copyDeliveredValues(char* name, char* fwVersion, char* mcuVersion) {
  const std::array<std::pair<const char*, char*>, kValueCount> pairs = {
      {{_sysNameValue, name}, {_pvtFwVerValue, fwVersion}, {_pvtMcuVerValue, mcuVersion}}};
  bool any = false;
  for (const auto& [value, out] : pairs) {
    if (value[0] == '\0' || out == nullptr) continue;
    std::strcpy(out, value);
    any = true;
  }
  return any;
}

bool queryValues(usbink::V3Exchange x, char* name, char* fwVersion, char* mcuVersion) {
  // The three objects, in the order they are requested.
  const char* oids[kValueCount] = {kOidSysName, kOidFwVersion, kOidMcuVersion};
  x.oidCount = kValueCount;
  x.oids = oids;
  x.consumer = searchAgentProCallbackEx2;
  x.beforeDiscoveryParse = prepareValueTable;
  if (x.trace == usbink::V3Trace::kIpv4Query) {
    x.beforeResponseParse = [] { std::puts("parseSnmpV3Response begin"); };
  }
  x.onResponse = [&] { return copyDeliveredValues(name, fwVersion, mcuVersion); };
  return usbink::runV3Exchange(x);
}

}  // namespace

int CNetIO::TavrenNetworkGetNameAndFwAndMCUVersion(const char* address, char* name, char* fwVersion,
                                                   char* mcuVersion, int reserved) {
  const int family = usbink::firstAddressFamilyOrReport(address);
  if (family < 0) return -1;
  const bool found = family == AF_INET6
                         ? NetSnmpGetV6SNMPv3(address, name, fwVersion, mcuVersion, reserved)
                         : NetSnmpGetV4SNMPv3(address, name, fwVersion, mcuVersion, reserved);
  return found ? 0 : -1;
}

bool CNetIO::NetSnmpGetV4SNMPv3(const char* address, char* name, char* fwVersion, char* mcuVersion,
                                int /*reserved*/) {
  return queryValues(usbink::v3ExchangeV4(address, usbink::V3Trace::kIpv4Query), name, fwVersion,
                     mcuVersion);
}

bool CNetIO::NetSnmpGetV6SNMPv3(const char* address, char* name, char* fwVersion, char* mcuVersion,
                                int /*reserved*/) {
  return queryValues(usbink::v3ExchangeV6(address), name, fwVersion, mcuVersion);
}
