// BER primitives, SNMP v1 GetRequest building, GetResponse fields, the value
// consumers and their wrappers. Malformed answers are in tests/hardening.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <tuple>

#include "snmp/captured_answers.h"
#include "snmp/v1_test_util.h"
#include "support/snmp_agents.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

const Bytes kZero = tlv(kBerInteger, {0});
const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
const Bytes kSysNameOid = fromHex("2b06010201010500");
const Bytes kSysObjectIdOid = fromHex("2b06010201010200");

TEST(BerLength, EncodesTheMinimalFormAndParsesItBack) {
  const std::pair<unsigned long, const char*> cases[] = {
      {0, "00"},       {127, "7f"},       {128, "8180"},       {255, "81ff"},
      {256, "820100"}, {65535, "82ffff"}, {65536, "83010000"}, {0xFFFFFFFFul, "84ffffffff"}};
  for (const auto& [n, hex] : cases) {
    std::array<unsigned char, 8> buf{};
    unsigned char* end = buf.data() + buf.size();
    Bytes encoded(CNetIO::berEncodeLength(end, n), end);
    EXPECT_EQ(toHex(encoded), hex);
    if (n > 65536) continue;
    int length = -1;
    EXPECT_EQ(CNetIO::parseLength(encoded.data(), &length), encoded.data() + encoded.size());
    EXPECT_EQ(length, static_cast<int>(n));
  }
  unsigned char lone[] = {0x80, 0x30};  // the indefinite marker reads as zero
  int length = -1;
  EXPECT_EQ(CNetIO::parseLength(lone, &length), lone + 1);
  EXPECT_EQ(length, 0);
}

TEST(BerInteger, ReadsUnsignedBigEndianKeepingTheLastFourOctets) {
  unsigned char five[] = {0x01, 0x02, 0x03, 0x04, 0x05}, ones[] = {0xFF, 0xFF};
  EXPECT_EQ(readIntValue(ones, 2), 65535);
  EXPECT_EQ(readIntValue(five + 3, 2), 0x0405);
  EXPECT_EQ(readIntValue(five, 5), 0x02030405);
  EXPECT_EQ(readIntValue(five, 0), 0);
  EXPECT_EQ(readIntValue(five, -3), 0);
  // Both byte-order helpers reverse a word on a big-endian host only.
  for (void (*toLittle)(char*) : {Big2LittleEndian, Big2LittleEndian_}) {
    char word[] = "\1\2\3\4";
    toLittle(word);
    EXPECT_STREQ(word, std::endian::native == std::endian::big ? "\4\3\2\1" : "\1\2\3\4");
  }
}

TEST(OidEncode, WritesArcsInSevenBitGroups) {
  const std::pair<const char*, std::string> cases[] = {
      {kOidDeviceId, "2b0601040181cd1a8676822c8271c253010100"},
      {"1.3.127", "2b7f"},
      {"1.3.128", "2b8100"},
      {"1.3.2147483647", "2b87ffffff7f"},
  };
  for (const auto& [text, hex] : cases) {
    std::array<unsigned char, kOidEncodedMax> out{};
    const int n = CNetIO::oidEncode(text, out.data());
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + std::max(n, 0))), hex) << text;
  }
  // The longest text allowed stays within kOidEncodedMax.
  std::string longest = "2.47";
  while (longest.size() + 10 <= static_cast<std::size_t>(kOidTextMax)) longest += ".268435456";
  std::array<unsigned char, kOidEncodedMax + 1> out{};
  const int n = CNetIO::oidEncode(longest.c_str(), out.data());
  EXPECT_GT(n, 0);
  EXPECT_LE(n, kOidEncodedMax);
}

TEST(OidEncode, RefusesBadTextWithoutWriting) {
  std::array<unsigned char, kOidEncodedMax> out;
  out.fill(0xEE);
  const std::string tooLong = std::string(64, '1') + ".1";
  const std::pair<const char*, int> cases[] = {
      {"1.3.6.a", 0}, {"1.3. 6", 0}, {nullptr, -1},          {"1", -1},   {"", -1},
      {"1..3", -1},   {"1.3.", -1},  {"1.3.2147483648", -1}, {"3.9", -1}, {tooLong.c_str(), -1}};
  for (const auto& [text, result] : cases) {
    EXPECT_EQ(CNetIO::oidEncode(text, out.data()), result) << (text ? text : "null");
  }
  EXPECT_EQ(CNetIO::oidEncode("1.3", nullptr), -1);
  for (unsigned char b : out) EXPECT_EQ(b, 0xEE);
}

// The request as RFC 1157 lays it out, built independently of the code.
Bytes expectedRequest(const Bytes& oid, int count, const std::string& community) {
  Bytes list;
  for (int i = 0; i < count; ++i) list = cat({list, varbind(oid, kBerNull, {})});
  const Bytes pdu = tlv(kPduGetRequest, cat({kZero, kZero, kZero, tlv(kBerSequence, list)}));
  return tlv(kBerSequence, cat({kZero, tlv(kBerOctetString, text(community)), pdu}));
}

