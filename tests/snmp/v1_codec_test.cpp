// BER primitives, v1 GetRequests, GetResponse fields, value consumers and their wrappers.
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
#include "usbink/oids.h"

namespace usbink::test {
namespace {

const Bytes kSysObjectIdOid = fromHex("2b06010201010200");

TEST(BerPrimitives, LengthsIntegersAndByteOrder) {
  const std::pair<unsigned long, const char*> lengths[] = {
      {0, "00"},       {127, "7f"},       {128, "8180"},       {255, "81ff"},
      {256, "820100"}, {65535, "82ffff"}, {65536, "83010000"}, {0xFFFFFFFFul, "84ffffffff"}};
  for (const auto& [n, hex] : lengths) {
    std::array<unsigned char, 8> buf{};  // parseLength: fuzz/ber_length.cpp
    EXPECT_EQ(toHex(Bytes(CNetIO::berEncodeLength(buf.end(), n), buf.end())), hex);
  }
  // INTEGER contents read unsigned, big-endian, keeping the last four octets.
  unsigned char five[] = {0x01, 0x02, 0x03, 0x04, 0x05}, ones[] = {0xFF, 0xFF};
  const std::tuple<unsigned char*, int, int> ints[] = {
      {ones, 2, 65535}, {five + 3, 2, 0x0405}, {five, 5, 0x02030405}, {five, 0, 0}, {five, -3, 0}};
  for (auto [at, n, value] : ints) EXPECT_EQ(readIntValue(at, n), value) << n;
  for (void (*toLittle)(char*) : {Big2LittleEndian, Big2LittleEndian_}) {
    char word[] = "\1\2\3\4";  // reversed on a big-endian host only
    toLittle(word);
    EXPECT_STREQ(word, std::endian::native == std::endian::big ? "\4\3\2\1" : "\1\2\3\4");
  }
}

TEST(OidEncode, WritesArcsOrRefusesWithoutWriting) {
  std::string longest = "2.47";
  while (longest.size() + 10 <= static_cast<std::size_t>(kOidTextMax)) longest += ".268435456";
  for (const auto& [text, hex] :
       {std::pair{"1.3.127", "2b7f"}, {"1.3.128", "2b8100"}, {"1.3.2147483647", "2b87ffffff7f"}}) {
    std::array<unsigned char, kOidEncodedMax> out{};
    const int n = CNetIO::oidEncode(text, out.data());
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + std::max(n, 0))), hex) << text;
  }
  std::vector<unsigned char> out(kOidEncodedMax + 1, 0xEE);
  const std::string tooLong = std::string(64, '1') + ".1";
  const std::pair<const char*, int> refused[] = {
      {"1.3.6.a", 0}, {"1.3. 6", 0}, {nullptr, -1},          {"1", -1},   {"", -1},
      {"1..3", -1},   {"1.3.", -1},  {"1.3.2147483648", -1}, {"3.9", -1}, {tooLong.c_str(), -1}};
  for (const auto& [text, result] : refused)
    EXPECT_EQ(CNetIO::oidEncode(text, out.data()), result) << (text ? text : "null");
  EXPECT_EQ(CNetIO::oidEncode("1.3", nullptr), -1);
  EXPECT_TRUE(std::ranges::all_of(out, [](unsigned char b) { return b == 0xEE; }));
  EXPECT_EQ(CNetIO::oidEncode(longest.c_str(), out.data()), 61);
}

