// Finding and decoding the status block of a device-ID string.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

constexpr unsigned char kUntouched = 0xAA;

// The text of a block whose first byte is `first` and every other `fill`.
std::string blockFor(unsigned char first, unsigned char fill) {
  unsigned char bytes[kPrinterStatusSize];
  std::memset(bytes, fill, sizeof bytes);
  bytes[0] = first;
  char text[200];
  base64_encode(bytes, sizeof bytes, text, sizeof text);
  return text;
}

struct Result {
  int code;
  PRINTER_STATUS status;
};

Result decodeText(std::string text) {
  Result r{};
  std::memset(&r.status, kUntouched, sizeof r.status);
  r.code = DecodStatusFromDeviceID(text.data(), &r.status);
  return r;
}

// The block follows the first "STS:" (case matters) and is the last field;
// line breaks within it are skipped.
TEST(DeviceId, DecodesTheBlockAfterTheKeyOnlyWhenItIsWholeAndLast) {
  const std::string block = blockFor(0x2A, 0x11);
  ASSERT_EQ(block.size(), 144u);
  const struct {
    std::string text;
    int code;
  } cases[] = {
      {"STS:" + block, 0},
      {"MFG:Acme;STS:" + block + ";\r\n", 0},
      {"MFG:Acme;STS:" + block.substr(0, 70) + "\n " + block.substr(70), 0},
      {"STS:" + block + ";MDL:Laser;", -1},
      // A second key after a complete block adds bytes beyond the 108.
      {"STS:" + block + "STS:", -1},
      {"sts:" + block, -1},
      {"", -1},
      {"S", -1},
      {"MDL:x;STS", -1},
  };
  for (const auto& c : cases) {
    const Result r = decodeText(c.text);
    EXPECT_EQ(r.code, c.code) << c.text;
    if (c.code == 0) {
      EXPECT_EQ(r.status.tonerLevel, 0x2A);
      EXPECT_EQ(r.status.rest[106], 0x11);
    }
  }
  char key[] = "STS:";
  EXPECT_EQ(DecodStatusFromDeviceID(nullptr, nullptr), -1);
  EXPECT_EQ(DecodStatusFromDeviceID(key, nullptr), -1);

  // A short block fails, but leaves the bytes it decoded in the record.
  const Result r = decodeText("STS:" + block.substr(0, 140));
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.status.tonerLevel, 0x2A);
  EXPECT_EQ(r.status.rest[103], 0x11);        // byte 104: the last of the 105 decoded
  EXPECT_EQ(r.status.rest[104], kUntouched);  // byte 105
}

TEST(DeviceId, UsesTheFirstKeyAndReadsASecondOneAsPartOfTheBlock) {
  // A block whose second group reads "STSA", split by a colon: a second key
  // inside the block, which the first one decodes whole (the colon skipped).
  unsigned char bytes[kPrinterStatusSize] = {0x33};
  char group[] = "STSA";
  _base64_decode_triple(group, reinterpret_cast<char*>(bytes + 3));
  char text[200];
  base64_encode(bytes, sizeof bytes, text, sizeof text);
  const std::string block = text;
  ASSERT_EQ(block.substr(4, 4), "STSA");
  const Result r = decodeText("STS:" + block.substr(0, 7) + ":" + block.substr(7));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(std::memcmp(&r.status, bytes, sizeof bytes), 0);
}

}  // namespace
