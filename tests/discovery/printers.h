// The discovery segment, the same for every discovery test binary: a bridge
// in a switch namespace; this process's private namespace as the client,
// joined by two veth pairs; one namespace per printer host. Only
// 192.0.2.0/24, 2001:db8::/64 and link-local addresses, nothing routed out.
// Printer hosts 192.0.2.N (also 2001:db8::N, fe80::N, their only link-local
// address), each agent listening on every address so that it answers
// broadcasts and multicasts:
//   11 snmpd, v1 and v3, model A       12 pysnmp, v1 and v3, model B
//   13 snmpd, v1 and v3, other vendor  14 snmpd, v3 only, model A
//   15 as 14 with another enterprise's engine ID
//   16 a raw responder (see hostile()) 17 free for a test's own peer
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {

// The client's interfaces in the system's order, holding 192.0.2.100+i and
// 2001:db8::100+i; the second name has 15 characters, Linux's longest.
inline constexpr const char* kClientInterfaces[] = {"dsc-c0", "discovery-cl-15"};
// The models the tests search for (A is the harness agents' default).
inline constexpr char kModelA[] = "1.3.6.1.4.1.26266.886.1.1";
inline constexpr char kModelB[] = "1.3.6.1.4.1.26266.886.1.2";
inline constexpr int kToner = 57;  // what every real agent reports

class DiscoveryPrinters {
 public:
  // Throws std::runtime_error outside a private network or when something
  // does not come up.
  DiscoveryPrinters();
  ~DiscoveryPrinters();
  // Host N on the segment, in a namespace of its own.
  const NamedNamespace& addHost(int number);
  // Answers a v1 GET with model A's sysObjectID followed by more arcs than
  // a target holds; SNMPv3 with a printer agent's Report, then genErr with
  // model A's sysObjectID. It records every request.
  RawResponder& hostile() { return *m_hostile; }

 private:
  NamedNamespace m_switch{"usbink-dsc-sw-"};
  std::vector<std::unique_ptr<NamedNamespace>> m_hosts;
  std::vector<std::unique_ptr<SnmpdAgent>> m_snmpd;
  std::unique_ptr<PysnmpAgent> m_pysnmp;
  std::unique_ptr<RawResponder> m_hostile;
};

// A v1 GetResponse to a discovery request with `sysObjectId` (encoded).
Bytes sysObjectIdAnswer(const Bytes& sysObjectId);
Bytes encodedOid(const char* text);

}  // namespace usbink::test
