// Device-ID replies, their KEY:value fields, and the names CUPS derives.
#include "usbtonerlevel/device_id.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using usbink::usb::ReplyError;

std::vector<std::uint8_t> bytes(std::initializer_list<std::uint8_t> prefix,
                                const std::string& text) {
  std::vector<std::uint8_t> out(prefix);
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

TEST(DeviceIdReply, PrefixCountsItselfAndBoundsTheText) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::string id;
    std::optional<ReplyError> error;
  } cases[] = {
      {"whole", bytes({0x00, 0x05}, "ABC"), "ABC", std::nullopt},
      {"prefix only", bytes({0x00, 0x02}, ""), "", std::nullopt},
      {"bytes past the length are ignored", bytes({0x00, 0x04}, "ABCD"), "AB", std::nullopt},
      {"a NUL ends the text", bytes({0x00, 0x06}, std::string("A\0CD", 4)), "A", std::nullopt},
      {"high byte first", bytes({0x01, 0x02}, std::string(256, 'x')), std::string(256, 'x'),
       std::nullopt},
      {"empty", {}, "", ReplyError::kNoPrefix},
      {"half a prefix", {0x00}, "", ReplyError::kNoPrefix},
      {"length 1", bytes({0x00, 0x01}, "ABC"), "", ReplyError::kLengthTooShort},
      {"length 0", bytes({0x00, 0x00}, "ABC"), "", ReplyError::kLengthTooShort},
      {"length beyond the data", bytes({0x00, 0x06}, "ABC"), "", ReplyError::kLengthBeyondData},
      {"little-endian length", bytes({0x05, 0x00}, "ABC"), "", ReplyError::kLengthBeyondData},
  };
  for (const auto& c : cases) {
    const auto reply = usbink::usb::deviceIdFromReply(c.reply);
    EXPECT_EQ(reply.id, c.id) << c.name;
    EXPECT_EQ(reply.error, c.error) << c.name;
  }
  const std::vector<std::uint8_t> whole = bytes({0x00, 0x0E}, "MFG:A;MDL:B;");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const auto reply = usbink::usb::deviceIdFromReply(std::span(whole.data(), n));
    EXPECT_TRUE(reply.error.has_value() && reply.id.empty()) << n;
  }
}

// Blanks, a missing last semicolon and junk are tolerated; keys compare
// without case in the order asked; an empty value counts as absent.
TEST(DeviceIdFields, ToleratesBlanksMissingSemicolonAndJunk) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const std::pair<const char*, Fields> cases[] = {
      {"MFG:Tavren;MDL:LP 100;", {{"MFG", "Tavren"}, {"MDL", "LP 100"}}},
      {" MFG : Tavren ;\r\n MDL:LP 100", {{"MFG", "Tavren"}, {"MDL", "LP 100"}}},
      {"junk;:novalue;;K:;MFG:A", {{"K", ""}, {"MFG", "A"}}},
      {"STS:ab:cd=;", {{"STS", "ab:cd="}}},
      {"", {}},
      {" ; ;", {}},
  };
  for (const auto& [id, want] : cases) {
    Fields got;
    for (const auto& f : usbink::usb::parseDeviceId(id)) got.emplace_back(f.key, f.value);
    EXPECT_EQ(got, want) << id;
  }

  const auto fields = usbink::usb::parseDeviceId("mfg:Short;Manufacturer:Long;SN:;SERN:S2;");
  EXPECT_EQ(usbink::usb::findField(fields, {"MANUFACTURER", "MFG"}), "Long");
  EXPECT_EQ(usbink::usb::findField(fields, {"MFG", "MANUFACTURER"}), "Short");
  EXPECT_EQ(usbink::usb::deviceIdSerial(fields), "S2");
  EXPECT_EQ(usbink::usb::findField(fields, {"MDL"}), std::nullopt);
}

TEST(CupsNames, FollowCupsRulesForMakeAndModel) {
  const struct {
    const char* id;
    const char* make;
    const char* model;
  } cases[] = {
      {"MFG:Tavren;MDL:LP 100;", "Tavren", "LP 100"},
      {"MANUFACTURER:Tavren;MODEL:LP 100;MFG:X;MDL:Y;", "Tavren", "LP 100"},
      {"MFG:Hewlett-Packard;MDL:HP LaserJet 1020;", "HP", "LaserJet 1020"},
      {"MFG:LEXMARK INTERNATIONAL;MDL:Lexmark E260;", "Lexmark", "E260"},
      {"MFG:Tavren;MDL:TavrenLP;", "Tavren", "TavrenLP"},
      {"MDL:Tavren LP 100;", "Tavren", "LP 100"},
      {"MFG:Tavren;DES:Tavren Laser;", "Tavren", "Laser"},
      {"MFG:Tavren;", "Tavren", "Unknown Model"},
      {"CMD:PCL;", "Unknown", "Printer"},
  };
  for (const auto& c : cases) {
    const auto names = usbink::usb::cupsMakeAndModel(usbink::usb::parseDeviceId(c.id));
    EXPECT_EQ(names.make, c.make) << c.id;
    EXPECT_EQ(names.model, c.model) << c.id;
  }
}

}  // namespace
