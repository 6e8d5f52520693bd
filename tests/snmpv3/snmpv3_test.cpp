// SNMPv3 crypto against published answers, the request builder, the agent value table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <string>

#include "snmpv3/credentials.h"
#include "snmpv3/usm_detail.h"
#include "usbink/agent_values.h"
#include "usbink/md5.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

std::string md5Hex(Bytes message, std::size_t piece = 1u << 21) {
  MD5Init();
  for (std::size_t at = 0; at < message.size(); at += piece)
    MD5Update(message.data() + at, unsigned(std::min(piece, message.size() - at)));
  Bytes digest(16);
  MD5Final(digest.data());
  md5FreeBuffer();
  return toHex(digest);
}

TEST(Md5, MatchesTheRfc1321SuiteWhateverThePiecesOfTheUpdates) {
  const std::pair<std::string, std::string> suite[] = {
      {std::string(80, '1'), "7478ba1875f17511c12740431336a09e"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},  // around the padding boundary
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"}};
  for (const auto& [message, digest] : suite) {
    for (std::size_t piece : {1u << 21, 1u, 3u, 63u, 64u, 65u})
      EXPECT_EQ(md5Hex(text(message), piece), digest) << message << " piece " << piece;
  }
  MD5Init();  // the empty message
  EXPECT_STREQ(MD5FinalToString(), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(UsmKey, LocalisesTheRepeatedPhraseOfAnyLength) {
  Bytes engine(32);
  std::iota(engine.begin(), engine.end(), 0);
  for (std::size_t length : {1u, 63u, 64u, 65u}) {
    const std::string phrase = (md5Hex({1}) + md5Hex({2}) + md5Hex({3})).substr(0, length);
    Bytes stream(1u << 20);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = phrase[i % length];
    const Bytes ku = fromHex(md5Hex(stream));
    EXPECT_EQ(toHex(localise(phrase, engine)), md5Hex(cat({ku, engine, ku}))) << length;
  }
  const unsigned char phrase[] = "maplesyrup";
  Bytes key(kUsmKeySize, 0xAA), engine33(33, 0x01);
  Password_to_Key_md5(phrase, 0, engine33.data(), 4, key.data());
  Password_to_Key_md5(phrase, 10, engine33.data(), 33, key.data());
  EXPECT_EQ(key, Bytes(kUsmKeySize, 0xAA));
}

TEST(UsmPrivacy, DesCbcMatchesFips81AndStaysInItsBuffers) {
  const Bytes key = fromHex("0123456789abcdef"), iv = fromHex("1234567890abcdef");
  Bytes plain = text("Now is the time for all "), out(24), nine(16, 0x41), dst(16, 0x00);
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), plain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(toHex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 15), 0);
  EXPECT_EQ(DesEncryption(nullptr, iv.data(), nine.data(), 9, dst.data(), 16), 0);
  EXPECT_EQ(dst, Bytes(16, 0x00));
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 16), 9);
  Bytes privKey(kUsmKeySize, 1), salt(kUsmSaltSize), twelve(out.begin(), out.begin() + 12);
  EXPECT_EQ(DecryptMsgData(twelve.data(), 12, privKey.data(), salt.data()), 0);
  EXPECT_EQ(twelve, Bytes(out.begin(), out.begin() + 12));
  EXPECT_EQ(DecryptMsgData(out.data(), 0, privKey.data(), salt.data()), 1);
}

using Area = std::array<unsigned char, 2048>;

const Bytes kEngine = fromHex("800002a2040102030405");
const char *kDeviceIdOids[] = {kOidDeviceId}, *kSysNameOids[] = {kOidSysName};
const UsmCredentials kUser = usmCredentials();

std::string built(const Area& area, int length) {
  return length > 0 ? toHex(Bytes(area.begin(), area.begin() + length)) : "";
}

std::string hex(const Bytes& m, const Element& e) {
  return toHex(Bytes(m.begin() + long(e.content), m.begin() + long(e.end)));
}

struct Request {
  int length;
  Bytes message, authKey = Bytes(16, 0xAA), privKey = Bytes(16, 0xAA);
};