TEST(GetRequestBuilder, WritesTheRequestOrRefusesWithoutWriting) {
  const auto expected = [](const Bytes& oid, int count, const std::string& community) {
    Bytes list;
    for (int i = 0; i < count; ++i) list = cat({list, varbind(oid, kBerNull, {})});
    return v1Response(list, kPduGetRequest, 0, community);
  };
  const auto build = [](int count, std::string oid, std::string community) {
    std::vector<unsigned char> out(2048, 0xEE);
    const int n =
        CNetIO::BuildGetRequestFor(count, oid == "null" ? nullptr : oid.data(),
                                   community == "null" ? nullptr : community.data(), out.data());
    EXPECT_TRUE(n > 0 || (n == -1 && std::ranges::all_of(out, [](auto b) { return b == 0xEE; })))
        << oid;
    return n > 0 ? Bytes(out.begin(), out.begin() + n) : Bytes{};
  };
  const std::string longest(84, 'c'), over = longest + "c";
  EXPECT_EQ(build(1, kOidDeviceId, "null"), expected(kDeviceIdOid, 1, "mirtal"));
  EXPECT_EQ(build(3, kOidSysName, "public"), expected(kSysNameOid, 3, "public"));
  EXPECT_EQ(build(1, kOidDeviceId, longest.c_str()), expected(kDeviceIdOid, 1, longest));
  const std::tuple<int, const char*, const char*> refused[] = {
      {1, kOidDeviceId, over.c_str()}, {5, kOidDeviceId, "mirtal"}, {1000000, kOidSysName, "m"},
      {0, kOidSysName, "m"},           {-1, kOidSysName, "m"},      {1, "null", "m"},
      {1, "1.3.6.1.2.x.1.5", "m"}};
  for (const auto& [count, oid, community] : refused)
    EXPECT_TRUE(build(count, oid, community).empty()) << count << oid;
  char oid[] = "1.3.6.1.2.1.1.5.0", community[] = "mirtal";
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, oid, community, nullptr), -1);
}

TEST(ResponseParser, HandsOutEveryFieldAndRefusesAnOverlongCommunity) {
  Datagram d(capturedAnswer("no_such_name"));
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
  EXPECT_EQ(CNetIO::parseGetResponse(nullptr, 40, {}, {}, {}, {}, {}, {}), 0);
  for (int length : {kCommunityCapacity - 1, kCommunityCapacity}) {
    Datagram c(v1Response({}, kPduGetResponse, 0, std::string(length, 'c')));
    for (char* out : {community, static_cast<char*>(nullptr)})
      EXPECT_EQ(CNetIO::parseGetResponse(c.data(), c.size(), {}, out, {}, {}, {}, {}),
                length < kCommunityCapacity || out == nullptr ? 1 : 0);
  }
}

TEST(ValueConsumers, FileOnlyWhatFitsTheirBuffers) {
  Bytes oid = cat({kSysObjectIdOid, {7}}), other = kSysNameOid, value(kDeviceIdSize, 'v');
  for (char* buffer : {g_RecvBuf, g_deviceid}) std::strcpy(buffer, "kept");
  sysObjIdLen = 0;
  const std::tuple<decltype(&outputOidValue), unsigned char*, int, unsigned char, int> refused[] = {
      {outputRecvBufValue, oid.data(), 8, kBerOctetString, kRecvBufSize},
      {outputDeviceIdValue, oid.data(), 8, kBerOctetString, kDeviceIdSize},
      {outputDeviceIdValue, oid.data(), 8, kBerObjectId, 3},
      {outputOidValue, oid.data(), 8, kBerObjectId, kSysObjIdSize + 1},
      {outputOidValue, oid.data(), 7, kBerObjectId, 12},
      {outputOidValue, other.data(), 8, kBerObjectId, 12},
      {outputOidValue, oid.data(), 9, kBerOctetString, 12}};
  for (const auto& [consumer, o, oidLength, type, length] : refused)
    EXPECT_FALSE(consumer(o, oidLength, type, value.data(), length));
  EXPECT_FALSE(outputRecvBufValue(oid.data(), 8, kBerOctetString, nullptr, 1));
  EXPECT_EQ(std::tuple(std::string(g_RecvBuf), std::string(g_deviceid), sysObjIdLen),
            std::tuple("kept", "kept", 0));
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerInteger, value.data(), kRecvBufSize - 1));
  EXPECT_TRUE(outputDeviceIdValue(oid.data(), 8, kBerOctetString, value.data(), kDeviceIdSize - 1));
  EXPECT_TRUE(outputOidValue(oid.data(), 9, kBerObjectId, value.data(), kSysObjIdSize));
  EXPECT_EQ(std::tuple(std::strlen(g_RecvBuf), std::strlen(g_deviceid), sysObjIdLen),
            std::tuple(kRecvBufSize - 1, kDeviceIdSize - 1, kSysObjIdSize));
  EXPECT_TRUE(outputRecvBufValue(oid.data(), 8, kBerNull, nullptr, 0));
  EXPECT_STREQ(g_RecvBuf, "");
}