// What BuildGetRequestFor writes, or nothing when it refuses.
Bytes build(int count, std::string oid, const char* community = "mirtal") {
  std::array<unsigned char, 2048> out{};
  std::string text = community != nullptr ? community : "";
  const int n = CNetIO::BuildGetRequestFor(
      count, oid.data(), community != nullptr ? text.data() : nullptr, out.data());
  return n > 0 ? Bytes(out.begin(), out.begin() + n) : Bytes{};
}

// The outer length must fit one octet: the request grows with the
// community and the number of bindings.
TEST(GetRequestBuilder, WritesTheRequestOrRefusesWithoutWriting) {
  EXPECT_EQ(build(1, kOidDeviceId), expectedRequest(kDeviceIdOid, 1, "mirtal"));
  EXPECT_EQ(build(1, kOidDeviceId, nullptr), build(1, kOidDeviceId));  // the default community
  EXPECT_EQ(build(3, kOidSysName, "public"), expectedRequest(kSysNameOid, 3, "public"));
  const std::string longest(84, 'c');
  EXPECT_EQ(build(1, kOidDeviceId, longest.c_str()), expectedRequest(kDeviceIdOid, 1, longest));
  EXPECT_TRUE(build(1, kOidDeviceId, (longest + "c").c_str()).empty());
  EXPECT_TRUE(build(5, kOidDeviceId).empty());
  EXPECT_TRUE(build(1000000, kOidSysName).empty());

  std::array<unsigned char, 64> out;
  out.fill(0xEE);
  char oid[] = "1.3.6.1.2.1.1.5.0", letter[] = "1.3.6.1.2.x.1.5.0", community[] = "mirtal";
  EXPECT_EQ(CNetIO::BuildGetRequestFor(0, oid, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(-1, oid, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, nullptr, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, oid, community, nullptr), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, letter, community, out.data()), -1);
  for (unsigned char b : out) EXPECT_EQ(b, 0xEE);
}

// Every field of a captured noSuchName answer; a community longer than its
// output holds is refused, but read when no output is asked for.
TEST(ResponseParser, HandsOutEveryFieldAndRefusesAnOverlongCommunity) {
  Datagram d(fromHex(kNoSuchNameAnswer));
  g_recorder.watch(d);
  int version = -1;
  char community[kCommunityCapacity] = {};
  unsigned char requestId = 9, errorStatus = 9, errorIndex = 9;
  ASSERT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), &version, community, &requestId,
                                     &errorStatus, &errorIndex, recordingCallback),
            1);
  EXPECT_EQ(std::tuple(version, std::string(community), requestId, errorStatus, errorIndex),
            std::tuple(0, std::string("mirtal"), 0, 2, 1));
  const Received echoed{fromHex("2b0601040181cd1a8676822c8271c25301020300"), kBerNull, {}};
  EXPECT_EQ(g_recorder.values, std::vector<Received>{echoed});
  EXPECT_EQ(
      CNetIO::parseGetResponse(nullptr, 40, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      0);
  for (int length : {kCommunityCapacity - 1, kCommunityCapacity}) {
    Datagram c(v1Response({}, kPduGetResponse, 0, std::string(length, 'c')));
    EXPECT_EQ(CNetIO::parseGetResponse(c.data(), c.size(), nullptr, community, nullptr, nullptr,
                                       nullptr, nullptr),
              length < kCommunityCapacity ? 1 : 0);
    EXPECT_EQ(CNetIO::parseGetResponse(c.data(), c.size(), nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              1);
  }
}

// A value longer than a consumer's buffer, of another type or for another
// object is refused and nothing is stored.
TEST(ValueConsumers, FileOnlyWhatFitsTheirBuffers) {
  Bytes oid = cat({kSysObjectIdOid, {7}}), other = kSysNameOid;
  Bytes value(kDeviceIdSize, 'v');
  std::strcpy(g_RecvBuf, "kept");
  std::strcpy(g_deviceid, "kept");
  sysObjIdLen = 0;
  EXPECT_FALSE(outputRecvBufValue(oid.data(), 8, kBerOctetString, value.data(), kRecvBufSize));
  EXPECT_FALSE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize));
  EXPECT_FALSE(outputDeviceIdValue(oid.data(), 8, kBerObjectId, value.data(), 3));
  EXPECT_FALSE(outputOidValue(oid.data(), 8, kBerObjectId, value.data(), kSysObjIdSize + 1));
  EXPECT_FALSE(outputOidValue(oid.data(), 7, kBerObjectId, value.data(), 12));
  EXPECT_FALSE(outputOidValue(other.data(), 8, kBerObjectId, value.data(), 12));
  EXPECT_FALSE(outputOidValue(oid.data(), 9, kBerOctetString, value.data(), 12));
  EXPECT_FALSE(outputRecvBufValue(oid.data(), 8, kBerOctetString, nullptr, 1));
  EXPECT_STREQ(g_RecvBuf, "kept");
  EXPECT_STREQ(g_deviceid, "kept");
  EXPECT_EQ(sysObjIdLen, 0);
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerInteger, value.data(), kRecvBufSize - 1));
  EXPECT_TRUE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize - 1));
  EXPECT_TRUE(outputOidValue(oid.data(), 9, kBerObjectId, value.data(), kSysObjIdSize));
  EXPECT_EQ(std::strlen(g_RecvBuf), static_cast<std::size_t>(kRecvBufSize - 1));
  EXPECT_EQ(std::strlen(g_deviceid), static_cast<std::size_t>(kDeviceIdSize - 1));
  EXPECT_EQ(sysObjIdLen, kSysObjIdSize);
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerNull, nullptr, 0));
  EXPECT_STREQ(g_RecvBuf, "");
}

