// SNMP against its peers: v1 and SNMPv3 status reads and value queries
// against real snmpd and pysnmp agents over IPv4 and IPv6, and the SNMPv3
// builder's requests as pysnmp's own USM code reads them. What is sent and
// answers no real agent gives are in exchange_test.cpp.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "snmp/reads.h"
#include "snmpv3/credentials.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/snmp_agents.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

// An agent at 127.0.5.`host` and fd00:5::`host`; a bare one lacks the
// device ID and the firmware objects.
AgentConfig printer(int host, int toner, const std::string& tag, bool bare = false) {
  return {.address4 = "127.0.5." + std::to_string(host),
          .address6 = "fd00:5::" + std::to_string(host),
          .toner = toner,
          .serveDeviceId = !bare,
          .sysName = tag + "-printer",
          .fwVersion = "FW-" + tag,
          .mcuVersion = "MCU-" + tag,
          .serveVersions = !bare};
}

// SNMPv3 only, for a user with other pass phrases than ours.
AgentConfig otherKeys(int host) {
  return {.address4 = "127.0.5." + std::to_string(host),
          .v1 = false,
          .authPassPhrase = "Other-Auth.0123456789",
          .privPassPhrase = "Other-Priv.0123456789"};
}

const AgentConfig kSnmpd = printer(2, 37, "snmpd"), kPysnmp = printer(3, 64, "pysnmp");
const AgentConfig kBareSnmpd = printer(4, 0, "bare", true),
                  kBarePysnmp = printer(5, 0, "bare", true);
const AgentConfig kOtherSnmpd = otherKeys(6), kOtherPysnmp = otherKeys(7);

class RealAgents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_agents = std::make_unique<Agents>(); }
  static void TearDownTestSuite() { s_agents.reset(); }
  struct Agents {
    SnmpdAgent snmpd{kSnmpd}, bareSnmpd{kBareSnmpd}, otherSnmpd{kOtherSnmpd};
    PysnmpAgent pysnmp{kPysnmp}, barePysnmp{kBarePysnmp}, otherPysnmp{kOtherPysnmp};
  };
  static inline std::unique_ptr<Agents> s_agents;
};

// The IPv4 entries take both families, the IPv6 ones IPv6 addresses only.
TEST_F(RealAgents, StatusAndValuesReadOverV1AndV3FromSnmpdAndPysnmpOverBothFamilies) {
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

// noSuchName (v1) or noSuchObject (v3) fails the status reads even right
// after a good read left its device ID in the buffer; the v1 queries read an
// empty value, the SNMPv3 query writes only the values that arrived. Agents
// with other pass phrases answer with Reports our keys do not authenticate.
TEST_F(RealAgents, MissingObjectsAndForeignKeysGiveNothing) {
  for (const AgentConfig& c : {kBareSnmpd, kBarePysnmp}) {
    for (StatusRead read : {NetworkReadStatus, NetworkReadStatusSNMPv3}) {
      ASSERT_EQ(level(read, kSnmpd.address4), kSnmpd.toner);
      EXPECT_EQ(level(read, c.address4), -1) << c.address4;
    }
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v3Values(c.address4), (Values{0, c.sysName, "untouched", "untouched"}));
  }
  for (const AgentConfig& c : {kOtherSnmpd, kOtherPysnmp}) {
    EXPECT_EQ(level(NetworkReadStatusSNMPv3, c.address4), -1) << c.address4;
    EXPECT_EQ(v3Values(c.address4), (Values{-1, "untouched", "untouched", "untouched"}));
  }
}

// pysnmp's USM code verifies and decrypts (the real agents cover the common
// case) requests with a long engine ID, boots and time past one octet, and
// without privacy or authentication; the keys used are handed back, zero
// for a service not asked for.
TEST(V3BuilderAgainstPysnmp, SecuredRequestsVerifyAndDecrypt) {
  const auto c = usmCredentials();
  const char* oids[] = {kOidSysName, kOidFwVersion, kOidMcuVersion};
  struct Case {
    Bytes engine;
    unsigned long boots, time;
    int count;
    const char *auth, *priv, *flags;
  };
  for (const auto& k :
       {Case{cat({fromHex("800002a204"), Bytes(27, 0x41)}), 7, 70000, 3, c.authPassword,
             c.privPassword, "7"},
        Case{fromHex("800002a20401"), 2147483647ul, 100, 3, c.authPassword, nullptr, "5"},
        Case{fromHex("800002a2040102030405"), 1, 200, 1, "", "", "4"}}) {
    std::array<unsigned char, 2048> out{};
    Bytes authKey(16, 0xAA), privKey(16, 0xAA);
    const std::uint16_t requestId = SNMPv3RequestID;
    const int n = CNetIO::BuildSnmpV3RequestPacket(
        k.engine.data(), static_cast<int>(k.engine.size()), k.boots, k.time, k.count, oids, nullptr,
        nullptr, nullptr, c.userName, k.auth, k.priv, authKey.data(), privKey.data(), out.data());
    ASSERT_GT(n, 0);
    const auto r =
        run({USBINK_PYTHON, std::string(USBINK_SOURCE_DIR) + "/tests/harness/v3_check.py",
             toHex(Bytes(out.begin(), out.begin() + n)), "--user", c.userName, "--auth",
             c.authPassword, "--priv", c.privPassword});
    const std::string check = r.out + r.err;
    const auto has = [&](const std::string& line) {
      return check.find(line + "\n") != std::string::npos;
    };
    const bool auth = k.auth[0] != 0, priv = auth && k.priv != nullptr;
    EXPECT_EQ(has("authentic=1"), auth) << check;
    EXPECT_EQ(authKey, auth ? localise(c.authPassword, k.engine) : Bytes(16));
    EXPECT_EQ(privKey, priv ? localise(c.privPassword, k.engine) : Bytes(16));
    for (const std::string& line :
         {std::string("flags=") + k.flags, "engineID=" + toHex(k.engine),
          "contextEngineID=" + toHex(k.engine), "boots=" + std::to_string(k.boots),
          "time=" + std::to_string(k.time), std::string("user=") + c.userName,
          "requestID=" + std::to_string(requestId), std::string("oid=") + kOidSysName}) {
      EXPECT_TRUE(has(line)) << line << "\n" << check;
    }
    EXPECT_EQ(has(std::string("oid=") + kOidMcuVersion), k.count == 3) << check;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv,
                                           {"fd00:5::2", "fd00:5::3", "fd00:5::4", "fd00:5::5"});
}
