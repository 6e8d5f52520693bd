#include "discovery/printers.h"

#include <stdexcept>

#include "snmp/v1_test_util.h"
#include "support/process.h"
#include "usbink/ber.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr const char* kBridge = "br0";
constexpr int kHostile = 16;

// The enterprise (expected 800002a2, net-snmp's 80001f88), format 03 (MAC), the host.
std::string engineId(int host, const std::string& enterprise = "800002a2") {
  return enterprise + "030000000000" + std::to_string(host);  // hosts 11 to 17
}

std::vector<Bytes> answerHostile(const Bytes& request) {
  // The library's requests have a length of one octet or of two (81 LL).
  const int version = request[request[1] == 0x81 ? 5 : 4];
  if (version == 0) {
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
  return version == 3 ? scriptedAgents({{engine, genErr}})(request) : std::vector<Bytes>{};
}

}  // namespace

DiscoveryPrinters::DiscoveryPrinters() {
  if (!inPrivateNetwork()) throw std::runtime_error("DiscoveryPrinters need a private network");
  const std::string& sw = m_switch.name();
  runChecked({"ip", "-n", sw, "link", "add", kBridge, "type", "bridge", "mcast_snooping", "0"});
  runChecked({"ip", "-n", sw, "link", "set", kBridge, "up"});
  disableDuplicateAddressDetection();
  for (int i = 0; i < 2; ++i) {
    const std::string port = "c" + std::to_string(i), host = std::to_string(100 + i);
    const char* const name = kClientInterfaces[i];
    runChecked({"ip", "link", "add", name, "type", "veth", "peer", "name", port, "netns", sw});
    runChecked({"ip", "-n", sw, "link", "set", port, "master", kBridge, "up"});
    runChecked({"ip", "addr", "add", "192.0.2." + host + "/24", "dev", name});
    runChecked({"ip", "addr", "add", "2001:db8::" + host + "/64", "dev", name, "nodad"});
    runChecked({"ip", "link", "set", name, "up"});
  }
  // A limited broadcast from an unbound socket needs a route to leave by.
  runChecked({"ip", "route", "add", "default", "dev", kClientInterfaces[0]});
  const auto agent = [&](int host, const char* model, bool v1, const std::string& engine = "") {
    AgentConfig config{.address4 = "0.0.0.0", .address6 = "::", .v1 = v1, .toner = kToner};
    config.engineId = engine.empty() ? engineId(host) : engine;
    config.sysObjectId = model;
    addHost(host).enter([&] {
      if (host == 12) m_pysnmp = std::make_unique<PysnmpAgent>(config);
      if (host != 12) m_snmpd.push_back(std::make_unique<SnmpdAgent>(config));
    });
  };
  agent(11, kModelA, true);
  agent(12, kModelB, true);
  agent(13, "1.3.6.1.4.1.8072.3.2.10", true);
  agent(14, kModelA, false);
  agent(15, kModelA, false, engineId(15, "80001f88"));
  // Bound to "::" without IPV6_V6ONLY, the responder takes IPv4 as well.
  addHost(kHostile).enter([&] { m_hostile = std::make_unique<RawResponder>("::", answerHostile); });
}

const NamedNamespace& DiscoveryPrinters::addHost(int number) {
  const std::string n = std::to_string(number), port = "h" + n;
  const std::string& ns =
      m_hosts.emplace_back(std::make_unique<NamedNamespace>("usbink-dsc-h" + n + "-"))->name();
  disableDuplicateAddressDetection(ns);
  runChecked({"ip", "-n", ns, "link", "set", "lo", "up"});
  runChecked({"ip", "-n", m_switch.name(), "link", "add", port, "type", "veth", "peer", "name",
              "eth0", "netns", ns});
  runChecked({"ip", "-n", m_switch.name(), "link", "set", port, "master", kBridge, "up"});
  // No link-local address from the MAC: answers come from fe80::N only.
  runChecked({"ip", "-n", ns, "link", "set", "eth0", "addrgenmode", "none"});
  runChecked({"ip", "-n", ns, "addr", "add", "192.0.2." + n + "/24", "dev", "eth0"});
  for (const std::string prefix : {"2001:db8::", "fe80::"}) {
    runChecked({"ip", "-n", ns, "addr", "add", prefix + n + "/64", "dev", "eth0", "nodad"});
  }
  runChecked({"ip", "-n", ns, "link", "set", "eth0", "up"});
  return *m_hosts.back();
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
