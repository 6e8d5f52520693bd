#include "discovery/printers.h"

#include <stdexcept>

#include "snmp/v1_test_util.h"
#include "support/process.h"
#include "usbink/ber.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr int kHostile = 16;
std::string engineId(int host) {  // enterprise (15: net-snmp's), format 03 (MAC), host
  return std::string(host == 15 ? "80001f88" : "800002a2") + "030000000000" + std::to_string(host);
}

std::vector<Bytes> answerHostile(const Bytes& request) {
  // The library's requests have a length of one octet or of two (81 LL).
  const int version = request.at(request.at(1) == 0x81 ? 5 : 4);
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
  disableDuplicateAddressDetection();
  // A limited broadcast from an unbound socket needs a route to leave by.
  runChecked({"sh", "-ec",
              R"(ip -n $0 link add br0 type bridge mcast_snooping 0; ip -n $0 link set br0 up
veth() {
  ip link add $1 type veth peer name $2 netns $0; ip -n $0 link set $2 master br0 up
  ip addr add 192.0.2.$3/24 dev $1; ip addr add 2001:db8::$3/64 dev $1 nodad; ip link set $1 up
}
veth $1 c0 100; veth $2 c1 101; ip route add default dev $1)",
              m_switch.name(), kClientInterfaces[0], kClientInterfaces[1]});
  for (int host = 11; host <= 15; ++host) {  // 12 pysnmp, 13 another vendor, 14 and 15 v3 only
    AgentConfig config{.address4 = "0.0.0.0", .address6 = "::", .v1 = host < 14, .toner = kToner};
    config.engineId = engineId(host);
    config.sysObjectId = host == 12 ? kModelB : host == 13 ? "1.3.6.1.4.1.8072.3.2.10" : kModelA;
    addHost(host).enter([&] {
      if (host == 12) m_pysnmp = std::make_unique<PysnmpAgent>(config);
      if (host != 12) m_snmpd.push_back(std::make_unique<SnmpdAgent>(config));
    });
  }
  // Bound to "::" without IPV6_V6ONLY, the responder takes IPv4 as well.
  addHost(kHostile).enter([&] { m_hostile = std::make_unique<RawResponder>("::", answerHostile); });
}

const NamedNamespace& DiscoveryPrinters::addHost(int number) {
  const std::string n = std::to_string(number);
  const auto& host =
      *m_hosts.emplace_back(std::make_unique<NamedNamespace>("usbink-dsc-h" + n + "-"));
  disableDuplicateAddressDetection(host.name());
  // No link-local address from the MAC: answers come from fe80::N only.
  runChecked({"sh", "-ec",
              R"(ip -n $0 link set lo up; ip -n $1 link add h$2 type veth peer name eth0 netns $0
ip -n $1 link set h$2 master br0 up; ip -n $0 link set eth0 addrgenmode none
ip -n $0 addr add 192.0.2.$2/24 dev eth0; ip -n $0 addr add 2001:db8::$2/64 dev eth0 nodad
ip -n $0 addr add fe80::$2/64 dev eth0 nodad; ip -n $0 link set eth0 up)",
              host.name(), m_switch.name(), n});
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
