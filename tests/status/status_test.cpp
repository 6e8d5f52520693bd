// Base64 and the device-ID status block; output buffers have exactly the size given.
#include "usbink/status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "usbink/base64.h"

namespace {

std::pair<long, std::string> decode(std::string text, unsigned long capacity) {
  std::vector<unsigned char> out(capacity);
  const long n = base64_decode(text.data(), out.data(), capacity);
  return {n, n > 0 ? std::string(out.begin(), out.begin() + n) : std::string()};
}

std::pair<int, std::string> encode(const std::string& bytes, unsigned long capacity) {
  std::vector<char> out(capacity, '#');
  std::vector<unsigned char> in(bytes.begin(), bytes.end());
  const int result = base64_encode(in.data(), in.size(), out.data(), capacity);
  return {result, result == 1 ? std::string(out.data()) : std::string(out.begin(), out.end())};
}

TEST(Base64, EncodeAndDecodeWithTheirStoppingRulesAndRoundTrip) {
  const std::tuple<std::string, unsigned long, int, std::string> cases[] = {
      {"abc", 5, 1, "YWJj"}, {"abc", 4, 0, "####"}, {"a", 5, 1, "YQ=="},
      {"ab", 5, 1, "YWI="},  {"", 1, 1, ""},        {"", 0, 0, ""}};
  for (const auto& [bytes, capacity, result, text] : cases)
    EXPECT_EQ(encode(bytes, capacity), std::pair(result, text)) << bytes << " in " << capacity;
  for (int n = 0; n < 200; ++n) {  // every symbol and length, both ways
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += char((i * 37 + n) & 0xFF);
    EXPECT_EQ(decode(encode(bytes, 300).second, 300), std::pair(long(n), bytes));
  }
  const std::string block(144, 'A'), zeros(108, '\0');
  const std::tuple<std::string, unsigned long, long, std::string> decodes[] = {
      {"YQ", 64, 1, "a"},         {"YW\r\nJ j", 64, 3, "abc"}, {"Y;W:J\xC3\xA9j", 64, 3, "abc"},
      {"YQ==YWJj", 64, 1, "a"},   {"YWJjY=Jj", 64, 3, "abc"},  {"YWJj====", 64, 3, "abc"},
      {"YWJjA===", 64, 3, "abc"}, {"YWJj", 3, 3, "abc"},       {"YWJj", 2, -1, ""},
      {block, 108, 108, zeros},   {block + "AA", 108, -1, ""}, {block + "A", 108, 108, zeros}};
  for (const auto& [text, capacity, result, bytes] : decodes)
    EXPECT_EQ(decode(text, capacity), std::pair(result, bytes)) << text.substr(0, 12);
}

TEST(DeviceId, DecodesTheBlockAfterTheFirstKeyOnlyWhenItIsWholeAndLast) {
  unsigned char bytes[kPrinterStatusSize];
  const unsigned char stsa[] = {0x49, 0x34, 0x80};  // encodes to "STSA"
  for (std::size_t i = 0; i < kPrinterStatusSize; ++i) bytes[i] = stsa[i % 3];
  bytes[0] = 0x2A;
  const std::string block = encode(std::string(bytes, bytes + sizeof bytes), 200).second;
  const std::tuple<std::string, int, std::size_t> cases[] = {
      {"STS:" + block, 0, 108},
      {"MFG:Acme;STS:" + block + ";\r\n", 0, 108},
      {"STS:" + block.substr(0, 140), -1, 105},  // a short block leaves what it decoded
      {"STS:" + block + ";MDL:Laser;", -1, 0},
      {"STS:" + block + "STS:", -1, 0},  // a second key after a whole block adds bytes
      {"sts:" + block, -1, 0},
      {"", -1, 0},
      {"S", -1, 0},
      {"MDL:x;STS", -1, 0}};
  for (auto [text, code, decoded] : cases) {
    PRINTER_STATUS status;
    std::memset(&status, 0xAA, sizeof status);
    EXPECT_EQ(DecodStatusFromDeviceID(text.data(), &status), code) << text;
    EXPECT_EQ(std::memcmp(&status, bytes, decoded), 0) << text;
    const unsigned char* raw = reinterpret_cast<unsigned char*>(&status);
    EXPECT_TRUE(decoded % kPrinterStatusSize == 0 || raw[decoded] == 0xAA) << text;
  }
  char key[] = "STS:";
  EXPECT_EQ(DecodStatusFromDeviceID(key, nullptr), -1);
}

}  // namespace
