// Device-ID replies, their KEY:value fields, and the names CUPS derives.
#include "usbtonerlevel/device_id.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using enum usbink::usb::ReplyError;
using namespace std::string_literals;

TEST(UsbDeviceId, RepliesFieldsAndCupsNames) {
  // Two bytes of length, big-endian and counting themselves, then the text.
  const std::string x256(256, 'x');
  const std::tuple<std::string, std::string, std::optional<usbink::usb::ReplyError>> replies[] = {
      {"\0\5ABC"s, "ABC", {}},
      {"\0\2"s, "", {}},
      {"\0\4ABCD"s, "AB", {}},
      {"\0\6A\0CD"s, "A", {}},
      {"\1\2"s + x256, x256, {}},
      {"\0"s, "", kNoPrefix},
      {"\0\1ABC"s, "", kLengthTooShort},
      {"\0\0ABC"s, "", kLengthTooShort},
      {"\0\6ABC"s, "", kLengthBeyondData}};
  for (const auto& [bytes, id, error] : replies) {
    const auto got =
        usbink::usb::deviceIdFromReply(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(std::pair(got.id, got.error), std::pair(id, error)) << testing::PrintToString(bytes);
  }

  // Blanks, a missing last semicolon and junk are tolerated.
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const std::pair<const char*, Fields> ids[] = {
      {" MFG : Tavren ;\r\n MDL:LP 100", {{"MFG", "Tavren"}, {"MDL", "LP 100"}}},
      {"junk;:novalue;;K:;MFG:A", {{"K", ""}, {"MFG", "A"}}},
      {"STS:ab:cd=;", {{"STS", "ab:cd="}}},
      {" ; ;", {}},
  };
  for (const auto& [id, want] : ids) {
    Fields got;
    for (const auto& f : usbink::usb::parseDeviceId(id)) got.emplace_back(f.key, f.value);
    EXPECT_EQ(got, want) << id;
  }
  // Keys compare without case in the order asked; an empty value counts as absent.
  const auto fields = usbink::usb::parseDeviceId("mfg:Short;Manufacturer:Long;SN:;SERN:S2;");
  EXPECT_EQ(usbink::usb::findField(fields, {"MANUFACTURER", "MFG"}), "Long");
  EXPECT_EQ(usbink::usb::findField(fields, {"MFG", "MANUFACTURER"}), "Short");
  EXPECT_EQ(usbink::usb::deviceIdSerial(fields), "S2");
  EXPECT_EQ(usbink::usb::findField(fields, {"MDL"}), std::nullopt);

  const std::array<const char*, 3> names[] = {
      {"MANUFACTURER:Tavren;MODEL:LP 100;MFG:X;MDL:Y;", "Tavren", "LP 100"},
      {"MFG:Hewlett-Packard;MDL:HP LaserJet 1020;", "HP", "LaserJet 1020"},
      {"MFG:LEXMARK INTERNATIONAL;MDL:Lexmark E260;", "Lexmark", "E260"},
      {"MFG:Tavren;MDL:TavrenLP;", "Tavren", "TavrenLP"},
      {"MDL:Tavren LP 100;", "Tavren", "LP 100"},
      {"MFG:Tavren;DES:Tavren Laser;", "Tavren", "Laser"},
      {"MFG:Tavren;", "Tavren", "Unknown Model"},
      {"CMD:PCL;", "Unknown", "Printer"},
  };
  for (const auto& [id, make, model] : names) {
    const auto got = usbink::usb::cupsMakeAndModel(usbink::usb::parseDeviceId(id));
    EXPECT_EQ(got.make, make) << id;
    EXPECT_EQ(got.model, model) << id;
  }
}

}  // namespace
