// SNMPv3 requests byte for byte: the discovery request, the PDU, the
// security parameters and the authenticated, encrypted GET.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "snmpv3/credentials.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr int kArea = 2048;
using Area = std::array<unsigned char, kArea>;

const Bytes kEngine = fromHex("800002a2040102030405");
const char* kDeviceIdOid[] = {kOidDeviceId};

Bytes built(const Area& area, int length) {
  return length > 0 ? Bytes(area.begin(), area.begin() + length) : Bytes{};
}

struct Request {
  Bytes message;
  Bytes authKey = Bytes(16);
  Bytes privKey = Bytes(16);
};

Request buildRequest(const char* auth, const char* priv, std::uint32_t boots = 1) {
  const auto c = usmCredentials();
  Area out{};
  Request r;
  const int n = CNetIO::BuildSnmpV3RequestPacket(
      kEngine.data(), static_cast<int>(kEngine.size()), boots, 200, 1, kDeviceIdOid, nullptr,
      nullptr, nullptr, c.userName, auth, priv, r.authKey.data(), r.privKey.data(), out.data());
  r.message = built(out, n);
  return r;
}

TEST(V3Builder, DiscoveryRequestIsThe57BytesAgentsExpect) {
  Area out{};
  const int n = CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), kArea);
  EXPECT_EQ(toHex(built(out, n)),
            "3037"
            "020103"
            "300d020100020208000401040201"
            "03"
            "0410"
            "300e"
            "0400"
            "020100"
            "020100"
            "0400"
            "0400"
            "0400"
            "3011"
            "0400"
            "0400"
            "a00b"
            "020100"
            "020100"
            "020100"
            "3000");
  // Identifiers of 128 and more grow their INTEGERs and every enclosing length.
  const int m = CNetIO::BuildSnmpV3GetEngineIdPacket(255, 300, out.data(), kArea);
  const Bytes big = built(out, m);
  EXPECT_EQ(m, 59);
  EXPECT_EQ(toHex(big).substr(0, 10), "3039020103");
  EXPECT_NE(toHex(big).find("0202012c"), std::string::npos);  // msgID 300
  EXPECT_NE(toHex(big).find("020200ff"), std::string::npos);  // request-id 255
  EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), 56), 0);
}

TEST(V3Builder, PduForNoBindingsOneGetAndOneSet) {
  Area out{};
  EXPECT_EQ(toHex(built(
                out, CNetIO::BuildSnmpV3PDU(5, 0, nullptr, nullptr, nullptr, nullptr, out.data()))),
            "a00b020105020100020100"
            "3000");
  const int n = CNetIO::BuildSnmpV3GetRequestPDU(7, 1, kDeviceIdOid, out.data());
  EXPECT_EQ(toHex(built(out, n)),
            "a024020107020100020100301930170613"
            "2b0601040181cd1a8676822c8271c253010100"
            "0500");
  const unsigned char text[] = {'h', 'i'};
  const unsigned char* values[] = {text};
  const char lengths[] = {2};
  const unsigned char types[] = {0x04};
  const int s = CNetIO::BuildSnmpV3PDU(255, 1, kDeviceIdOid, values, lengths, types, out.data());
  const std::string set = toHex(built(out, s));
  EXPECT_EQ(set.substr(0, 2), "a3");
  EXPECT_NE(set.find("020200ff"), std::string::npos);
  EXPECT_EQ(set.substr(set.size() - 8), "04026869");
}

TEST(V3Builder, RefusesWhatDoesNotFitWithoutWriting) {
  Area out;
  out.fill(0xEE);
  const char* badOid[] = {"1.3.6.x"};
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, badOid, nullptr, nullptr, nullptr, out.data()), -1);
  // A SET binding longer than a one-octet length can hold.
  Bytes longValue(120, 'v');
  const unsigned char* values[] = {longValue.data()};
  const char lengths[] = {120};
  const unsigned char types[] = {0x04};
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
  EXPECT_EQ(out, [] {
    Area a;
    a.fill(0xEE);
    return a;
  }());

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

TEST(V3Builder, SecurityParametersWriteMinimalIntegers) {
  struct Case {
    int boots, time;
    std::string bootsHex, timeHex;
  };
  for (const auto& k : {Case{1, 200, "020101", "020200c8"}, Case{1, 70000, "020101", "0203011170"},
                        Case{2, 100, "020102", "020164"}}) {
    Area out{};
    const int n = CNetIO::BuildSnmpV3msgSecurityParameters(
        kEngine.data(), 10, k.boots, k.time, "usbinkv3", nullptr, nullptr, 0, out.data(), nullptr);
    const std::string hex = toHex(built(out, n));
    EXPECT_NE(hex.find(toHex(kEngine) + k.bootsHex + k.timeHex + "0408"), std::string::npos) << hex;
  }
}

