// v1 and SNMPv3 reads and queries against real snmpd and pysnmp agents over both families.
#include <gtest/gtest.h>

#include <string>

#include "snmp/reads.h"
#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

// An agent at 127.0.5.`host` and fd00:5::`host`.
AgentConfig printer(int host, int toner, const std::string& tag) {
  const std::string h = std::to_string(host);
  return {.address4 = "127.0.5." + h,
          .address6 = "fd00:5::" + h,
          .toner = toner,
          .sysName = tag + "-printer",
          .fwVersion = "FW-" + tag,
          .mcuVersion = "MCU-" + tag};
}

const AgentConfig kSnmpd = printer(2, 37, "snmpd"), kPysnmp = printer(3, 64, "pysnmp");

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
