// v1 and SNMPv3 reads and queries against real snmpd and pysnmp agents over both families.
#include <gtest/gtest.h>

#include "snmp/reads.h"
#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

const AgentConfig kSnmpd{.address4 = "127.0.5.2", .address6 = "fd00:5::2", .toner = 37};
const AgentConfig kPysnmp{.address4 = "127.0.5.3", .address6 = "fd00:5::3", .toner = 64};

// The IPv4 entries take both families, the IPv6 ones IPv6 addresses only.
TEST(RealAgents, StatusAndValuesReadOverV1AndV3FromSnmpdAndPysnmpOverBothFamilies) {
  const SnmpdAgent snmpd{kSnmpd};
  const PysnmpAgent pysnmp{kPysnmp};
  for (const AgentConfig& c : {kSnmpd, kPysnmp}) {
    for (const std::string& address : {c.address4, c.address6}) {
      const int v6Level = address == c.address6 ? c.toner : -1;
      EXPECT_EQ(level(NetworkReadStatus, address), c.toner) << address;
      EXPECT_EQ(level(NetworkReadStatusV6, address), v6Level) << address;
      EXPECT_EQ(level(NetworkReadStatusSNMPv3, address), c.toner) << address;
      EXPECT_EQ(level(NetworkReadStatusV6SNMPv3, address), v6Level) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, address), c.sysName) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, address), c.fwVersion) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, address), c.mcuVersion) << address;
      EXPECT_EQ(v3Values(address), (Values{0, c.sysName, c.fwVersion, c.mcuVersion})) << address;
    }
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:5::2", "fd00:5::3"});
}
