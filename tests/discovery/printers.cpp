#include "discovery/printers.h"


#include <cstdio>
#include <stdexcept>

#include "snmp/v1_test_util.h"
#include "support/process.h"
#include "usbink/ber.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr const char* kBridge = "br0";
constexpr const char* kHostInterface = "eth0";
constexpr int kHostile = 16;

void joinBridge(const std::string& port, const std::string& switchNamespace) {
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "master", kBridge});
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "up"});
}

// The enterprise prefix (the expected 800002a2 or net-snmp's 80001f88),
// format 03 (MAC address) and six octets naming the host.
std::string engineId(int host, const char* enterprise = "800002a2") {
  char id[64];
  std::snprintf(id, sizeof id, "%s030000000000%02x", enterprise, host);
  return id;
}

// An agent on every address of host `host`.
AgentConfig agent(int host, const char* sysObjectId, bool v1, const std::string& engine) {
  return {.address4 = "0.0.0.0",
          .address6 = "::",
          .v1 = v1,
          .engineId = engine.empty() ? engineId(host) : engine,
          .toner = kToner,
          .sysObjectId = sysObjectId};
}

// The library's requests have a length of one octet, or of two (81 LL).
int snmpVersion(const Bytes& request) {
  const std::size_t at = request.size() > 1 && request[1] == 0x81 ? 3 : 2;
  return request.size() > at + 2 && request[at] == kBerInteger && request[at + 1] == 1
             ? request[at + 2]
             : -1;
}

std::vector<Bytes> answerHostile(const Bytes& request) {
  if (snmpVersion(request) == 0) {
    Bytes sysObjectId = encodedOid(kModelA);
    sysObjectId.resize(kTargetOidSize + 1, 0x01);
    return {sysObjectIdAnswer(sysObjectId)};
  }
  const Bytes engine = fromHex(engineId(kHostile));
  const auto genErr = [engine](const Bytes&) {
    AgentAnswer a = securedAgentAnswer(
        engine, {{encodedOid(kOidSysObjectId), kBerObjectId, encodedOid(kModelA)}});
    a.errorStatus = 5;  // genErr
    return std::vector<Bytes>{agentAnswer(a)};
  };
  return snmpVersion(request) == 3 ? scriptedAgents({{engine, genErr}})(request)
                                   : std::vector<Bytes>{};
}

}  // namespace

DiscoveryPrinters::DiscoveryPrinters() {
  if (!inPrivateNetwork()) {
    throw std::runtime_error("DiscoveryPrinters reconfigure their caller's network");
  }
  const std::string& sw = m_switch.name();
  runChecked({"ip", "-n", sw, "link", "add", kBridge, "type", "bridge", "mcast_snooping", "0"});
  runChecked({"ip", "-n", sw, "link", "set", kBridge, "up"});
  disableDuplicateAddressDetection();
  for (int i = 0; i < 2; ++i) {
    const std::string port = "c" + std::to_string(i), host = std::to_string(100 + i);
    runChecked({"ip", "link", "add", kClientInterfaces[i], "type", "veth", "peer", "name", port,
                "netns", sw});
    joinBridge(port, sw);
    runChecked({"ip", "addr", "add", "192.0.2." + host + "/24", "dev", kClientInterfaces[i]});
    runChecked(
        {"ip", "addr", "add", "2001:db8::" + host + "/64", "dev", kClientInterfaces[i], "nodad"});
    runChecked({"ip", "link", "set", kClientInterfaces[i], "up"});
  }
  // A limited broadcast from an unbound socket needs a route to leave by.
  runChecked({"ip", "route", "add", "default", "dev", kClientInterfaces[0]});

  const auto snmpd = [&](int host, const char* model, bool v1, const std::string& engine = "") {
    addHost(host).enter(
        [&] { m_snmpd.push_back(std::make_unique<SnmpdAgent>(agent(host, model, v1, engine))); });
  };
  snmpd(11, kModelA, true);
  addHost(12).enter(
      [&] { m_pysnmp = std::make_unique<PysnmpAgent>(agent(12, kModelB, true, "")); });
  snmpd(13, "1.3.6.1.4.1.8072.3.2.10", true);
  snmpd(14, kModelA, false);
  snmpd(15, kModelA, false, engineId(15, "80001f88"));
  // Bound to "::" without IPV6_V6ONLY, the responder takes IPv4 as well.
  addHost(kHostile).enter([&] { m_hostile = std::make_unique<RawResponder>("::", answerHostile); });
}

DiscoveryPrinters::~DiscoveryPrinters() = default;

const NamedNamespace& DiscoveryPrinters::addHost(int number) {
  const NamedNamespace& host = *m_hosts.emplace_back(
      std::make_unique<NamedNamespace>("usbink-dsc-h" + std::to_string(number) + "-"));
  const std::string& ns = host.name();
  const std::string port = "h" + std::to_string(number), n = std::to_string(number);
  disableDuplicateAddressDetection(ns);
  runChecked({"ip", "-n", ns, "link", "set", "lo", "up"});
  runChecked({"ip", "-n", m_switch.name(), "link", "add", port, "type", "veth", "peer", "name",
              kHostInterface, "netns", ns});
  joinBridge(port, m_switch.name());
  // No link-local address from the MAC: answers come from fe80::N only.
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "addrgenmode", "none"});
  runChecked({"ip", "-n", ns, "addr", "add", "192.0.2." + n + "/24", "dev", kHostInterface});
  for (const std::string prefix : {"2001:db8::", "fe80::"}) {
    runChecked({"ip", "-n", ns, "addr", "add", prefix + n + "/64", "dev", kHostInterface, "nodad"});
  }
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "up"});
  return host;
}

Bytes sysObjectIdAnswer(const Bytes& sysObjectId) {
  return v1Response(varbind(encodedOid(kOidSysObjectId), kBerObjectId, sysObjectId));
}

Bytes encodedOid(const char* text) {
  Bytes out(kOidEncodedMax);
  out.resize(static_cast<std::size_t>(CNetIO::oidEncode(text, out.data())));
  return out;
}

}  // namespace usbink::test
