// The builder's requests as pysnmp's own USM code reads them: canonical
// BER, a code that verifies, a scoped PDU that decrypts, the fields as sent.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "snmpv3/credentials.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

bool has(const std::string& out, const std::string& line) {
  return out.find(line + "\n") != std::string::npos;
}

TEST(V3BuilderAgainstPysnmp, DiscoveryRequestDecodes) {
  std::array<unsigned char, 2048> out{};
  const int n = CNetIO::BuildSnmpV3GetEngineIdPacket(200, 300, out.data(), 2048);
  const std::string check = pysnmpCheck(Bytes(out.begin(), out.begin() + n));
  EXPECT_TRUE(has(check, "flags=4")) << check;
  EXPECT_TRUE(has(check, "msgID=300")) << check;
  EXPECT_TRUE(has(check, "requestID=200")) << check;
  EXPECT_TRUE(has(check, "pdu=GetRequestPDU")) << check;
  EXPECT_EQ(check.find("oid="), std::string::npos) << check;
}

TEST(V3BuilderAgainstPysnmp, SecuredRequestsVerifyAndDecrypt) {
  const auto c = usmCredentials();
  const char* three[] = {kOidSysName, kOidFwVersion, kOidMcuVersion};
  struct Case {
    Bytes engine;
    unsigned long boots, time;
    int count;
    const char* priv;
  };
  const Bytes engine32 = cat({fromHex("800002a204"), Bytes(27, 0x41)});
  for (const auto& k : {Case{fromHex("800002a2040102030405"), 1, 200, 1, c.privPassword},
                        Case{engine32, 7, 70000, 3, c.privPassword},
                        Case{fromHex("800002a20401"), 2147483647ul, 100, 3, nullptr}}) {
    std::array<unsigned char, 2048> out{};
    std::array<unsigned char, 16> authKey{}, privKey{};
    const std::uint16_t requestId = SNMPv3RequestID;
    const int n = CNetIO::BuildSnmpV3RequestPacket(
        k.engine.data(), static_cast<int>(k.engine.size()), k.boots, k.time, k.count, three,
        nullptr, nullptr, nullptr, c.userName, c.authPassword, k.priv, authKey.data(),
        privKey.data(), out.data());
    ASSERT_GT(n, 0);
    const std::string check = pysnmpCheck(Bytes(out.begin(), out.begin() + n));
    EXPECT_TRUE(has(check, "authentic=1")) << check;
    EXPECT_TRUE(has(check, std::string("flags=") + (k.priv ? "7" : "5"))) << check;
    EXPECT_TRUE(has(check, "engineID=" + toHex(k.engine))) << check;
    EXPECT_TRUE(has(check, "contextEngineID=" + toHex(k.engine))) << check;
    EXPECT_TRUE(has(check, "boots=" + std::to_string(k.boots))) << check;
    EXPECT_TRUE(has(check, "time=" + std::to_string(k.time))) << check;
    EXPECT_TRUE(has(check, std::string("user=") + c.userName)) << check;
    EXPECT_TRUE(has(check, "requestID=" + std::to_string(requestId))) << check;
    EXPECT_TRUE(has(check, std::string("oid=") + kOidSysName)) << check;
    EXPECT_EQ(has(check, std::string("oid=") + kOidMcuVersion), k.count == 3) << check;
  }
}

}  // namespace
}  // namespace usbink::test
