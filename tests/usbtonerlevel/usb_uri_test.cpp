// usb:// device URIs: percent-decoding, parsing, and which printers they name.
#include "usbtonerlevel/usb_uri.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using usbink::usb::UriMatch;
using enum usbink::usb::UriMatch;
using usbink::usb::UsbPrinter;

TEST(PercentDecode, DecodesEscapesAndRefusesBadOnes) {
  EXPECT_EQ(usbink::usb::percentDecode("LP%20100"), "LP 100");
  EXPECT_EQ(usbink::usb::percentDecode("a%2fb%2Fc%25"), "a/b/c%");
  EXPECT_EQ(usbink::usb::percentDecode("%C3%A9+"), "\xC3\xA9+");
  EXPECT_EQ(usbink::usb::percentDecode(""), "");
  for (const char* bad : {"%", "%2", "a%2", "%G0", "%0g", "%00", "%%20"}) {
    EXPECT_EQ(usbink::usb::percentDecode(bad), std::nullopt) << bad;
  }
}

// Unknown query keys are ignored; an interface number is below 256, in
// any base the caller reads it in.
TEST(UsbUri, ReadsMakeModelSerialAndInterface) {
  const struct {
    const char* uri;
    const char* model;
    std::optional<std::string> serial;
    std::optional<int> interfaceNumber;
  } cases[] = {
      {"usb://Tavren/LP%20100?serial=A%2FB%201&interface=1", "LP 100", "A/B 1", 1},
      {"USB://Tavren/LaserJet 1020/1022", "LaserJet 1020/1022", std::nullopt, std::nullopt},
      {"usb://Tavren/X?interface=0&future=1", "X", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const auto uri = usbink::usb::parseUsbUri(c.uri);
    ASSERT_TRUE(uri) << c.uri;
    EXPECT_EQ(uri->make, "Tavren");
    EXPECT_EQ(uri->model, c.model);
    EXPECT_EQ(uri->serial, c.serial);
    EXPECT_EQ(uri->interfaceNumber, c.interfaceNumber);
  }
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("ff", 16), 255);
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("100", 16), std::nullopt);
}

TEST(UsbUri, RefusesWhatIsNotAUsbDeviceUri) {
  const char* const bad[] = {"",
                             "usb://Tavren",
                             "usb:///LP",
                             "usb://Tavren/",
                             "usbx://Tavren/LP",
                             "usb:/Tavren/LP",
                             "usb://Tav%zzren/LP",
                             "usb://Tavren/LP?serial=",
                             "usb://Tavren/LP?serial",
                             "usb://Tavren/LP?serial=1&serial=2",
                             "usb://Tavren/LP?interface=",
                             "usb://Tavren/LP?interface=256",
                             "usb://Tavren/LP?interface=-1",
                             "usb://Tavren/LP?interface=+1",
                             "usb://Tavren/LP?interface=1x",
                             "usb://Tavren/LP?interface=99999999999999999999",
                             "usb://Tavren/LP\tX",
                             "usb://Tavren/LP?serial=1\r"};
  for (const char* uri : bad) EXPECT_FALSE(usbink::usb::parseUsbUri(uri).has_value()) << uri;
}

TEST(UriNamesPrinter, MatchesAsCupsNamesThePrinter) {
  const std::string id = "MFG:Tavren;CMD:PCL;MDL:LP 100;SN:ABC123;STS:AAAA;";
  const UsbPrinter tavren{id, "", 0};
  const UsbPrinter onInterface1{id, "", 1};
  const UsbPrinter interfaceUnknown{id, "", std::nullopt};
  const UsbPrinter longKeys{"MANUFACTURER:Tavren;MODEL:LP 100;SERIALNUMBER:ABC123", "", 0};
  const UsbPrinter sernKey{"MFG:Tavren;MDL:LP 100;SERN:ABC123", "", 0};
  const UsbPrinter usbSerialOnly{"MFG:Tavren;MDL:LP 100;", "U1", 0};
  const UsbPrinter noSerial{"MFG:Tavren;MDL:LP 100;", "", 0};
  const UsbPrinter hp{"MFG:Hewlett-Packard;MDL:HP LaserJet 1020;", "", 0};
  const struct {
    const char* uri;
    const UsbPrinter& printer;
    UriMatch match;
  } cases[] = {
      {"usb://Tavren/LP%20100?serial=ABC123", tavren, kExact},
      {"usb://tavren/lp%20100?serial=ABC123", tavren, kExact},
      {"usb://Tavren/LP%20100", tavren, kExact},
      {"usb://Tavren/LP%20100?serial=abc123", tavren, kNone},
      {"usb://Tavren/LP%20200?serial=ABC123", tavren, kNone},
      {"usb://Other/LP%20100?serial=ABC123", tavren, kNone},
      {"usb://Tavren/LP%20100?serial=ABC123&interface=1", onInterface1, kExact},
      {"usb://Tavren/LP%20100?serial=ABC123&interface=1", tavren, kNone},
      {"usb://Tavren/LP%20100?interface=0", tavren, kExact},
      {"usb://Tavren/LP%20100?interface=0", interfaceUnknown, kNone},
      {"usb://Tavren/LP%20100?serial=ABC123", interfaceUnknown, kExact},
      {"usb://Tavren/LP%20100?serial=ABC123", longKeys, kExact},
      {"usb://Tavren/LP%20100?serial=ABC123", sernKey, kExact},
      {"usb://Tavren/LP%20100?serial=U1", usbSerialOnly, kExact},
      {"usb://Tavren/LP%20100?serial=U2", usbSerialOnly, kNone},
      {"usb://Tavren/LP%20100?serial=ANY", noSerial, kSerialUnknown},
      {"usb://Tavren/LP%20100?serial=ANY&interface=1", noSerial, kNone},
      {"usb://Tavren/LP%20100", noSerial, kExact},
      {"usb://HP/LaserJet%201020", hp, kExact},
      {"usb://Hewlett-Packard/HP%20LaserJet%201020", hp, kNone},
  };
  for (const auto& c : cases) {
    const auto uri = usbink::usb::parseUsbUri(c.uri);
    ASSERT_TRUE(uri) << c.uri;
    EXPECT_EQ(usbink::usb::matchUri(*uri, c.printer), c.match)
        << c.uri << " vs " << c.printer.deviceId;
  }
}

}  // namespace
