// Finding and decoding the status block of a device-ID string.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

constexpr unsigned char kUntouched = 0xAA;

// The block follows the first "STS:" (case matters) and is the last field;
// line breaks within it are skipped, and so is a second key inside it.
TEST(DeviceId, DecodesTheBlockAfterTheFirstKeyOnlyWhenItIsWholeAndLast) {
  unsigned char bytes[kPrinterStatusSize];
  const unsigned char stsa[] = {0x49, 0x34, 0x80};  // encodes to "STSA"
  for (std::size_t i = 0; i < kPrinterStatusSize; ++i) bytes[i] = stsa[i % 3];
  bytes[0] = 0x2A;
  char text[200];
  base64_encode(bytes, sizeof bytes, text, sizeof text);
  const std::string block = text;
  ASSERT_EQ(block.substr(4, 8), "STSASTSA");
  // Text, result, and how many leading bytes must hold the block (the rest untouched).
  const std::tuple<std::string, int, std::size_t> cases[] = {
      {"STS:" + block, 0, 108},
      {"MFG:Acme;STS:" + block + ";\r\n", 0, 108},
      {"MFG:Acme;STS:" + block.substr(0, 70) + "\n " + block.substr(70), 0, 108},
      {"STS:" + block.substr(0, 7) + ":" + block.substr(7), 0, 108},
      {"STS:" + block.substr(0, 140), -1, 105},  // a short block leaves what it decoded
      {"STS:" + block + ";MDL:Laser;", -1, 0},
      {"STS:" + block + "STS:", -1, 0},  // a second key after a whole block adds bytes
      {"sts:" + block, -1, 0},
      {"", -1, 0},
      {"S", -1, 0},
      {"MDL:x;STS", -1, 0},
  };
  for (auto [text, code, decoded] : cases) {
    PRINTER_STATUS status;
    std::memset(&status, kUntouched, sizeof status);
    EXPECT_EQ(DecodStatusFromDeviceID(text.data(), &status), code) << text;
    EXPECT_EQ(std::memcmp(&status, bytes, decoded), 0) << text;
    if (decoded > 0 && decoded < kPrinterStatusSize) {
      EXPECT_EQ(reinterpret_cast<unsigned char*>(&status)[decoded], kUntouched) << text;
    }
  }
  char key[] = "STS:";
  EXPECT_EQ(DecodStatusFromDeviceID(nullptr, nullptr), -1);
  EXPECT_EQ(DecodStatusFromDeviceID(key, nullptr), -1);
}

}  // namespace