TEST(Wrappers, RecvBufTakesTheLastValueDeviceIdOnlyThisAnswersStatusBlock) {
  const auto sysName = [](const Bytes& v) { return varbind(kSysNameOid, kBerOctetString, v); };
  for (const auto& [answer, value] :
       {std::pair{v1Response(cat({sysName(text("abc")), sysName(text("d"))})), "d"},
        {v1Response({}), ""},
        {capturedAnswer("no_such_name"), ""},
        {v1Response(cat({sysName(text("abc")), sysName(Bytes(kRecvBufSize, 'v'))})), nullptr}}) {
    Datagram d(answer);
    char out[kRecvBufSize];
    ASSERT_EQ(CNetIO::parseForRecvBuf(d.data(), d.size(), out), value != nullptr ? 1 : 0);
    EXPECT_STREQ(value != nullptr ? out : nullptr, value);
  }
  const Bytes trailing = v1Response(
      varbind(kDeviceIdOid, kBerOctetString, text(deviceIdWithToner(42) + "MDL:Laser;")));
  for (const auto& [answer, decodes] : {std::pair{capturedAnswer("device_id"), true},
                                        {capturedAnswer("no_such_name"), false},
                                        {capturedAnswer("long_device_id"), true},
                                        {trailing, false}}) {
    Datagram d(answer);
    PRINTER_STATUS status{};
    ASSERT_EQ(CNetIO::parseForDeviceId(d.data(), d.size(), &status), decodes) << toHex(answer);
    if (!decodes) continue;
    EXPECT_EQ(std::pair(int{status.tonerLevel}, int{status.rest[106]}), std::pair(42, 107));
  }
}

TEST(OidWrapper, NeverMatchesPastTheThirtyTwoOctetTargets) {
  CNetIO net;
  const auto parseOid = [&net](const Bytes& value) {
    Datagram d(v1Response(varbind(kSysObjectIdOid, kBerObjectId, value)));
    return net.parseForOID(d.data(), d.size(), nullptr, 0);
  };
  std::string longText = "1.3";
  for (int i = 0; i < 20; ++i) longText += ".300";                  // 1 + 2 * 20 = 41 octets
  const std::string exact = longText.substr(0, 3 + 15 * 4) + ".5";  // 32 octets
  std::array<unsigned char, kOidEncodedMax> encoded{};
  ASSERT_EQ(CNetIO::oidEncode(longText.c_str(), encoded.data()), 41);
  EXPECT_EQ(net.InitTargetOID(kOidSysName, longText.c_str()), -1);
  EXPECT_EQ(net.InitTargetOID(longText.c_str(), kOidSysName), 8);
  EXPECT_EQ(parseOid(Bytes(encoded.begin(), encoded.begin() + kTargetOidSize)), 0);
  ASSERT_EQ(net.InitTargetOID(exact.c_str(), exact.c_str()), kTargetOidSize);
  ASSERT_EQ(CNetIO::oidEncode(exact.c_str(), encoded.data()), kTargetOidSize);
  const Bytes whole(encoded.begin(), encoded.begin() + kTargetOidSize);
  EXPECT_EQ(parseOid(whole), 1);
  EXPECT_EQ(parseOid(cat({whole, {1}})), 0);
}

}  // namespace
}  // namespace usbink::test
