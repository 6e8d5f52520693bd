// SNMP v1 GetRequest building, GetResponse parsing, the value consumers and
// their wrappers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

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

Bytes build(int count, const char* oid, const char* community) {
  std::array<unsigned char, 2048> out{};
  std::string oidText = oid;
  std::string communityText = community != nullptr ? community : "";
  const int n = CNetIO::BuildGetRequestFor(
      count, oidText.data(), community != nullptr ? communityText.data() : nullptr, out.data());
  return n > 0 ? Bytes(out.begin(), out.begin() + n) : Bytes{};
}

TEST(GetRequestBuilder, WritesTheDeviceIdRequestOctetForOctet) {
  const Bytes expected = fromHex(
      "30310201000406"
      "6d697274616c"
      "a024020100020100020100301930170613"
      "2b0601040181cd1a8676822c8271c253010100"
      "0500");
  ASSERT_EQ(expected.size(), 51u);
  EXPECT_EQ(build(1, kOidDeviceId, "mirtal"), expected);
  EXPECT_EQ(build(1, kOidDeviceId, nullptr), expected);
  EXPECT_EQ(build(1, kOidSysName, "mirtal"), expectedRequest(kSysNameOid, 1, "mirtal"));
  EXPECT_EQ(build(1, kOidSysName, "mirtal").size(), 40u);
}

TEST(GetRequestBuilder, RepeatsTheVarbindCountTimes) {
  EXPECT_EQ(build(3, kOidSysName, "public"), expectedRequest(kSysNameOid, 3, "public"));
}

TEST(GetRequestBuilder, SysObjectIdPduIsTheBuiltOne) {
  const Bytes request = build(1, kOidSysObjectId, "mirtal");
  const Bytes pdu(request.begin() + 7 + 6, request.end());
  EXPECT_EQ(pdu, Bytes(request_oid_pf, request_oid_pf + kRequestOidPfSize));
}

TEST(GetRequestBuilder, RefusesBadArgumentsWithoutWriting) {
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
}

TEST(GetRequestBuilder, RefusesMessagesThatNeedLongFormLengths) {
  const std::string longest(84, 'c');
  const Bytes request = build(1, kOidDeviceId, longest.c_str());
  EXPECT_EQ(request.size(), 129u);
  EXPECT_EQ(request[1], 127);
  EXPECT_TRUE(build(1, kOidDeviceId, (longest + "c").c_str()).empty());
  EXPECT_TRUE(build(5, kOidDeviceId, "mirtal").empty());
  EXPECT_TRUE(build(1000000, kOidSysName, "mirtal").empty());
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
}

TEST(ResponseParser, TakesGetResponseAndSetRequestTagsOnly) {
  const Bytes vb = varbind(kSysNameOid, kBerOctetString, text("abc"));
  for (unsigned char tag : {kPduGetResponse, kPduSetRequest}) {
    Datagram d(v1Response(vb, tag));
    EXPECT_EQ(parseRecording(d), 1) << int(tag);
    EXPECT_EQ(g_recorder.values.size(), 1u);
  }
  for (unsigned char tag : {kPduGetRequest, static_cast<unsigned char>(0xA1), kPduReport}) {
    Datagram d(v1Response(vb, tag));
    EXPECT_EQ(parseRecording(d), 0) << int(tag);
  }
}

TEST(ResponseParser, AcceptsAnEmptyOrIndefiniteListWithoutCallback) {
  Datagram empty(v1Response({}));
  EXPECT_EQ(parseRecording(empty), 1);
  EXPECT_TRUE(g_recorder.values.empty());

  const Bytes pdu = tlv(kPduGetResponse, cat({kZero, kZero, kZero, {kBerSequence, 0x80}}));
  Datagram indefinite(tlv(kBerSequence, cat({kZero, tlv(kBerOctetString, text("mirtal")), pdu})));
  EXPECT_EQ(parseRecording(indefinite), 1);
  EXPECT_TRUE(g_recorder.values.empty());
}

TEST(ResponseParser, StopsAtASecondItemThatIsNoSequenceAfterTheFirstCallback) {
  const Bytes first = varbind(kSysNameOid, kBerOctetString, text("abc"));
  Datagram d(v1Response(cat({first, {kBerOctetString, 0x00}})));
  EXPECT_EQ(parseRecording(d), 0);
  EXPECT_EQ(g_recorder.values.size(), 1u);
}

