// SNMPv3 requests byte for byte and field by field, and what the builder
// refuses (snmpd and pysnmp take the secured requests apart in
// tests/snmp/agents_itest.cpp); the agent value table that takes the values
// of the answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "snmpv3/credentials.h"
#include "usbink/agent_values.h"
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

// A request-id of 255 takes a leading zero octet; the value is written as
// given. (The Get PDU is read by the real agents.)
TEST(V3Builder, SetPduWithItsValue) {
  Area out{};
  const unsigned char hi[] = {'h', 'i'};
  const unsigned char* values[] = {hi};
  const char lengths[] = {2};
  const unsigned char types[] = {kBerOctetString};
  EXPECT_EQ(
      built(out, CNetIO::BuildSnmpV3PDU(255, 1, kDeviceIdOid, values, lengths, types, out.data())),
      "a327020200ff020100020100301b30190613"
      "2b0601040181cd1a8676822c8271c25301010004026869");
  const char none[] = {0};
  EXPECT_GT(CNetIO::BuildSnmpV3PDU(1, 1, kDeviceIdOid, values, none, types, out.data()), 0);
}

// Each secured request moves msgID and request-id by one and carries as
// msgPrivacyParameters the engine boots, then the salt counter, both most
// significant octet first, so consecutive requests differ there only in the
// last four octets; the scoped PDU is padded to whole DES blocks, no more.
TEST(V3Builder, PrivacyParametersAndPaddingOnTheWire) {
  const auto c = usmCredentials();
  const char* oids[] = {kOidSysName};
  const auto request = [&](const Bytes& engine, unsigned long boots) {
    Area out{};
    Bytes authKey(16), privKey(16);
    const int n = CNetIO::BuildSnmpV3RequestPacket(engine.data(), static_cast<int>(engine.size()),
                                                   boots, 1, 1, oids, nullptr, nullptr, nullptr,
                                                   c.userName, c.authPassword, c.privPassword,
                                                   authKey.data(), privKey.data(), out.data());
    return Bytes(out.begin(), out.begin() + std::max(n, 0));
  };
  const auto field = [](const Bytes& m, const Element& e) {
    return toHex(
        Bytes(m.begin() + static_cast<long>(e.content), m.begin() + static_cast<long>(e.end)));
  };
  const std::uint32_t salt = salt_low = 0x0A0B0C0D;
  const std::uint16_t msgId = SNMPv3MsgID, requestId = SNMPv3RequestID;
  const Bytes first = request(kEngine, 0x01020304), second = request(kEngine, 0x01020304);
  EXPECT_EQ(field(first, v3Parts(first).usm.at(5)), "010203040a0b0c0d");
  EXPECT_EQ(field(second, v3Parts(second).usm.at(5)), "010203040a0b0c0e");
  EXPECT_EQ(salt_low, salt + 2);
  EXPECT_EQ(std::uint16_t(SNMPv3MsgID - msgId), 2);
  EXPECT_EQ(std::uint16_t(SNMPv3RequestID - requestId), 2);

  // Engine IDs whose scoped PDU is 57 and 64 octets long.
  for (const int scoped : {57, 64}) {
    Bytes engine = kEngine;
    Area plain{};
    const auto plainLength = [&] {
      return CNetIO::BuildSnmpV3msgData(engine.data(), static_cast<int>(engine.size()), nullptr, 1,
                                        1, oids, nullptr, nullptr, nullptr, plain.data());
    };
    while (plainLength() < scoped) engine.push_back(0x41);
    ASSERT_EQ(plainLength(), scoped);
    SNMPv3RequestID = 1;
    const Bytes m = request(engine, 1);
    const Element msgData = v3Parts(m).msgData;
    EXPECT_EQ(msgData.end - msgData.content, 64u) << scoped;
  }
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

  // An engine ID too long, and privacy without authentication: no request,
  // and no key of an earlier request survives.
  const auto c = usmCredentials();
  Bytes authKey(16, 0xAA), privKey(16, 0xAA);
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(
                engine33.data(), 33, 1, 1, 1, kDeviceIdOid, nullptr, nullptr, nullptr, c.userName,
                c.authPassword, c.privPassword, authKey.data(), privKey.data(), out.data()),
            0);
  EXPECT_EQ(authKey, Bytes(16, 0));
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(kEngine.data(), 10, 1, 1, 1, kDeviceIdOid, nullptr,
                                             nullptr, nullptr, c.userName, nullptr, c.privPassword,
                                             authKey.data(), privKey.data(), out.data()),
            0);
}

