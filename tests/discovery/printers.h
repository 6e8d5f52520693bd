// Printer hosts N at 192.0.2.N, 2001:db8::N and fe80::N, bridged to this client's two veths.
#pragma once

#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {

// Holding 192.0.2.100+i and 2001:db8::100+i; 15 characters is Linux's longest name.
inline constexpr const char* kClientInterfaces[] = {"dsc-c0", "discovery-cl-15"};
inline constexpr char kModelA[] = "1.3.6.1.4.1.26266.886.1.1";  // the agents' default
inline constexpr char kModelB[] = "1.3.6.1.4.1.26266.886.1.2";
inline constexpr int kToner = 57;  // what every real agent reports

class DiscoveryPrinters {
 public:
  DiscoveryPrinters();  // throws outside a private network or when something fails
  const NamedNamespace& addHost(int number);  // host N, in a namespace of its own
  RawResponder& hostile() { return *m_hostile; }

 private:
  NamedNamespace m_switch{"usbink-dsc-sw-"};
  std::vector<std::unique_ptr<NamedNamespace>> m_hosts;
  std::vector<std::unique_ptr<SnmpdAgent>> m_snmpd;
  std::unique_ptr<PysnmpAgent> m_pysnmp;
  std::unique_ptr<RawResponder> m_hostile;
};

Bytes sysObjectIdAnswer(const Bytes& sysObjectId);  // a v1 GetResponse, encoded OID
Bytes encodedOid(const char* text);

}  // namespace usbink::test
