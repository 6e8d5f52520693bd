// SNMP v1 GetRequest building, GetResponse fields, the value consumers and
// their wrappers. Malformed answers are in tests/hardening.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

#include "snmp/captured_answers.h"
#include "snmp/v1_test_util.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

const Bytes kZero = tlv(kBerInteger, {0});
const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
const Bytes kSysNameOid = fromHex("2b06010201010500");
const Bytes kSysObjectIdOid = fromHex("2b06010201010200");

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

TEST(GetRequestBuilder, WritesTheRequestOctetForOctet) {
  EXPECT_EQ(build(1, kOidDeviceId), expectedRequest(kDeviceIdOid, 1, "mirtal"));
  EXPECT_EQ(build(1, kOidDeviceId, nullptr), build(1, kOidDeviceId));  // the default community
  EXPECT_EQ(build(3, kOidSysName, "public"), expectedRequest(kSysNameOid, 3, "public"));
  const Bytes sysObjectId = build(1, kOidSysObjectId);
  EXPECT_EQ(Bytes(sysObjectId.begin() + 13, sysObjectId.end()),
            Bytes(request_oid_pf, request_oid_pf + kRequestOidPfSize));
}

TEST(GetRequestBuilder, RefusesBadArgumentsAndLongFormLengthsWithoutWriting) {
  std::array<unsigned char, 64> out;
  out.fill(0xEE);
  char oid[] = "1.3.6.1.2.1.1.5.0";
  char letter[] = "1.3.6.1.2.x.1.5.0";
  char community[] = "mirtal";
  EXPECT_EQ(CNetIO::BuildGetRequestFor(0, oid, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(-1, oid, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, nullptr, community, out.data()), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, oid, community, nullptr), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, letter, community, out.data()), -1);
  for (unsigned char b : out) EXPECT_EQ(b, 0xEE);

  const std::string longest(84, 'c');
  EXPECT_EQ(build(1, kOidDeviceId, longest.c_str()).size(), 129u);  // outer length 127
  EXPECT_TRUE(build(1, kOidDeviceId, (longest + "c").c_str()).empty());
  EXPECT_TRUE(build(5, kOidDeviceId).empty());
  EXPECT_TRUE(build(1000000, kOidSysName).empty());
}

TEST(ResponseParser, HandsOutEveryFieldOfANoSuchNameAnswer) {
  Datagram d(fromHex(kNoSuchNameAnswer));
  g_recorder.watch(d);
  int version = -1;
  char community[kCommunityCapacity] = {};
  unsigned char requestId = 9, errorStatus = 9, errorIndex = 9;
  ASSERT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), &version, community, &requestId,
                                     &errorStatus, &errorIndex, recordingCallback),
            1);
  EXPECT_EQ(version, 0);
  EXPECT_STREQ(community, "mirtal");
  EXPECT_EQ(requestId, 0);
  EXPECT_EQ(errorStatus, 2);
  EXPECT_EQ(errorIndex, 1);
  ASSERT_EQ(g_recorder.values.size(), 1u);
  EXPECT_EQ(g_recorder.values[0].type, kBerNull);
  EXPECT_TRUE(g_recorder.values[0].value.empty());
  EXPECT_EQ(
      CNetIO::parseGetResponse(nullptr, 40, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      0);
}

TEST(ResponseParser, RefusesACommunityLongerThanItsOutputHolds) {
  for (int length : {kCommunityCapacity - 1, kCommunityCapacity}) {
    Datagram d(v1Response({}, kPduGetResponse, 0, std::string(length, 'c')));
    char community[kCommunityCapacity];
    EXPECT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), nullptr, community, nullptr, nullptr,
                                       nullptr, nullptr),
              length < kCommunityCapacity ? 1 : 0);
    EXPECT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), nullptr, nullptr, nullptr, nullptr,
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
  EXPECT_STREQ(g_RecvBuf, "kept");
  EXPECT_STREQ(g_deviceid, "kept");
  EXPECT_EQ(sysObjIdLen, 0);
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerInteger, value.data(), kRecvBufSize - 1));
  EXPECT_TRUE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize - 1));
  EXPECT_TRUE(outputOidValue(oid.data(), 9, kBerObjectId, value.data(), kSysObjIdSize));
  EXPECT_EQ(std::strlen(g_RecvBuf), static_cast<std::size_t>(kRecvBufSize - 1));
  EXPECT_EQ(std::strlen(g_deviceid), static_cast<std::size_t>(kDeviceIdSize - 1));
  EXPECT_EQ(sysObjIdLen, kSysObjIdSize);
}

