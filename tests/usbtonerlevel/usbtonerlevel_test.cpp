// Device-ID replies, fields and CUPS names; usb:// URIs and which printers they name.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <tuple>

#include "usbtonerlevel/device_id.h"
#include "usbtonerlevel/usb_uri.h"

namespace {

using namespace usbink::usb;
using enum ReplyError;
using enum UriMatch;
using namespace std::string_literals;

TEST(UsbDeviceId, RepliesFieldsAndCupsNames) {
  // Two bytes of length, big-endian and counting themselves, then the text.
  const std::tuple<std::string, std::string, std::optional<ReplyError>> replies[] = {
      {"\0\2"s, "", {}},
      {"\0\4ABCD"s, "AB", {}},
      {"\0\6A\0CD"s, "A", {}},
      {"\1\2"s + std::string(256, 'x'), std::string(256, 'x'), {}},
      {"\0"s, "", kNoPrefix},
      {"\0\1ABC"s, "", kLengthTooShort},
      {"\0\0ABC"s, "", kLengthTooShort},
      {"\0\6ABC"s, "", kLengthBeyondData}};
  for (const auto& [bytes, id, error] : replies) {
    const auto got = deviceIdFromReply(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(std::pair(got.id, got.error), std::pair(id, error)) << testing::PrintToString(bytes);
  }

  // Blanks, a missing last semicolon and junk are tolerated.
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const std::pair<const char*, Fields> ids[] = {
      {" MFG : Tavren ;\r\n MDL:LP 100", {{"MFG", "Tavren"}, {"MDL", "LP 100"}}},
      {"junk;:novalue;;K:;MFG:A", {{"K", ""}, {"MFG", "A"}}},
      {"STS:ab:cd=;", {{"STS", "ab:cd="}}}};
  for (const auto& [id, want] : ids) {
    Fields got;
    for (const auto& f : parseDeviceId(id)) got.emplace_back(f.key, f.value);
    EXPECT_EQ(got, want) << id;
  }
  // Keys compare without case in the order asked; an empty value counts as absent.
  const auto fields = parseDeviceId("mfg:Short;Manufacturer:Long;SN:;SERN:S2;");
  EXPECT_EQ(std::tuple(findField(fields, {"MANUFACTURER", "MFG"}),
                       findField(fields, {"MFG", "MANUFACTURER"}), deviceIdSerial(fields),
                       findField(fields, {"MDL"})),
            std::tuple("Long", "Short", "S2", std::nullopt));

  const std::array<const char*, 3> names[] = {
      {"MANUFACTURER:Tavren;MODEL:LP 100;MFG:X;MDL:Y;", "Tavren", "LP 100"},
      {"MFG:Hewlett-Packard;MDL:HP LaserJet 1020;", "HP", "LaserJet 1020"},
      {"MFG:LEXMARK INTERNATIONAL;MDL:Lexmark E260;", "Lexmark", "E260"},
      {"MFG:Tavren;MDL:TavrenLP;", "Tavren", "TavrenLP"},
      {"MDL:Tavren LP 100;", "Tavren", "LP 100"},
      {"MFG:Tavren;DES:Tavren Laser;", "Tavren", "Laser"},
      {"MFG:Tavren;", "Tavren", "Unknown Model"},
      {"CMD:PCL;", "Unknown", "Printer"}};
  for (const auto& [id, make, model] : names) {
    const auto got = cupsMakeAndModel(parseDeviceId(id));
    EXPECT_EQ(std::tie(got.make, got.model), std::tuple(make, model)) << id;
  }
}

TEST(UsbUri, ParsesAndMatchesAsCupsNamesThePrinter) {
  // Unknown query keys are ignored; the model may hold a '/'.
  using Parsed =
      std::tuple<std::string, std::string, std::optional<std::string>, std::optional<int>>;
  const std::pair<const char*, Parsed> parsed[] = {
      {"usb://a%2fb/%C3%A9+%25?serial=A%2FB%201&interface=1", {"a/b", "\xC3\xA9+%", "A/B 1", 1}},
      {"USB://Tavren/LaserJet 1020/1022", {"Tavren", "LaserJet 1020/1022", {}, {}}},
      {"usb://Tavren/X?interface=0&future=1", {"Tavren", "X", {}, 0}}};
  for (const auto& [text, want] : parsed) {
    const auto uri = parseUsbUri(text);
    ASSERT_TRUE(uri) << text;
    EXPECT_EQ(std::tie(uri->make, uri->model, uri->serial, uri->interfaceNumber), want);
  }
  std::istringstream refused(
      "|usb://Tavren|usb:///LP|usb://Tavren/|usbx://Tavren/LP|usb:/Tavren/LP|usb://T/%|usb://T/"
      "%2|usb://T/a%2|usb://T/%G0|usb://T/%0g|usb://T/%00|usb://T/%%20|usb://T/LP?serial=|usb://T/"
      "LP?serial|usb://T/LP?serial=1&serial=2|usb://T/LP?interface=|usb://T/LP?interface=256|usb://"
      "T/LP?interface=-1|usb://T/LP?interface=+1|usb://T/LP?interface=1x|usb://T/"
      "LP?interface=99999999999999999999|usb://T/LP\tX|usb://T/LP?serial=1\r");
  for (std::string bad; std::getline(refused, bad, '|');)
    EXPECT_EQ(parseUsbUri(bad), std::nullopt) << bad;
  EXPECT_EQ(parseInterfaceNumber("ff", 16), 255);
  EXPECT_EQ(parseInterfaceNumber("100", 16), std::nullopt);

  const std::string id = "MFG:Tavren;CMD:PCL;MDL:LP 100;SN:ABC123;STS:AAAA;";
  const UsbPrinter tavren{id, "", 0}, interfaceUnknown{id, "", std::nullopt};
  const UsbPrinter longKeys{"MANUFACTURER:Tavren;MODEL:LP 100;SERIALNUMBER:ABC123", "", 0};
  const UsbPrinter usbSerialOnly{"MFG:Tavren;MDL:LP 100;", "U1", 0};
  const UsbPrinter noSerial{"MFG:Tavren;MDL:LP 100;", "", 0};
  const std::tuple<const char*, const UsbPrinter&, UriMatch> matches[] = {
      {"usb://tavren/lp%20100?serial=ABC123", tavren, kExact},
      {"usb://Tavren/LP%20100", tavren, kExact},
      {"usb://Tavren/LP%20100?serial=abc123", tavren, kNone},
      {"usb://Tavren/LP%20200?serial=ABC123", tavren, kNone},
      {"usb://Other/LP%20100?serial=ABC123", tavren, kNone},
      {"usb://Tavren/LP%20100?interface=0", interfaceUnknown, kNone},
      {"usb://Tavren/LP%20100?serial=ABC123", longKeys, kExact},
      {"usb://Tavren/LP%20100?serial=U1", usbSerialOnly, kExact},
      {"usb://Tavren/LP%20100?serial=ANY&interface=1", noSerial, kNone}};
  for (const auto& [uri, printer, match] : matches)
    EXPECT_EQ(matchUri(*parseUsbUri(uri), printer), match) << uri;
}

}  // namespace
