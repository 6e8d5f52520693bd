#include "discovery/printers.h"

#include <gtest/gtest.h>
#include <net/if.h>
// net/if.h's macro would rename the member of the interface table.
#undef ifr_name

#include <cstdio>
#include <stdexcept>

#include "snmp/v1_test_util.h"
#include "support/process.h"
#include "usbink/ber.h"
#include "usbink/interfaces.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr const char* kBridge = "br0";
constexpr const char* kHostInterface = "eth0";
constexpr std::uint32_t kGenErr = 5;

void joinBridge(const std::string& port, const std::string& switchNamespace) {
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "master", kBridge});
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "up"});
}

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

// An agent listening on every address of its host.
AgentConfig agent(const std::string& sysObjectId, bool v1, const std::string& engine) {
  AgentConfig c;
  c.address4 = "0.0.0.0";
  c.address6 = "::";
  c.v1 = v1;
  c.engineId = engine;
  c.sysObjectId = sysObjectId;
  c.toner = kToner;
  return c;
}

// v1: a sysObjectID that begins with model A's and runs past the 32 octets
// of a target. SNMPv3: the Report of a printer agent, then genErr with model
// A's sysObjectID to the real GET.
std::vector<Bytes> answerHostile(const Bytes& request) {
  if (snmpVersion(request) == 0) {
    Bytes sysObjectId = encodedOid(kModelA);
    sysObjectId.resize(kTargetOidSize + 1, 0x01);
    return {sysObjectIdAnswer(sysObjectId)};
  }
  const Bytes engine = fromHex(expectedEngine(kHostile));
  const auto genErr = [engine](const Bytes&) {
    AgentAnswer a = securedAgentAnswer(
        engine, {{encodedOid(kOidSysObjectId), kBerObjectId, encodedOid(kModelA)}});
    a.errorStatus = kGenErr;
    return std::vector<Bytes>{agentAnswer(a)};
  };
  return snmpVersion(request) == 3 ? scriptedAgents({{engine, genErr}})(request)
                                   : std::vector<Bytes>{};
}

}  // namespace

SegmentHost::SegmentHost(const std::string& switchNamespace, int number)
    : m_number(number), m_namespace("usbink-dsc-h" + std::to_string(number) + "-") {
  const std::string& ns = m_namespace.name();
  const std::string port = "h" + std::to_string(number);
  disableDuplicateAddressDetection(ns);
  runChecked({"ip", "-n", ns, "link", "set", "lo", "up"});
  runChecked({"ip", "-n", switchNamespace, "link", "add", port, "type", "veth", "peer", "name",
              kHostInterface, "netns", ns});
  joinBridge(port, switchNamespace);
  // No link-local address derived from the MAC: fe80::N is the only one, so
  // that answers come from a known address.
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "addrgenmode", "none"});
  runChecked({"ip", "-n", ns, "addr", "add", address4() + "/24", "dev", kHostInterface});
  for (const std::string prefix : {"2001:db8::", "fe80::"}) {
    runChecked({"ip", "-n", ns, "addr", "add", prefix + std::to_string(number) + "/64", "dev",
                kHostInterface, "nodad"});
  }
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "up"});
}

