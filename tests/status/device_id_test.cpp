// Finding and decoding the status block of a device-ID string.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

std::string blockFor(unsigned char first, unsigned char fill) {
  unsigned char bytes[108];
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

Result decodeText(std::string text, unsigned char before = 0xAA) {
  Result r{};
  std::memset(&r.status, before, sizeof r.status);
  r.code = DecodStatusFromDeviceID(text.data(), &r.status);
  return r;
}

TEST(DeviceId, DecodesTheBlockAfterTheKey) {
  const std::string block = blockFor(0x2A, 0x11);
  ASSERT_EQ(block.size(), 144u);
  for (const std::string& text : {"STS:" + block, "MFG:Acme;STS:" + block + ";\r\n",
                                  "MFG:Acme;STS:" + block.substr(0, 70) + "\n " + block.substr(70)}) {
    Result r = decodeText(text);
    EXPECT_EQ(r.code, 0) << text;
    EXPECT_EQ(r.status.tonerLevel, 0x2A);
    EXPECT_EQ(r.status.rest[106], 0x11);
  }
}

TEST(DeviceId, TheBlockMustBeTheLastField) {
  const std::string block = blockFor(0x2A, 0x11);
  EXPECT_EQ(decodeText("STS:" + block + ";MDL:Laser;").code, -1);
}

TEST(DeviceId, TheMemberAndTheFreeFunctionAgree) {
  std::string text = "STS:" + blockFor(7, 0);
  PRINTER_STATUS a{}, b{};
  EXPECT_EQ(CTavrenCmd().DecodStatusFromDeviceID(text.data(), &a), 0);
  EXPECT_EQ(DecodStatusFromDeviceID(text.data(), &b), 0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(DeviceId, UsesTheFirstKeyAndReadsASecondOneAsPartOfTheBlock) {
  // A block whose second group of text reads "STSA": written after a first
  // key as "STS:" + "STSA", the text holds a second key, yet the first one
  // decodes the whole block (the colon is skipped).
  unsigned char bytes[108] = {0x33};
  char group[] = "STSA";
  _base64_decode_triple(group, reinterpret_cast<char*>(bytes + 3));
  char text[200];
  base64_encode(bytes, sizeof bytes, text, sizeof text);
  const std::string block = text;
  ASSERT_EQ(block.substr(4, 4), "STSA");
  Result r = decodeText("STS:" + block.substr(0, 7) + ":" + block.substr(7));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(std::memcmp(&r.status, bytes, sizeof bytes), 0);
  // A second key after a complete block adds bytes beyond the 108.
  EXPECT_EQ(decodeText("STS:" + block + "STS:").code, -1);
}

TEST(DeviceId, RefusesMissingShortOrUnkeyedBlocks) {
  const std::string block = blockFor(0x2A, 0x11);
  EXPECT_EQ(decodeText("sts:" + block).code, -1);
  EXPECT_EQ(decodeText("").code, -1);
  EXPECT_EQ(decodeText("S").code, -1);
  EXPECT_EQ(decodeText("MDL:x;STS").code, -1);
  EXPECT_EQ(DecodStatusFromDeviceID(nullptr, nullptr), -1);
  char text[] = "STS:";
  EXPECT_EQ(DecodStatusFromDeviceID(text, nullptr), -1);
}

TEST(DeviceId, AShortBlockLeavesTheDecodedPrefixInTheRecord) {
  const std::string block = blockFor(0x2A, 0x11);
  Result r = decodeText("STS:" + block.substr(0, 140), 0xAA);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.status.tonerLevel, 0x2A);
  EXPECT_EQ(r.status.rest[103], 0x11);  // byte 104: the last of the 105 decoded
  EXPECT_EQ(r.status.rest[104], 0xAA);  // byte 105: untouched
}

TEST(DeviceId, Big2LittleEndianIsANoOpHere) {
  char bytes[4] = {1, 2, 3, 4};
  Big2LittleEndian(bytes);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
}

}  // namespace
