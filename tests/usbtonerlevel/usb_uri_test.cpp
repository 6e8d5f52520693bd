// usb:// device URIs: percent-decoding, parsing, and which printers they name.
#include "usbtonerlevel/usb_uri.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using enum usbink::usb::UriMatch;
using usbink::usb::UsbPrinter;

TEST(UsbUri, ParsesAndMatchesAsCupsNamesThePrinter) {
  // Unknown query keys are ignored; the model may hold a '/'.
  const struct {
    const char* uri;
    const char* make;
    const char* model;
    std::optional<std::string> serial{};
    std::optional<int> interfaceNumber{};
  } parsed[] = {
      {"usb://a%2fb/%C3%A9+%25?serial=A%2FB%201&interface=1", "a/b", "\xC3\xA9+%", "A/B 1", 1},
      {"USB://Tavren/LaserJet 1020/1022", "Tavren", "LaserJet 1020/1022"},
      {"usb://Tavren/X?interface=0&future=1", "Tavren", "X", std::nullopt, 0},
  };
  for (const auto& c : parsed) {
    const auto uri = usbink::usb::parseUsbUri(c.uri);
    ASSERT_TRUE(uri) << c.uri;
    EXPECT_EQ(std::tie(uri->make, uri->model, uri->serial, uri->interfaceNumber),
              std::tie(c.make, c.model, c.serial, c.interfaceNumber));
  }
  std::istringstream refused(
      "|usb://Tavren|usb:///LP|usb://Tavren/|usbx://Tavren/LP|usb:/Tavren/LP|usb://T/%|usb://T/"
      "%2|usb://T/a%2|usb://T/%G0|usb://T/%0g|usb://T/%00|usb://T/%%20|usb://T/LP?serial=|usb://T/"
      "LP?serial|usb://T/LP?serial=1&serial=2|usb://T/LP?interface=|usb://T/LP?interface=256|usb://"
      "T/LP?interface=-1|usb://T/LP?interface=+1|usb://T/LP?interface=1x|usb://T/"
      "LP?interface=99999999999999999999|usb://T/LP\tX|usb://T/LP?serial=1\r");
  for (std::string bad; std::getline(refused, bad, '|');)
    EXPECT_EQ(usbink::usb::parseUsbUri(bad), std::nullopt) << bad;
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("ff", 16), 255);
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("100", 16), std::nullopt);

  const std::string id = "MFG:Tavren;CMD:PCL;MDL:LP 100;SN:ABC123;STS:AAAA;";
  const UsbPrinter tavren{id, "", 0}, interfaceUnknown{id, "", std::nullopt};
  const UsbPrinter longKeys{"MANUFACTURER:Tavren;MODEL:LP 100;SERIALNUMBER:ABC123", "", 0};
  const UsbPrinter usbSerialOnly{"MFG:Tavren;MDL:LP 100;", "U1", 0};
  const UsbPrinter noSerial{"MFG:Tavren;MDL:LP 100;", "", 0};
  const struct {
    const char* uri;
    const UsbPrinter& printer;
    usbink::usb::UriMatch match;
  } matches[] = {
      {"usb://tavren/lp%20100?serial=ABC123", tavren, kExact},
      {"usb://Tavren/LP%20100", tavren, kExact},
      {"usb://Tavren/LP%20100?serial=abc123", tavren, kNone},
      {"usb://Tavren/LP%20200?serial=ABC123", tavren, kNone},
      {"usb://Other/LP%20100?serial=ABC123", tavren, kNone},
      {"usb://Tavren/LP%20100?interface=0", tavren, kExact},
      {"usb://Tavren/LP%20100?interface=0", interfaceUnknown, kNone},
      {"usb://Tavren/LP%20100?serial=ABC123", longKeys, kExact},
      {"usb://Tavren/LP%20100?serial=U1", usbSerialOnly, kExact},
      {"usb://Tavren/LP%20100?serial=ANY", noSerial, kSerialUnknown},
      {"usb://Tavren/LP%20100?serial=ANY&interface=1", noSerial, kNone},
  };
  for (const auto& c : matches) {
    EXPECT_EQ(usbink::usb::matchUri(*usbink::usb::parseUsbUri(c.uri), c.printer), c.match)
        << c.uri << " vs " << c.printer.deviceId;
  }
}

}  // namespace
