// Length octets, integers and OID encoding.
#include "usbink/ber.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/raw_responder.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

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
  unsigned char five[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(readIntValue(five + 3, 2), 0x0405);
  EXPECT_EQ(readIntValue(five, 5), 0x02030405);
  EXPECT_EQ(readIntValue(five, 0), 0);
  EXPECT_EQ(readIntValue(five, -3), 0);
}

TEST(OidEncode, WritesArcsInSevenBitGroups) {
  const std::string device = "2b0601040181cd1a8676822c8271c25301";
  const std::pair<const char*, std::string> cases[] = {
      {kOidSysObjectId, "2b06010201010200"},
      {kOidSysName, "2b06010201010500"},
      {kOidDeviceId, device + "0100"},
      {kOidFwVersion, device + "020100"},
      {kOidMcuVersion, device + "020300"},
      {"1.3.127", "2b7f"},
      {"1.3.128", "2b8100"},
      {"1.3.2147483647", "2b87ffffff7f"},
  };
  for (const auto& [text, hex] : cases) {
    std::array<unsigned char, kOidEncodedMax> out{};
    const int n = CNetIO::oidEncode(text, out.data());
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + std::max(n, 0))), hex) << text;
  }
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

TEST(OidEncode, LongestTextFitsTheDocumentedBound) {
  std::string text = "2.47";
  while (text.size() + 10 <= static_cast<std::size_t>(kOidTextMax)) text += ".268435456";
  std::array<unsigned char, kOidEncodedMax + 1> out{};
  const int n = CNetIO::oidEncode(text.c_str(), out.data());
  EXPECT_GT(n, 0);
  EXPECT_LE(n, kOidEncodedMax);
}

}  // namespace
}  // namespace usbink::test
