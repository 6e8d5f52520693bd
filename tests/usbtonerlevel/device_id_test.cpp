// Device-ID replies with their length prefix, the KEY:value fields, and the
// names CUPS derives from them.
#include "usbtonerlevel/device_id.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using usbink::usb::DeviceIdField;
using usbink::usb::ReplyError;

std::vector<std::uint8_t> bytes(std::initializer_list<std::uint8_t> prefix,
                                const std::string& text) {
  std::vector<std::uint8_t> out(prefix);
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

struct ReplyCase {
  const char* name;
  std::vector<std::uint8_t> reply;
  std::string id;
  std::optional<ReplyError> error;
};

TEST(DeviceIdReply, PrefixCountsItselfAndBoundsTheText) {
  const std::vector<ReplyCase> cases = {
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
  for (const ReplyCase& c : cases) {
    const auto reply = usbink::usb::deviceIdFromReply(c.reply);
    EXPECT_EQ(reply.id, c.id) << c.name;
    EXPECT_EQ(reply.error, c.error) << c.name;
  }
}

TEST(DeviceIdReply, EveryTruncationOfAValidReplyIsRefused) {
  const std::vector<std::uint8_t> whole = bytes({0x00, 0x0E}, "MFG:A;MDL:B;");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const auto reply = usbink::usb::deviceIdFromReply(std::span(whole.data(), n));
    EXPECT_TRUE(reply.error.has_value()) << n;
    EXPECT_EQ(reply.id, "") << n;
  }
  EXPECT_EQ(usbink::usb::deviceIdFromReply(whole).id, "MFG:A;MDL:B;");
}

std::vector<std::pair<std::string, std::string>> fieldsOf(const std::string& id) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const DeviceIdField& f : usbink::usb::parseDeviceId(id)) out.emplace_back(f.key, f.value);
  return out;
}

TEST(DeviceIdFields, ToleratesBlanksMissingSemicolonAndJunk) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(fieldsOf("MFG:Tavren;MDL:LP 100;"), (Fields{{"MFG", "Tavren"}, {"MDL", "LP 100"}}));
  EXPECT_EQ(fieldsOf(" MFG : Tavren ;\r\n MDL:LP 100"),
            (Fields{{"MFG", "Tavren"}, {"MDL", "LP 100"}}));
  EXPECT_EQ(fieldsOf("junk;:novalue;;K:;MFG:A"), (Fields{{"K", ""}, {"MFG", "A"}}));
  EXPECT_EQ(fieldsOf("STS:ab:cd=;"), (Fields{{"STS", "ab:cd="}}));
  EXPECT_EQ(fieldsOf(""), Fields{});
  EXPECT_EQ(fieldsOf(" ; ;"), Fields{});
}

TEST(DeviceIdFields, KeysCompareWithoutCaseInTheOrderAsked) {
  const auto fields = usbink::usb::parseDeviceId("mfg:Short;Manufacturer:Long;SN:;SERN:S2;");
  EXPECT_EQ(usbink::usb::findField(fields, {"MANUFACTURER", "MFG"}), "Long");
  EXPECT_EQ(usbink::usb::findField(fields, {"MFG", "MANUFACTURER"}), "Short");
  // An empty SN: does not hide the SERN: that follows.
  EXPECT_EQ(usbink::usb::deviceIdSerial(fields), "S2");
  EXPECT_EQ(usbink::usb::findField(fields, {"MDL"}), std::nullopt);
}

TEST(CupsNames, FollowCupsRulesForMakeAndModel) {
  struct Case {
    const char* id;
    const char* make;
    const char* model;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    const auto names = usbink::usb::cupsMakeAndModel(usbink::usb::parseDeviceId(c.id));
    EXPECT_EQ(names.make, c.make) << c.id;
    EXPECT_EQ(names.model, c.model) << c.id;
  }
}

}  // namespace