TEST(ResponseParser, RejectsTooShortDataAndIntegersWithoutContent) {
  unsigned char one[] = {kBerSequence};
  EXPECT_EQ(CNetIO::parseGetResponse(one, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(
      CNetIO::parseGetResponse(nullptr, 40, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      0);
  const Bytes empty = tlv(kBerInteger, {});
  const Bytes vb = tlv(kBerSequence, varbind(kSysNameOid, kBerNull, {}));
  const Bytes community = tlv(kBerOctetString, text("mirtal"));
  auto message = [&](const Bytes& version, const Bytes& a, const Bytes& b, const Bytes& c) {
    return tlv(kBerSequence, cat({version, community, tlv(kPduGetResponse, cat({a, b, c, vb}))}));
  };
  for (const Bytes& m :
       {message(empty, kZero, kZero, kZero), message(kZero, empty, kZero, kZero),
        message(kZero, kZero, empty, kZero), message(kZero, kZero, kZero, empty)}) {
    Datagram d(m);
    EXPECT_EQ(parseRecording(d), 0) << toHex(m);
  }
}

TEST(ResponseParser, RefusesACommunityLongerThanItsOutputHolds) {
  for (int length : {kCommunityCapacity - 1, kCommunityCapacity}) {
    Datagram d(v1Response({}, kPduGetResponse, 0, std::string(length, 'c')));
    char community[kCommunityCapacity];
    const int expected = length < kCommunityCapacity ? 1 : 0;
    EXPECT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), nullptr, community, nullptr, nullptr,
                                       nullptr, nullptr),
              expected);
    EXPECT_EQ(CNetIO::parseGetResponse(d.data(), d.size(), nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              1);
  }
}

TEST(ValueConsumers, RefuseValuesLongerThanTheirBuffers) {
  Bytes oid = kSysObjectIdOid;
  Bytes value(kDeviceIdSize, 'v');
  std::strcpy(g_RecvBuf, "kept");
  EXPECT_FALSE(outputRecvBufValue(oid.data(), 8, kBerOctetString, value.data(), kRecvBufSize));
  EXPECT_STREQ(g_RecvBuf, "kept");
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerInteger, value.data(), kRecvBufSize - 1));
  EXPECT_EQ(std::strlen(g_RecvBuf), static_cast<std::size_t>(kRecvBufSize - 1));

  std::strcpy(g_deviceid, "kept");
  EXPECT_FALSE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize));
  EXPECT_FALSE(outputDeviceIdValue(oid.data(), 8, kBerObjectId, value.data(), 3));
  EXPECT_STREQ(g_deviceid, "kept");
  EXPECT_TRUE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize - 1));
  EXPECT_EQ(std::strlen(g_deviceid), static_cast<std::size_t>(kDeviceIdSize - 1));

  sysObjIdLen = 0;
  EXPECT_FALSE(outputOidValue(oid.data(), 8, kBerObjectId, value.data(), kSysObjIdSize + 1));
  EXPECT_EQ(sysObjIdLen, 0);
  EXPECT_TRUE(outputOidValue(oid.data(), 8, kBerObjectId, value.data(), kSysObjIdSize));
  EXPECT_EQ(sysObjIdLen, kSysObjIdSize);
}

TEST(ValueConsumers, OidConsumerTakesOnlySysObjectIdValues) {
  Bytes value = fromHex("2b0601040181cd1a86760101");
  Bytes longer = cat({kSysObjectIdOid, {0x07}});
  Bytes shorter(kSysObjectIdOid.begin(), kSysObjectIdOid.end() - 1);
  Bytes other = kSysNameOid;
  sysObjIdLen = 0;
  EXPECT_FALSE(outputOidValue(shorter.data(), 7, kBerObjectId, value.data(), 12));
  EXPECT_FALSE(outputOidValue(other.data(), 8, kBerObjectId, value.data(), 12));
  EXPECT_FALSE(outputOidValue(longer.data(), 9, kBerOctetString, value.data(), 12));
  EXPECT_EQ(sysObjIdLen, 0);
  EXPECT_TRUE(outputOidValue(longer.data(), 9, kBerObjectId, value.data(), 12));
  EXPECT_EQ(Bytes(sysObjId, sysObjId + sysObjIdLen), value);
}

TEST(RecvBufWrapper, CopiesTheLastValueAsAString) {
  Datagram sysName(fromHex(kSysNameAnswer));
  char out[kRecvBufSize];
  ASSERT_EQ(CNetIO::parseForRecvBuf(sysName.data(), sysName.size(), out), 1);
  EXPECT_STREQ(out, "Laser-Agent");

  Datagram two(v1Response(cat({varbind(kSysNameOid, kBerOctetString, text("abc")),
                               varbind(kSysNameOid, kBerOctetString, text("d"))})));
  ASSERT_EQ(CNetIO::parseForRecvBuf(two.data(), two.size(), out), 1);
  EXPECT_STREQ(out, "d");

  Datagram empty(v1Response({}));
  ASSERT_EQ(CNetIO::parseForRecvBuf(empty.data(), empty.size(), out), 1);
  EXPECT_STREQ(out, "");
}

