// The printers on the discovery segment, the same for every discovery test
// binary: real agents (snmpd and pysnmp) listening on every address of their
// hosts, so that they answer broadcasts and multicasts, and a raw responder
// for answers no real agent sends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "discovery/segment.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {

// The two printer models the tests search for, and a model of another vendor.
inline constexpr char kModelA[] = "1.3.6.1.4.1.26266.886.1.1";  // the harness agents' default
inline constexpr char kModelB[] = "1.3.6.1.4.1.26266.886.1.2";
inline constexpr char kOtherVendorModel[] = "1.3.6.1.4.1.8072.3.2.10";

// Host numbers on the segment:
// snmpd, v1 and v3, model A
inline constexpr int kSnmpdModelA = 11;
// pysnmp, v1 and v3, model B
inline constexpr int kPysnmpModelB = 12;
// snmpd, v1 and v3, the other vendor's model
inline constexpr int kOtherVendor = 13;
// snmpd, v3 only, model A
inline constexpr int kV3OnlyModelA = 14;
// snmpd, v3 only, model A, with an engine ID of another enterprise
inline constexpr int kOtherEnterprise = 15;
// the raw responder (see hostile())
inline constexpr int kHostile = 16;
// not started here: free for a test's own peer
inline constexpr int kFlooding = 17;

// The toner level every real agent reports.
inline constexpr int kToner = 57;

// The version field of an SNMP message (0 for v1, 3 for SNMPv3), or -1.
int snmpVersion(const Bytes& message);

class DiscoveryPrinters {
 public:
  // Builds the segment and starts every printer; throws std::runtime_error
  // when something does not come up.
  DiscoveryPrinters();
  ~DiscoveryPrinters();
  DiscoveryPrinters(const DiscoveryPrinters&) = delete;
  DiscoveryPrinters& operator=(const DiscoveryPrinters&) = delete;

  const SegmentHost& host(int number) const;
  DiscoverySegment& segment() { return m_segment; }
  // The raw responder on kHostile: it answers a v1 GetRequest with a
  // sysObjectID of model A followed by further arcs, longer than a target
  // can hold; an SNMPv3 engine discovery with the Report of a printer
  // agent; and the authenticated, encrypted GET that follows with error
  // status genErr and model A's sysObjectID. It records every request.
  RawResponder& hostile() { return *m_hostile; }

 private:
  DiscoverySegment m_segment;
  std::vector<std::unique_ptr<SnmpdAgent>> m_snmpd;
  std::vector<std::unique_ptr<PysnmpAgent>> m_pysnmp;
  std::unique_ptr<RawResponder> m_hostile;
};

}  // namespace usbink::test