// The captured sysName is read by the real agents' round trips.
TEST(RecvBufWrapper, CopiesTheLastValueAsAString) {
  const std::pair<Bytes, const char*> cases[] = {
      {v1Response(cat({varbind(kSysNameOid, kBerOctetString, text("abc")),
                       varbind(kSysNameOid, kBerOctetString, text("d"))})),
       "d"},
      {v1Response({}), ""},
      // A last value too long for g_RecvBuf fails the parse (nullptr: 0).
      {v1Response(cat({varbind(kSysNameOid, kBerOctetString, text("abc")),
                       varbind(kSysNameOid, kBerOctetString, Bytes(kRecvBufSize, 'v'))})),
       nullptr}};
  for (const auto& [answer, value] : cases) {
    Datagram d(answer);
    char out[kRecvBufSize];
    ASSERT_EQ(CNetIO::parseForRecvBuf(d.data(), d.size(), out), value != nullptr ? 1 : 0);
    if (value != nullptr) {
      EXPECT_STREQ(out, value);
    }
  }
}

// In this order: an answer without the object (noSuchName) must not decode
// the device ID the answer before left in the buffer.
TEST(DeviceIdWrapper, DecodesOnlyTheStatusBlockOfThisAnswer) {
  const Bytes trailing = v1Response(
      varbind(kDeviceIdOid, kBerOctetString, text(deviceIdWithToner(42) + "MDL:Laser;")));
  const std::pair<Bytes, bool> answers[] = {{fromHex(kDeviceIdAnswer), true},
                                            {fromHex(kNoSuchNameAnswer), false},
                                            {fromHex(kLongDeviceIdAnswer), true},
                                            {trailing, false}};
  for (const auto& [answer, decodes] : answers) {
    Datagram d(answer);
    PRINTER_STATUS status{};
    ASSERT_EQ(CNetIO::parseForDeviceId(d.data(), d.size(), &status), decodes) << toHex(answer);
    if (!decodes) continue;
    EXPECT_EQ(status.tonerLevel, 42);
    EXPECT_EQ(status.rest[106], 107);
  }
}

// parseForOID on an answer carrying `value` as sysObjectID.0.
int parseOid(CNetIO& net, const Bytes& value) {
  Datagram d(v1Response(varbind(kSysObjectIdOid, kBerObjectId, value)));
  return net.parseForOID(d.data(), d.size(), nullptr, 0);
}

// Matching itself is checked by the discovery tests against agents. An
// identifier of more than 32 encoded octets is neither stored cut as a
// target nor compared beyond the 32 octets a target holds.
TEST(OidWrapper, NeverMatchesPastTheThirtyTwoOctetTargets) {
  CNetIO net;
  std::string longText = "1.3";
  for (int i = 0; i < 20; ++i) longText += ".300";  // 1 + 2 * 20 = 41 octets
  std::array<unsigned char, kOidEncodedMax> encoded{};
  ASSERT_EQ(CNetIO::oidEncode(longText.c_str(), encoded.data()), 41);
  EXPECT_EQ(net.InitTargetOID(kOidSysName, longText.c_str()), -1);
  EXPECT_EQ(net.InitTargetOID(longText.c_str(), kOidSysName), 8);
  EXPECT_EQ(parseOid(net, Bytes(encoded.begin(), encoded.begin() + kTargetOidSize)), 0);

  std::string exact = "1.3";
  for (int i = 0; i < 15; ++i) exact += ".300";  // 31 octets
  exact += ".5";                                 // 32 octets
  ASSERT_EQ(net.InitTargetOID(exact.c_str(), exact.c_str()), kTargetOidSize);
  ASSERT_EQ(CNetIO::oidEncode(exact.c_str(), encoded.data()), kTargetOidSize);
  const Bytes whole(encoded.begin(), encoded.begin() + kTargetOidSize);
  EXPECT_EQ(parseOid(net, whole), 1);
  EXPECT_EQ(parseOid(net, cat({whole, {1}})), 0);
}

}  // namespace
}  // namespace usbink::test