TEST(DeviceIdWrapper, DecodesTheCapturedDeviceIds) {
  for (const char* hex : {kDeviceIdAnswer, kLongDeviceIdAnswer}) {
    Datagram d(fromHex(hex));
    PRINTER_STATUS status{};
    ASSERT_TRUE(CNetIO::parseForDeviceId(d.data(), d.size(), &status));
    EXPECT_EQ(status.tonerLevel, 42);
    EXPECT_EQ(status.rest[0], 1);
    EXPECT_EQ(status.rest[106], 107);
  }
}

// A second printer that lacks the object must not report the first one's
// status block, still sitting in the device-ID buffer.
TEST(DeviceIdWrapper, AnswerWithoutDeviceIdFailsAfterAGoodOne) {
  Datagram good(fromHex(kDeviceIdAnswer));
  Datagram missing(fromHex(kNoSuchNameAnswer));
  PRINTER_STATUS status{};
  ASSERT_TRUE(CNetIO::parseForDeviceId(good.data(), good.size(), &status));
  EXPECT_FALSE(CNetIO::parseForDeviceId(missing.data(), missing.size(), &status));
  EXPECT_STREQ(g_deviceid, "");
}

TEST(DeviceIdWrapper, FailsWhenTheStatusBlockIsNotTheLastField) {
  const std::string deviceId = deviceIdWithToner(42) + "MDL:Laser;";
  Datagram d(v1Response(varbind(kDeviceIdOid, kBerOctetString, text(deviceId))));
  PRINTER_STATUS status{};
  EXPECT_FALSE(CNetIO::parseForDeviceId(d.data(), d.size(), &status));
}

class OidWrapper : public ::testing::Test {
 protected:
  // A response carrying `value` as sysObjectID.0.
  static Datagram answer(const Bytes& value) {
    return Datagram(v1Response(varbind(kSysObjectIdOid, kBerObjectId, value)));
  }
  CNetIO net;
};

TEST_F(OidWrapper, FindsTheCapturedSysObjectIdAmongTheTargets) {
  EXPECT_EQ(net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.2"), 12);
  Datagram captured(fromHex(kSysObjectIdAnswer));
  EXPECT_EQ(net.parseForOID(captured.data(), captured.size(), nullptr, 0), 1);
  net.InitTargetOID("1.3.6.1.4.1.26266.886.1.3", "1.3.6.1.4.1.26266.886.1.1");
  EXPECT_EQ(net.parseForOID(captured.data(), captured.size(), nullptr, 0), 1);
  net.InitTargetOID("1.3.6.1.4.1.26266.886.1.3", "1.3.6.1.4.1.26266.886.1.4");
  EXPECT_EQ(net.parseForOID(captured.data(), captured.size(), nullptr, 0), 0);
}

TEST_F(OidWrapper, NeedsMoreThanFourOctets) {
  net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.1");
  Datagram four = answer(fromHex("2b060104"));
  EXPECT_EQ(net.parseForOID(four.data(), four.size(), nullptr, 0), 0);
  Datagram five = answer(fromHex("2b06010401"));
  EXPECT_EQ(net.parseForOID(five.data(), five.size(), nullptr, 0), 1);
}

// Identifiers of more than 32 encoded octets are neither stored cut as
// targets nor compared beyond the 32 octets a target holds.
TEST_F(OidWrapper, NeverMatchesPastTheThirtyTwoOctetTargets) {
  std::string longText = "1.3";
  for (int i = 0; i < 20; ++i) longText += ".300";  // 1 + 2 * 20 = 41 octets
  std::array<unsigned char, kOidEncodedMax> encoded{};
  ASSERT_EQ(CNetIO::oidEncode(longText.c_str(), encoded.data()), 41);

  EXPECT_EQ(net.InitTargetOID(kOidSysName, longText.c_str()), -1);
  EXPECT_EQ(net.InitTargetOID(longText.c_str(), kOidSysName), 8);
  Datagram first32 = answer(Bytes(encoded.begin(), encoded.begin() + kTargetOidSize));
  EXPECT_EQ(net.parseForOID(first32.data(), first32.size(), nullptr, 0), 0);

  std::string exact = "1.3";
  for (int i = 0; i < 15; ++i) exact += ".300";  // 31 octets
  exact += ".5";                                 // 32 octets
  ASSERT_EQ(net.InitTargetOID(exact.c_str(), exact.c_str()), kTargetOidSize);
  ASSERT_EQ(CNetIO::oidEncode(exact.c_str(), encoded.data()), kTargetOidSize);
  Datagram whole = answer(Bytes(encoded.begin(), encoded.begin() + kTargetOidSize));
  EXPECT_EQ(net.parseForOID(whole.data(), whole.size(), nullptr, 0), 1);
  Datagram longer = answer(cat({Bytes(encoded.begin(), encoded.begin() + kTargetOidSize), {1}}));
  EXPECT_EQ(net.parseForOID(longer.data(), longer.size(), nullptr, 0), 0);
}

}  // namespace
}  // namespace usbink::test
