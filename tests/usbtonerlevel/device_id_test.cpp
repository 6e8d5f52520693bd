// Device-ID replies, their KEY:value fields, and the names CUPS derives.
#include "usbtonerlevel/device_id.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using enum usbink::usb::ReplyError;

TEST(UsbDeviceId, RepliesFieldsAndCupsNames) {
  const auto reply = [](std::vector<std::uint8_t> prefix, const std::string& text) {
    prefix.insert(prefix.end(), text.begin(), text.end());
    return usbink::usb::deviceIdFromReply(prefix);
  };
  const struct {
    usbink::usb::DeviceIdReply got;
    std::string id;
    std::optional<usbink::usb::ReplyError> error;
  } replies[] = {
      {reply({0x00, 0x05}, "ABC"), "ABC", std::nullopt},
      {reply({0x00, 0x02}, ""), "", std::nullopt},
      {reply({0x00, 0x04}, "ABCD"), "AB", std::nullopt},  // bytes past the length ignored
      {reply({0x00, 0x06}, std::string("A\0CD", 4)), "A", std::nullopt},
      {reply({0x01, 0x02}, std::string(256, 'x')), std::string(256, 'x'), std::nullopt},
      {reply({0x00}, ""), "", kNoPrefix},
      {reply({0x00, 0x01}, "ABC"), "", kLengthTooShort},
      {reply({0x00, 0x00}, "ABC"), "", kLengthTooShort},
      {reply({0x00, 0x06}, "ABC"), "", kLengthBeyondData},
  };
  for (const auto& r : replies)
    EXPECT_EQ(std::pair(r.got.id, r.got.error), std::pair(r.id, r.error));

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