DiscoveryPrinters::DiscoveryPrinters() {
  if (!inPrivateNetwork()) {
    throw std::runtime_error("DiscoveryPrinters reconfigure their caller's network");
  }
  const std::string& sw = m_switch.name();
  runChecked({"ip", "-n", sw, "link", "add", kBridge, "type", "bridge", "mcast_snooping", "0"});
  runChecked({"ip", "-n", sw, "link", "set", kBridge, "up"});
  disableDuplicateAddressDetection();
  for (int i = 0; i < kClientInterfaceCount; ++i) {
    const std::string port = "c" + std::to_string(i);
    const std::string host = std::to_string(100 + i);
    runChecked({"ip", "link", "add", kClientInterfaces[i], "type", "veth", "peer", "name", port,
                "netns", sw});
    joinBridge(port, sw);
    runChecked({"ip", "addr", "add", "192.0.2." + host + "/24", "dev", kClientInterfaces[i]});
    runChecked(
        {"ip", "addr", "add", "2001:db8::" + host + "/64", "dev", kClientInterfaces[i], "nodad"});
    runChecked({"ip", "link", "set", kClientInterfaces[i], "up"});
  }
  // A limited broadcast from a socket bound to no address needs a route to
  // leave by; inside the private namespace it still reaches only the bridge.
  runChecked({"ip", "route", "add", "default", "dev", kClientInterfaces[0]});

  const auto startSnmpd = [&](int number, const AgentConfig& config) {
    addHost(number).enter([&] { m_snmpd.push_back(std::make_unique<SnmpdAgent>(config)); });
  };
  startSnmpd(kSnmpdModelA, agent(kModelA, true, expectedEngine(kSnmpdModelA)));
  addHost(kPysnmpModelB).enter([&] {
    m_pysnmp.push_back(
        std::make_unique<PysnmpAgent>(agent(kModelB, true, expectedEngine(kPysnmpModelB))));
  });
  startSnmpd(kOtherVendor, agent(kOtherVendorModel, true, expectedEngine(kOtherVendor)));
  startSnmpd(kV3OnlyModelA, agent(kModelA, false, expectedEngine(kV3OnlyModelA)));
  startSnmpd(kOtherEnterprise, agent(kModelA, false, engineId("80001f88", kOtherEnterprise)));
  // Bound to "::" without IPV6_V6ONLY, the responder takes IPv4 as well.
  addHost(kHostile).enter([&] { m_hostile = std::make_unique<RawResponder>("::", answerHostile); });
}

DiscoveryPrinters::~DiscoveryPrinters() = default;

SegmentHost& DiscoveryPrinters::addHost(int number) {
  m_hosts.push_back(std::make_unique<SegmentHost>(m_switch.name(), number));
  return *m_hosts.back();
}

// The library's requests have a length of one octet, or of two (81 LL).
int snmpVersion(const Bytes& request) {
  const std::size_t at = request.size() > 1 && request[1] == 0x81 ? 3 : 2;
  return request.size() > at + 2 && request[at] == kBerInteger && request[at + 1] == 1
             ? request[at + 2]
             : -1;
}

Bytes sysObjectIdAnswer(const Bytes& sysObjectId) {
  return v1Response(varbind(encodedOid(kOidSysObjectId), kBerObjectId, sysObjectId));
}

Bytes encodedOid(const char* text) {
  Bytes out(kOidEncodedMax);
  out.resize(static_cast<std::size_t>(CNetIO::oidEncode(text, out.data())));
  return out;
}

namespace {

std::unique_ptr<DiscoveryPrinters> g_printers;

class PrintersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { g_printers = std::make_unique<DiscoveryPrinters>(); }
  void TearDown() override { g_printers.reset(); }
};

}  // namespace

bool record(char* address, char* info, void* user) {
  EXPECT_EQ(info, nullptr);
  ++(*static_cast<Counts*>(user))[address];
  return true;
}

DiscoveryPrinters& printers() {
  return *g_printers;
}

namespace {

int clientIndex(int i) {
  return static_cast<int>(if_nametoindex(kClientInterfaces[i]));
}

std::string interfaceText(int index) {
  char name[IF_NAMESIZE] = {};
  return std::to_string(index) + " %" +
         (if_indextoname(static_cast<unsigned>(index), name) ? name : "");
}

}  // namespace

void forgetInterface() {
  scope_id = 0;
  std::snprintf(g_ifsName, kIfsNameSize, "%%en0");
}

void rememberClientInterface(int i) {
  scope_id = clientIndex(i);
  std::snprintf(g_ifsName, kIfsNameSize, "%%%s", kClientInterfaces[i]);
}

std::string rememberedInterface() {
  return std::to_string(scope_id) + " " + g_ifsName;
}

std::string clientInterface(int i) {
  return interfaceText(clientIndex(i));
}

int runDiscoveryTests(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new PrintersEnvironment);
  return runInPrivateNetwork(argc, argv);
}

}  // namespace usbink::test
