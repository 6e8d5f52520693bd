// Length octets, integers, byte order and OID encoding.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encodeLength(unsigned long length) {
  std::array<unsigned char, 8> buf{};
  unsigned char* end = buf.data() + buf.size();
  unsigned char* start = CNetIO::berEncodeLength(end, length);
  return Bytes(start, end);
}

Bytes encodeOid(const char* text) {
  std::array<unsigned char, kOidEncodedMax> out{};
  const int n = CNetIO::oidEncode(text, out.data());
  return n > 0 ? Bytes(out.begin(), out.begin() + n) : Bytes{};
}

TEST(BerLength, EncodesShortAndMinimalLongForms) {
  EXPECT_EQ(encodeLength(0), (Bytes{0x00}));
  EXPECT_EQ(encodeLength(127), (Bytes{0x7F}));
  EXPECT_EQ(encodeLength(128), (Bytes{0x81, 0x80}));
  EXPECT_EQ(encodeLength(255), (Bytes{0x81, 0xFF}));
  EXPECT_EQ(encodeLength(256), (Bytes{0x82, 0x01, 0x00}));
  EXPECT_EQ(encodeLength(65535), (Bytes{0x82, 0xFF, 0xFF}));
  EXPECT_EQ(encodeLength(65536), (Bytes{0x83, 0x01, 0x00, 0x00}));
  EXPECT_EQ(encodeLength(0xFFFFFFFFul), (Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BerLength, ParsesWhatItEncodesAndTheIndefiniteMarker) {
  for (unsigned long n : {0ul, 1ul, 127ul, 128ul, 255ul, 256ul, 4023ul, 65535ul, 65536ul}) {
    Bytes b = encodeLength(n);
    int length = -1;
    unsigned char* next = CNetIO::parseLength(b.data(), &length);
    EXPECT_EQ(length, static_cast<int>(n));
    EXPECT_EQ(next, b.data() + b.size());
  }
  unsigned char lone[] = {0x80, 0x30};
  int length = -1;
  EXPECT_EQ(CNetIO::parseLength(lone, &length), lone + 1);
  EXPECT_EQ(length, 0);
}

TEST(BerInteger, ReadsUnsignedBigEndianKeepingTheLastFourOctets) {
  unsigned char ffff[] = {0xFF, 0xFF};
  EXPECT_EQ(readIntValue(ffff, 2), 65535);
  EXPECT_EQ(readIntValue(ffff, 0), 0);
  EXPECT_EQ(readIntValue(ffff, -3), 0);
  unsigned char five[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(readIntValue(five, 5), 0x02030405);
  EXPECT_EQ(max(3, 7), 7);
  EXPECT_EQ(max(-1, -2), -1);
}

TEST(BerByteOrder, FlipsToNetworkOrderOnThisHost) {
  EXPECT_EQ(FLIPWORD(0x1234), 0x3412);
  EXPECT_EQ(FLIPDWORD(0x12345678ul), 0x78563412u);
}

TEST(OidEncode, MatchesTheWorkedIdentifiers) {
  EXPECT_EQ(encodeOid(kOidSysObjectId), (Bytes{0x2B, 6, 1, 2, 1, 1, 2, 0}));
  EXPECT_EQ(encodeOid(kOidSysName), (Bytes{0x2B, 6, 1, 2, 1, 1, 5, 0}));
  const Bytes privatePrefix = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x81, 0xCD, 0x1A, 0x86, 0x76,
                               0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01};
  auto with = [&](Bytes tail) {
    Bytes b = privatePrefix;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  EXPECT_EQ(encodeOid(kOidDeviceId), with({0x01, 0x00}));
  EXPECT_EQ(encodeOid(kOidFwVersion), with({0x02, 0x01, 0x00}));
  EXPECT_EQ(encodeOid(kOidMcuVersion), with({0x02, 0x03, 0x00}));
}

TEST(OidEncode, SplitsArcsIntoSevenBitGroups) {
  EXPECT_EQ(encodeOid("1.3.127"), (Bytes{0x2B, 0x7F}));
  EXPECT_EQ(encodeOid("1.3.128"), (Bytes{0x2B, 0x81, 0x00}));
  EXPECT_EQ(encodeOid("1.3.300"), (Bytes{0x2B, 0x82, 0x2C}));
  EXPECT_EQ(encodeOid("1.3.26266"), (Bytes{0x2B, 0x81, 0xCD, 0x1A}));
  EXPECT_EQ(encodeOid("1.3.2147483647"), (Bytes{0x2B, 0x87, 0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST(OidEncode, RefusesBadTextWithoutWriting) {
  std::array<unsigned char, kOidEncodedMax> out;
  out.fill(0xEE);
  EXPECT_EQ(CNetIO::oidEncode("1.3.6.a", out.data()), 0);
  EXPECT_EQ(CNetIO::oidEncode("1.3. 6", out.data()), 0);
  EXPECT_EQ(CNetIO::oidEncode(nullptr, out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("1.3", nullptr), -1);
  // Outside the limits: refused rather than encoded into garbage.
  EXPECT_EQ(CNetIO::oidEncode("1", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("1..3", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("1.3.", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("1.3.2147483648", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode("3.9", out.data()), -1);
  EXPECT_EQ(CNetIO::oidEncode(std::string(64, '1').append(".1").c_str(), out.data()), -1);
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