TEST(V3Builder, GlobalDataLineGoesToStandardError) {
  Area out{};
  testing::internal::CaptureStderr();
  const int n = CNetIO::BuildSnmpV3msgGlobalDataUSM(3, 2048, 1, 1, 1, out.data());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "msgMaxSize=800, FLIPWORD((LOWORD(msgMaxSize)))=8\n");
  EXPECT_EQ(toHex(built(out, n)),
            "300d020103020208000401070201"
            "03");
}

TEST(V3Builder, SecurityLevelDecidesFlagsFieldsAndEncryption) {
  const auto c = usmCredentials();
  struct Case {
    const char* auth;
    const char* priv;
    std::string flags;
    std::size_t authLength, privLength;
    unsigned char msgDataTag;
  };
  for (const auto& k : {Case{c.authPassword, c.privPassword, "07", 12, 8, 0x04},
                        Case{c.authPassword, nullptr, "05", 12, 0, 0x30},
                        Case{nullptr, nullptr, "04", 0, 0, 0x30}, Case{"", "", "04", 0, 0, 0x30}}) {
    const Request r = buildRequest(k.auth, k.priv);
    ASSERT_FALSE(r.message.empty());
    const V3Parts p = v3Parts(r.message);
    EXPECT_EQ(toHex(contentOf(r.message, p.flags)), k.flags);
    EXPECT_EQ(p.usm.at(4).end - p.usm.at(4).content, k.authLength);
    EXPECT_EQ(p.usm.at(5).end - p.usm.at(5).content, k.privLength);
    EXPECT_EQ(p.msgData.tag, k.msgDataTag);
    EXPECT_EQ(r.authKey == Bytes(16), k.authLength == 0);
    EXPECT_EQ(r.privKey == Bytes(16), k.privLength == 0);
    // The outer length covers everything after its own octets.
    EXPECT_EQ(children(r.message, 0, r.message.size()).size(), 1u);
  }
}

TEST(V3Builder, AuthenticationFieldIsTheCodeOfTheZeroedMessage) {
  const auto c = usmCredentials();
  const Request r = buildRequest(c.authPassword, c.privPassword);
  const V3Parts p = v3Parts(r.message);
  EXPECT_EQ(r.authKey, localise(c.authPassword, kEngine));
  EXPECT_EQ(r.privKey, localise(c.privPassword, kEngine));
  Bytes zeroed = r.message;
  std::fill(zeroed.begin() + static_cast<long>(p.usm[4].content),
            zeroed.begin() + static_cast<long>(p.usm[4].end), 0);
  Bytes k1(64), k2(64), mac(12);
  Bytes key = r.authKey;
  AuthKey2K1K2(key.data(), k1.data(), k2.data());
  CalcuateAuthParams(zeroed.data(), static_cast<unsigned>(zeroed.size()), k1.data(), k2.data(),
                     mac.data());
  EXPECT_EQ(contentOf(r.message, p.usm[4]), mac);
}

TEST(V3Builder, EncryptedScopedPduIsPaddedAndSaltsCountUp) {
  const auto c = usmCredentials();
  const std::uint32_t before = salt_low;
  const Request first = buildRequest(c.authPassword, c.privPassword, 0x01020304);
  const Request second = buildRequest(c.authPassword, c.privPassword, 0x01020304);
  EXPECT_EQ(salt_low, before + 2);
  const Bytes salt1 = contentOf(first.message, v3Parts(first.message).usm[5]);
  const Bytes salt2 = contentOf(second.message, v3Parts(second.message).usm[5]);
  EXPECT_EQ(toHex(salt1).substr(0, 8), "01020304");
  EXPECT_EQ(toHex(salt2).substr(0, 8), "01020304");
  const auto low = [](const Bytes& s) { return (s[4] << 24) | (s[5] << 16) | (s[6] << 8) | s[7]; };
  EXPECT_EQ(low(salt1), static_cast<int>(before));
  EXPECT_EQ(low(salt2), low(salt1) + 1);

  // The scoped PDU for one OID is E + 44 bytes (54 here), padded to 56.
  const V3Parts p = v3Parts(first.message);
  Bytes cipher = contentOf(first.message, p.msgData);
  ASSERT_EQ(cipher.size(), 56u);
  Bytes privKey = first.privKey;
  Bytes salt = salt1;
  ASSERT_EQ(DecryptMsgData(cipher.data(), cipher.size(), privKey.data(), salt.data()), 1);
  const auto scoped = children(cipher, 0, cipher.size());
  EXPECT_EQ(scoped.at(0).end, 54u);
  EXPECT_EQ(toHex(Bytes(cipher.begin() + 54, cipher.end())), "0000");
  EXPECT_EQ(toHex(Bytes(cipher.begin() + 2, cipher.begin() + 14)), "040a" + toHex(kEngine));
}

}  // namespace
}  // namespace usbink::test
