// v1 and SNMPv3 reads and queries against real snmpd and pysnmp agents over both families.
#include <gtest/gtest.h>

#include <string>

#include "snmp/reads.h"
#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

// An agent at 127.0.5.`host` and fd00:5::`host`; a bare one lacks the device ID and firmware.
AgentConfig printer(int host, int toner, const std::string& tag, bool bare = false) {
  const std::string h = std::to_string(host);
  return {.address4 = "127.0.5." + h,
          .address6 = "fd00:5::" + h,
          .toner = toner,
          .serveDeviceId = !bare,
          .sysName = tag + "-printer",
          .fwVersion = "FW-" + tag,
          .mcuVersion = "MCU-" + tag,
          .serveVersions = !bare};
}

const AgentConfig kSnmpd = printer(2, 37, "snmpd"), kPysnmp = printer(3, 64, "pysnmp"),
                  kBareSnmpd = printer(4, 0, "bare", true),
                  kBarePysnmp = printer(5, 0, "bare", true);

// Started by the first case, stopped at exit.
void startAgents() {
  static const SnmpdAgent snmpd{kSnmpd}, bareSnmpd{kBareSnmpd};
  static const PysnmpAgent pysnmp{kPysnmp}, barePysnmp{kBarePysnmp};
}

// The IPv4 entries take both families, the IPv6 ones IPv6 addresses only.
TEST(RealAgents, StatusAndValuesReadOverV1AndV3FromSnmpdAndPysnmpOverBothFamilies) {
  startAgents();
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

// noSuchName / noSuchObject fails reads, even after a good one; only arrived values are written.
TEST(RealAgents, MissingObjectsGiveNothing) {
  startAgents();
  for (const AgentConfig& c : {kBareSnmpd, kBarePysnmp}) {
    for (StatusRead read : {NetworkReadStatus, NetworkReadStatusSNMPv3}) {
      ASSERT_EQ(level(read, kSnmpd.address4), kSnmpd.toner);
      EXPECT_EQ(level(read, c.address4), -1) << c.address4;
    }
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v3Values(c.address4), (Values{0, c.sysName, "untouched", "untouched"}));
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv,
                                           {"fd00:5::2", "fd00:5::3", "fd00:5::4", "fd00:5::5"});
}