TEST(RecvBufWrapper, CopiesTheLastValueAsAString) {
  const std::pair<Bytes, const char*> cases[] = {
      {fromHex(kSysNameAnswer), "Laser-Agent"},
      {v1Response(cat({varbind(kSysNameOid, kBerOctetString, text("abc")),
                       varbind(kSysNameOid, kBerOctetString, text("d"))})),
       "d"},
      {v1Response({}), ""}};
  for (const auto& [answer, value] : cases) {
    Datagram d(answer);
    char out[kRecvBufSize];
    ASSERT_EQ(CNetIO::parseForRecvBuf(d.data(), d.size(), out), 1);
    EXPECT_STREQ(out, value);
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

class OidWrapper : public ::testing::Test {
 protected:
  // parseForOID on an answer carrying `value` as sysObjectID.0.
  int parse(const Bytes& value) {
    Datagram d(v1Response(varbind(kSysObjectIdOid, kBerObjectId, value)));
    return net.parseForOID(d.data(), d.size(), nullptr, 0);
  }
  CNetIO net;
};

TEST_F(OidWrapper, FindsTheCapturedSysObjectIdInEitherTargetGivenMoreThanFourOctets) {
  Datagram captured(fromHex(kSysObjectIdAnswer));
  const std::tuple<const char*, const char*, int> targets[] = {
      {"1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.2", 1},
      {"1.3.6.1.4.1.26266.886.1.3", "1.3.6.1.4.1.26266.886.1.1", 1},
      {"1.3.6.1.4.1.26266.886.1.3", "1.3.6.1.4.1.26266.886.1.4", 0}};
  for (const auto& [first, second, hit] : targets) {
    net.InitTargetOID(first, second);
    EXPECT_EQ(net.parseForOID(captured.data(), captured.size(), nullptr, 0), hit) << second;
  }
  net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.1");
  EXPECT_EQ(parse(fromHex("2b060104")), 0);
  EXPECT_EQ(parse(fromHex("2b06010401")), 1);
}

// Identifiers of more than 32 encoded octets are neither stored cut as
// targets nor compared beyond the 32 octets a target holds.
TEST_F(OidWrapper, NeverMatchesPastTheThirtyTwoOctetTargets) {
  std::string longText = "1.3";
  for (int i = 0; i < 20; ++i) longText += ".300";  // 1 + 2 * 20 = 41 octets
  std::array<unsigned char, kOidEncodedMax> encoded{};
  ASSERT_EQ(CNetIO::oidEncode(longText.c_str(), encoded.data()), 41);
  const Bytes first32(encoded.begin(), encoded.begin() + kTargetOidSize);
  EXPECT_EQ(net.InitTargetOID(kOidSysName, longText.c_str()), -1);
  EXPECT_EQ(net.InitTargetOID(longText.c_str(), kOidSysName), 8);
  EXPECT_EQ(parse(first32), 0);

  std::string exact = "1.3";
  for (int i = 0; i < 15; ++i) exact += ".300";  // 31 octets
  exact += ".5";                                 // 32 octets
  ASSERT_EQ(net.InitTargetOID(exact.c_str(), exact.c_str()), kTargetOidSize);
  ASSERT_EQ(CNetIO::oidEncode(exact.c_str(), encoded.data()), kTargetOidSize);
  const Bytes whole(encoded.begin(), encoded.begin() + kTargetOidSize);
  EXPECT_EQ(parse(whole), 1);
  EXPECT_EQ(parse(cat({whole, {1}})), 0);
}

}  // namespace
}  // namespace usbink::test