// The header of a secured request: flags, engine ID (as context engine ID
// too), boots and time past one octet, the user; the keys handed back are
// the localised ones, zero for a service not asked for. (The agents verify
// and decrypt the common case.)
TEST(V3Builder, SecuredRequestsCarryTheEngineParametersAndHandBackTheKeys) {
  const auto c = usmCredentials();
  const char* oids[] = {kOidSysName};
  const Bytes longEngine = cat({fromHex("800002a204"), Bytes(27, 0x41)});
  const struct {
    Bytes engine;
    unsigned long boots, time;
    const char *auth, *priv, *flags, *bootsHex, *timeHex;
  } cases[] = {{longEngine, 7, 70000, c.authPassword, c.privPassword, "07", "07", "011170"},
               {kEngine, 2147483647ul, 128, c.authPassword, nullptr, "05", "7fffffff", "0080"},
               {kEngine, 1, 200, "", "", "04", "01", "00c8"}};
  for (const auto& k : cases) {
    Area out{};
    Bytes authKey(16, 0xAA), privKey(16, 0xAA);
    const int n = CNetIO::BuildSnmpV3RequestPacket(
        k.engine.data(), static_cast<int>(k.engine.size()), k.boots, k.time, 1, oids, nullptr,
        nullptr, nullptr, c.userName, k.auth, k.priv, authKey.data(), privKey.data(), out.data());
    ASSERT_GT(n, 0);
    const Bytes m(out.begin(), out.begin() + n);
    const V3Parts p = v3Parts(m);
    const auto hex = [&](const Element& e) {
      return toHex(
          Bytes(m.begin() + static_cast<long>(e.content), m.begin() + static_cast<long>(e.end)));
    };
    const bool auth = k.auth[0] != 0, priv = auth && k.priv != nullptr;
    EXPECT_EQ(hex(p.flags), k.flags);
    EXPECT_EQ(hex(p.usm.at(0)), toHex(k.engine));
    EXPECT_EQ(hex(p.usm.at(1)) + " " + hex(p.usm.at(2)), std::string(k.bootsHex) + " " + k.timeHex);
    EXPECT_EQ(hex(p.usm.at(3)), toHex(text(c.userName)));
    EXPECT_EQ(p.usm.at(4).end - p.usm.at(4).content, auth ? 12u : 0u);
    EXPECT_EQ(authKey, auth ? localise(c.authPassword, k.engine) : Bytes(16));
    EXPECT_EQ(privKey, priv ? localise(c.privPassword, k.engine) : Bytes(16));
    if (!priv) {  // the plaintext scoped PDU names the engine as context
      EXPECT_EQ(hex(childrenOf(m, p.msgData).at(0)), toHex(k.engine));
    }
  }
}

bool offer(const char* oidText, std::string value) {
  unsigned char oid[64];
  const int n = CNetIO::oidEncode(oidText, oid);
  return searchAgentProCallbackEx2(oid, n, 0x04, reinterpret_cast<unsigned char*>(value.data()),
                                   static_cast<int>(value.size()));
}

// The agent value table files each object in its slot and cuts what does
// not fit; "1.3.6.1.2.1.1", a prefix of sysObjectID.0, is taken as it; an
// OID longer than a stored encoding's area matches nothing.
TEST(AgentValues, FilesEachObjectInItsSlotCuttingWhatDoesNotFit) {
  CNetIO::oidEncode(kOidSysObjectId, _sysObjIdOid);
  CNetIO::oidEncode(kOidSysName, _sysNameOid);
  CNetIO::oidEncode(kOidFwVersion, _pvtFwVerOid);
  CNetIO::oidEncode(kOidMcuVersion, _pvtMcuVerOid);
  EXPECT_TRUE(offer(kOidSysName, "Laser") && offer(kOidMcuVersion, "MCU2"));
  EXPECT_TRUE(offer(kOidFwVersion, std::string(200, 'f')));
  EXPECT_TRUE(offer(kOidSysObjectId, std::string(300, 'o')));
  EXPECT_FALSE(offer(kOidDeviceId, "STS:"));
  EXPECT_STREQ(_sysNameValue, "Laser");
  EXPECT_STREQ(_pvtMcuVerValue, "MCU2");
  EXPECT_EQ(std::string(_pvtFwVerValue), std::string(127, 'f'));
  EXPECT_EQ(_sysObjIdLen, kAgentValueSize);  // raw octets, no terminator needed
  EXPECT_TRUE(offer("1.3.6.1.2.1.1", "\x2b"));
  EXPECT_EQ(_sysObjIdLen, 1);
  unsigned char longOid[kAgentValueSize + 1] = {};
  EXPECT_FALSE(searchAgentProCallbackEx2(longOid, sizeof longOid, 0x04, longOid, 1));
}

}  // namespace
}  // namespace usbink::test