Request request(const Bytes& engine, unsigned long boots, unsigned long time = 1,
                const char* auth = kUser.authPassword, const char* priv = kUser.privPassword) {
  Area out{};
  Request r;
  r.length = CNetIO::BuildSnmpV3RequestPacket(
      engine.data(), int(engine.size()), boots, time, 1, kSysNameOids, nullptr, nullptr, nullptr,
      kUser.userName, auth, priv, r.authKey.data(), r.privKey.data(), out.data());
  r.message.assign(out.begin(), out.begin() + std::max(r.length, 0));
  return r;
}

int msgData(const Bytes& engine, const char* context, const char** oids, unsigned char* out) {
  return CNetIO::BuildSnmpV3msgData(engine.data(), int(engine.size()), context, 1, 1, oids, nullptr,
                                    nullptr, nullptr, out);
}

TEST(V3Builder, DiscoverySetPduAndPrivacyParametersOnTheWire) {
  Area out{};
  EXPECT_EQ(built(out, CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), out.size())),
            "3037020103300d02010002020800040104020103041030"
            "0e0400020100020100040004000400301104000400a00b0201000201000201003000");
  EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, out.data(), 56), 0);
  const unsigned char salt[] = {7};
  EXPECT_EQ(built(out, CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, nullptr, nullptr,
                                                                salt, 1, out.data(), nullptr)),
            "0411300f040002010002010004000400040107");
  const unsigned char hi[] = {'h', 'i'}, *values[] = {hi}, types[] = {kBerOctetString};
  const char lengths[] = {2};
  EXPECT_EQ(
      built(out, CNetIO::BuildSnmpV3PDU(255, 1, kDeviceIdOids, values, lengths, types, out.data())),
      "a327020200ff020100020100301b30190613"
      "2b0601040181cd1a8676822c8271c25301010004026869");
  // Privacy parameters: boots, then the salt counter; the scoped PDU padded to 64 octets.
  salt_low = 0x0A0B0C0D;
  const Bytes first = request(kEngine, 0x01020304).message;
  const Bytes second = request(kEngine, 0x01020304).message;
  EXPECT_EQ(hex(first, v3Parts(first).usm.at(5)), "010203040a0b0c0d");
  EXPECT_EQ(hex(second, v3Parts(second).usm.at(5)), "010203040a0b0c0e");
  for (const int scoped : {57, 64}) {  // engine IDs that make the scoped PDU this long
    Bytes engine = kEngine;
    Area plain{};
    while (msgData(engine, nullptr, kSysNameOids, plain.data()) < scoped) engine.push_back(0x41);
    ASSERT_EQ(msgData(engine, nullptr, kSysNameOids, plain.data()), scoped);
    SNMPv3RequestID = 1;
    const Bytes m = request(engine, 1).message;
    EXPECT_EQ(v3Parts(m).msgData.end - v3Parts(m).msgData.content, 64u) << scoped;
  }
}

TEST(V3Builder, RefusesWhatDoesNotFitWithoutWriting) {
  Area out{}, untouched{};
  const char* badOid[] = {"1.3.6.x"};
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, badOid, nullptr, nullptr, nullptr, out.data()), -1);
  Bytes longValue(120, 'v');  // longer than a one-octet length can hold
  const unsigned char *values[] = {longValue.data()}, types[] = {kBerOctetString};
  const char lengths[] = {120};
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, kDeviceIdOids, values, lengths, types, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, kDeviceIdOids, values, nullptr, types, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildSnmpV3PDU(1, 1, kDeviceIdOids, values, lengths, nullptr, out.data()), -1);
  EXPECT_EQ(msgData(kEngine, std::string(128, 'n').c_str(), kDeviceIdOids, out.data()), -1);
  EXPECT_EQ(msgData(Bytes(33, 0x80), nullptr, kDeviceIdOids, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildSnmpV3msgSecurityParameters(kEngine.data(), 10, 1, 1,
                                                     std::string(3000, 'u').c_str(), nullptr,
                                                     nullptr, 0, out.data(), nullptr),
            -1);
  EXPECT_EQ(out, untouched);
  // Too long an engine ID, or privacy without authentication: no request, no stale key.
  const Request tooLong = request(Bytes(33, 0x80), 1);
  EXPECT_TRUE(tooLong.length == 0 && tooLong.authKey == Bytes(16, 0));
  EXPECT_EQ(request(kEngine, 1, 1, nullptr).length, 0);
}

