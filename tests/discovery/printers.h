// The discovery segment and its printers, the same for every discovery test
// binary. The segment is built from network namespaces: a bridge in a switch
// namespace; the calling process's private namespace as the client, joined
// to the bridge by two veth pairs; and one namespace per printer host, each
// joined by a veth pair of its own. Only 192.0.2.0/24, 2001:db8::/64 and
// link-local addresses are used, and nothing routes out of the namespaces.
// The printers are real agents (snmpd and pysnmp) listening on every address
// of their hosts, so that they answer broadcasts and multicasts, and a raw
// responder for answers no real agent sends.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"

namespace usbink::test {

// The client's interfaces in the system's order, holding 192.0.2.100+i and
// 2001:db8::100+i; the second has a name of 15 characters, the longest Linux
// allows.
inline constexpr int kClientInterfaceCount = 2;
inline constexpr const char* kClientInterfaces[kClientInterfaceCount] = {"dsc-c0",
                                                                         "discovery-cl-15"};

// The two printer models the tests search for, and a model of another vendor.
inline constexpr char kModelA[] = "1.3.6.1.4.1.26266.886.1.1";  // the harness agents' default
inline constexpr char kModelB[] = "1.3.6.1.4.1.26266.886.1.2";
inline constexpr char kOtherVendorModel[] = "1.3.6.1.4.1.8072.3.2.10";

// Host numbers on the segment.
inline constexpr int kSnmpdModelA = 11;      // snmpd, v1 and v3, model A
inline constexpr int kPysnmpModelB = 12;     // pysnmp, v1 and v3, model B
inline constexpr int kOtherVendor = 13;      // snmpd, v1 and v3, another vendor's model
inline constexpr int kV3OnlyModelA = 14;     // snmpd, v3 only, model A
inline constexpr int kOtherEnterprise = 15;  // as 14, with another enterprise's engine ID
inline constexpr int kHostile = 16;          // the raw responder (see hostile())
inline constexpr int kFlooding = 17;         // not started here: free for a test's own peer

// The toner level every real agent reports.
inline constexpr int kToner = 57;

// A host on the segment with host number N: its one interface "eth0" holds
// 192.0.2.N/24, 2001:db8::N/64 and fe80::N/64, its only link-local address.
class SegmentHost {
 public:
  SegmentHost(const std::string& switchNamespace, int number);
  std::string address4() const { return "192.0.2." + std::to_string(m_number); }
  // Runs `work` with this thread in the host's namespace (see NamedNamespace).
  void enter(const std::function<void()>& work) const { m_namespace.enter(work); }

 private:
  int m_number;
  NamedNamespace m_namespace;
};

class DiscoveryPrinters {
 public:
  // Builds the segment and starts every printer; throws std::runtime_error
  // when the caller's network is the machine's own or something does not
  // come up.
  DiscoveryPrinters();
  ~DiscoveryPrinters();
  DiscoveryPrinters(const DiscoveryPrinters&) = delete;
  DiscoveryPrinters& operator=(const DiscoveryPrinters&) = delete;

  SegmentHost& addHost(int number);
  // The raw responder on kHostile: it answers a v1 GetRequest with a
  // sysObjectID of model A followed by further arcs, longer than a target
  // can hold; an SNMPv3 engine discovery with the Report of a printer
  // agent; and the authenticated, encrypted GET that follows with error
  // status genErr and model A's sysObjectID. It records every request.
  RawResponder& hostile() { return *m_hostile; }

 private:
  NamedNamespace m_switch{"usbink-dsc-sw-"};
  std::vector<std::unique_ptr<SegmentHost>> m_hosts;
  std::vector<std::unique_ptr<SnmpdAgent>> m_snmpd;
  std::vector<std::unique_ptr<PysnmpAgent>> m_pysnmp;
  std::unique_ptr<RawResponder> m_hostile;
};

// The version field of an SNMP request (0 for v1, 3 for SNMPv3), or -1.
int snmpVersion(const Bytes& request);
// A v1 GetResponse to a discovery request, with `sysObjectId` (encoded).
Bytes sysObjectIdAnswer(const Bytes& sysObjectId);
Bytes encodedOid(const char* text);

// How often a search reported each address.
using Counts = std::map<std::string, int>;
// The discovery callback: counts the address in the Counts at `user`.
bool record(char* address, char* info, void* user);

// A CNetIO whose targets are the two printer models.
struct Searcher : CNetIO {
  Searcher() { InitTargetOID(kModelA, kModelB); }
};

// The printers of this test binary, up from before the first test to after
// the last.
DiscoveryPrinters& printers();

// Forgets the interface a discovery remembered, as at process start.
void forgetInterface();
// Remembers client interface `i` as a discovery would.
void rememberClientInterface(int i);
// The remembered interface as "INDEX %NAME", and client interface `i` so.
std::string rememberedInterface();
std::string clientInterface(int i);

// main() of a discovery test binary.
int runDiscoveryTests(int argc, char** argv);

}  // namespace usbink::test
