#include "discovery/printers.h"

#include <cstdio>
#include <exception>

#include "snmp/v1_test_util.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr const char* kAnyAddress4 = "0.0.0.0";
constexpr const char* kAnyAddress6 = "::";
constexpr std::uint32_t kGenErr = 5;

// Engine IDs: the expected enterprise's prefix 80 00 02 A2, or net-snmp's
// 80 00 1F 88, then format 03 (MAC address) and six octets naming the host.
std::string engineId(const char* enterprise, int host) {
  char id[64];
  std::snprintf(id, sizeof id, "%s030000000000%02x", enterprise, host);
  return id;
}
std::string expectedEngine(int host) {
  return engineId("800002a2", host);
}
std::string otherEngine(int host) {
  return engineId("80001f88", host);
}

AgentConfig agent(const std::string& sysObjectId, bool v1, const std::string& engine) {
  AgentConfig c;
  c.address4 = kAnyAddress4;
  c.address6 = kAnyAddress6;
  c.v1 = v1;
  c.engineId = engine;
  c.sysObjectId = sysObjectId;
  c.toner = kToner;
  return c;
}

Bytes encodedOid(const char* text) {
  Bytes out(kOidEncodedMax);
  out.resize(static_cast<std::size_t>(CNetIO::oidEncode(text, out.data())));
  return out;
}

}  // namespace

int snmpVersion(const Bytes& message) {
  try {
    const auto top = children(message, 0, message.size());
    const Element version = childrenOf(message, top.at(0)).at(0);
    return version.tag == kBerInteger && version.end - version.content == 1
               ? message[version.content]
               : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

namespace {

// A v1 GetResponse to a discovery request whose sysObjectID begins with
// model A's and runs past the 32 octets of a target.
Bytes overlongModelAnswer() {
  Bytes sysObjectId = encodedOid(kModelA);
  sysObjectId.resize(kTargetOidSize + 1, 0x01);
  return v1Response(varbind(encodedOid(kOidSysObjectId), kBerObjectId, sysObjectId));
}

// SNMPv3: the Report of a printer agent, then genErr with model A's
// sysObjectID to the real GET.
std::vector<Bytes> answerHostileV3(const Bytes& request) {
  const Bytes engine = fromHex(expectedEngine(kHostile));
  const auto genErr = [engine](const Bytes&) {
    AgentAnswer a = securedAgentAnswer(
        engine, {{encodedOid(kOidSysObjectId), kBerObjectId, encodedOid(kModelA)}});
    a.errorStatus = kGenErr;
    return std::vector<Bytes>{agentAnswer(a)};
  };
  return scriptedAgents({{engine, genErr}})(request);
}

std::vector<Bytes> answerHostile(const Bytes& request) {
  if (snmpVersion(request) == 0) return {overlongModelAnswer()};
  if (snmpVersion(request) == 3) return answerHostileV3(request);
  return {};
}

}  // namespace

DiscoveryPrinters::DiscoveryPrinters() {
  const auto startSnmpd = [&](int number, const AgentConfig& config) {
    m_segment.addHost(number).enter(
        [&] { m_snmpd.push_back(std::make_unique<SnmpdAgent>(config)); });
  };
  startSnmpd(kSnmpdModelA, agent(kModelA, true, expectedEngine(kSnmpdModelA)));
  m_segment.addHost(kPysnmpModelB).enter([&] {
    m_pysnmp.push_back(
        std::make_unique<PysnmpAgent>(agent(kModelB, true, expectedEngine(kPysnmpModelB))));
  });
  startSnmpd(kOtherVendor, agent(kOtherVendorModel, true, expectedEngine(kOtherVendor)));
  startSnmpd(kV3OnlyModelA, agent(kModelA, false, expectedEngine(kV3OnlyModelA)));
  startSnmpd(kOtherEnterprise, agent(kModelA, false, otherEngine(kOtherEnterprise)));
  // Bound to "::" without IPV6_V6ONLY, the responder takes IPv4 as well.
  m_segment.addHost(kHostile).enter(
      [&] { m_hostile = std::make_unique<RawResponder>(kAnyAddress6, answerHostile); });
}

DiscoveryPrinters::~DiscoveryPrinters() = default;

const SegmentHost& DiscoveryPrinters::host(int number) const {
  return m_segment.host(number);
}

}  // namespace usbink::test