TEST(V3Builder, SecuredRequestsCarryTheEngineParametersAndHandBackTheKeys) {
  const Bytes longEngine = cat({fromHex("800002a204"), Bytes(27, 0x41)});
  const struct {
    Bytes engine;
    unsigned long boots, time;
    const char *auth, *priv, *header;  // flags, boots, time
  } cases[] = {{longEngine, 7, 70000, kUser.authPassword, kUser.privPassword, "07 07 011170"},
               {kEngine, 2147483647ul, 128, kUser.authPassword, nullptr, "05 7fffffff 0080"},
               {kEngine, 1, 200, "", "", "04 01 00c8"}};
  for (const auto& k : cases) {
    Request r = request(k.engine, k.boots, k.time, k.auth, k.priv);
    const Bytes& m = r.message;
    const V3Parts p = v3Parts(m);
    const bool auth = k.auth[0] != 0, priv = auth && k.priv != nullptr;
    EXPECT_EQ(hex(m, p.flags) + " " + hex(m, p.usm.at(1)) + " " + hex(m, p.usm.at(2)), k.header);
    EXPECT_EQ(hex(m, p.usm.at(0)) + hex(m, p.usm.at(3)), toHex(k.engine) + toHex(text("usbinkv3")));
    EXPECT_EQ(r.authKey, auth ? localise(k.auth, k.engine) : Bytes(16));
    EXPECT_EQ(r.privKey, priv ? localise(k.priv, k.engine) : Bytes(16));
    Bytes zeroed = m, k1(kUsmPadSize), k2(kUsmPadSize), code(kUsmMacSize + 1);
    std::fill(zeroed.begin() + long(p.usm.at(4).content), zeroed.begin() + long(p.usm.at(4).end),
              0);
    AuthKey2K1K2(r.authKey.data(), k1.data(), k2.data());
    CalcuateAuthParams(zeroed.data(), unsigned(zeroed.size()), k1.data(), k2.data(), code.data());
    EXPECT_EQ(hex(m, p.usm.at(4)) + "00", auth ? toHex(code) : "00");  // 12 octets, no more
    EXPECT_TRUE(priv || hex(m, childrenOf(m, p.msgData).at(0)) == toHex(k.engine));  // context
  }
}

bool offer(const char* oidText, std::string value) {
  unsigned char oid[64];
  const int n = CNetIO::oidEncode(oidText, oid);
  return searchAgentProCallbackEx2(oid, n, 0x04, reinterpret_cast<unsigned char*>(value.data()),
                                   static_cast<int>(value.size()));
}

TEST(AgentValues, FilesEachObjectInItsSlotCuttingWhatDoesNotFit) {
  CNetIO::oidEncode(kOidSysObjectId, _sysObjIdOid);
  CNetIO::oidEncode(kOidSysName, _sysNameOid);
  CNetIO::oidEncode(kOidFwVersion, _pvtFwVerOid);
  CNetIO::oidEncode(kOidMcuVersion, _pvtMcuVerOid);
  EXPECT_TRUE(offer(kOidFwVersion, std::string(200, 'f')));
  EXPECT_TRUE(offer(kOidSysObjectId, std::string(300, 'o')));
  EXPECT_FALSE(offer(kOidDeviceId, "STS:"));
  EXPECT_EQ(std::string(_pvtFwVerValue), std::string(127, 'f'));
  EXPECT_EQ(_sysObjIdLen, kAgentValueSize);  // raw octets, no terminator needed
  EXPECT_TRUE(offer("1.3.6.1.2.1.1", "\x2b"));
  EXPECT_TRUE(_sysObjIdLen == 1 && _sysObjIdValue[0] == 0x2b);
  unsigned char longOid[kAgentValueSize + 1] = {};
  EXPECT_FALSE(searchAgentProCallbackEx2(longOid, sizeof longOid, 0x04, longOid, 1));
}

}  // namespace
}  // namespace usbink::test
