// SNMPv3 requests byte for byte: the discovery request, the PDUs, the
// global data, and what the builder refuses. The secured request is taken
// apart by pysnmp in snmpv3_itest.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "snmpv3/credentials.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr int kArea = 2048;
using Area = std::array<unsigned char, kArea>;

const Bytes kEngine = fromHex("800002a2040102030405");
const char* kDeviceIdOid[] = {kOidDeviceId};

std::string built(const Area& area, int length) {
  return length > 0 ? toHex(Bytes(area.begin(), area.begin() + length)) : "";
}

TEST(V3Builder, DiscoveryRequestIsThe57OctetsAgentsExpect) {
  Area out{};
  EXPECT_EQ(built(out, CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), kArea)),
            "3037020103300d02010002020800040104020103041030"
            "0e0400020100020100040004000400301104000400a00b0201000201000201003000");
  EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), 56), 0);
}

TEST(V3Builder, PdusForNoBindingsAGetAndASet) {
  Area out{};
  EXPECT_EQ(
      built(out, CNetIO::BuildSnmpV3PDU(5, 0, nullptr, nullptr, nullptr, nullptr, out.data())),
      "a00b0201050201000201003000");
  EXPECT_EQ(built(out, CNetIO::BuildSnmpV3GetRequestPDU(7, 1, kDeviceIdOid, out.data())),
            "a024020107020100020100301930170613"
            "2b0601040181cd1a8676822c8271c2530101000500");
  const unsigned char hi[] = {'h', 'i'};
  const unsigned char* values[] = {hi};
  const char lengths[] = {2};
  const unsigned char types[] = {kBerOctetString};
  EXPECT_EQ(
      built(out, CNetIO::BuildSnmpV3PDU(255, 1, kDeviceIdOid, values, lengths, types, out.data())),
      "a327020200ff020100020100301b30190613"
      "2b0601040181cd1a8676822c8271c25301010004026869");
}

TEST(V3Builder, GlobalDataLineGoesToStandardError) {
  Area out{};
  testing::internal::CaptureStderr();
  const int n = CNetIO::BuildSnmpV3msgGlobalDataUSM(3, 2048, 1, 1, 1, out.data());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "msgMaxSize=800, FLIPWORD((LOWORD(msgMaxSize)))=8\n");
  EXPECT_EQ(built(out, n), "300d02010302020800040107020103");
}

TEST(V3Builder, RefusesWhatDoesNotFitWithoutWriting) {
  Area out;
  out.fill(0xEE);
  const Area untouched = out;
  const char* badOid[] = {"1.3.6.x"};
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, badOid, nullptr, nullptr, nullptr, out.data()), -1);
  // A SET binding longer than a one-octet length can hold.
  Bytes longValue(120, 'v');
  const unsigned char* values[] = {longValue.data()};
  const char lengths[] = {120};
  const unsigned char types[] = {kBerOctetString};
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, kDeviceIdOid, values, lengths, types, out.data()), -1);
  const std::string longName(128, 'n');
  EXPECT_EQ(CNetIO::BuildSnmpV3msgData(kEngine.data(), 10, longName.c_str(), 1, 1, kDeviceIdOid,
                                       nullptr, nullptr, nullptr, out.data()),
            -1);
  const Bytes engine33(33, 0x80);
  EXPECT_EQ(CNetIO::BuildSnmpV3msgData(engine33.data(), 33, nullptr, 1, 1, kDeviceIdOid, nullptr,
                                       nullptr, nullptr, out.data()),
            -1);
  const std::string hugeUser(3000, 'u');
  EXPECT_EQ(CNetIO::BuildSnmpV3msgSecurityParameters(kEngine.data(), 10, 1, 1, hugeUser.c_str(),
                                                     nullptr, nullptr, 0, out.data(), nullptr),
            -1);
  EXPECT_EQ(out, untouched);

  const auto c = usmCredentials();
  Bytes authKey(16, 0xAA), privKey(16, 0xAA);
  const std::uint16_t requestId = SNMPv3RequestID, msgId = SNMPv3MsgID;
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(
                engine33.data(), 33, 1, 1, 1, kDeviceIdOid, nullptr, nullptr, nullptr, c.userName,
                c.authPassword, c.privPassword, authKey.data(), privKey.data(), out.data()),
            0);
  EXPECT_EQ(SNMPv3RequestID, static_cast<std::uint16_t>(requestId + 1));
  EXPECT_EQ(SNMPv3MsgID, msgId);
  EXPECT_EQ(authKey, Bytes(16, 0));  // no key of an earlier request survives
  // Privacy without authentication is refused before any counter moves.
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(kEngine.data(), 10, 1, 1, 1, kDeviceIdOid, nullptr,
                                             nullptr, nullptr, c.userName, nullptr, c.privPassword,
                                             authKey.data(), privKey.data(), out.data()),
            0);
  EXPECT_EQ(SNMPv3RequestID, static_cast<std::uint16_t>(requestId + 1));
}

}  // namespace
}  // namespace usbink::test
