// usb:// device URIs: percent-decoding, parsing, and which printers they name.
#include "usbtonerlevel/usb_uri.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

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

TEST(UsbUri, ReadsMakeModelSerialAndInterface) {
  auto uri = usbink::usb::parseUsbUri("usb://Tavren/LP%20100?serial=A%2FB%201&interface=1");
  ASSERT_TRUE(uri);
  EXPECT_EQ(uri->make, "Tavren");
  EXPECT_EQ(uri->model, "LP 100");
  EXPECT_EQ(uri->serial, "A/B 1");
  EXPECT_EQ(uri->interfaceNumber, 1);

  uri = usbink::usb::parseUsbUri("USB://HP/LaserJet 1020/1022");
  ASSERT_TRUE(uri);
  EXPECT_EQ(uri->model, "LaserJet 1020/1022");
  EXPECT_EQ(uri->serial, std::nullopt);
  EXPECT_EQ(uri->interfaceNumber, std::nullopt);

  uri = usbink::usb::parseUsbUri("usb://HP/X?interface=0&future=1");
  ASSERT_TRUE(uri);
  EXPECT_EQ(uri->serial, std::nullopt);
  EXPECT_EQ(uri->interfaceNumber, 0);
}

TEST(UsbUri, RefusesWhatIsNotAUsbDeviceUri) {
  for (const char* bad : {"",
                          "usb:",
                          "usb://",
                          "usb://Tavren",
                          "usb:///LP",
                          "usb://Tavren/",
                          "usb://Tavren/?serial=1",
                          "usbx://Tavren/LP",
                          "ipp://host/printers/lp",
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
                          "usb://Tavren/LP?interface=1&interface=1",
                          "usb://Tavren/LP?interface=99999999999999999999",
                          "usb://Tavren/LP\tX",
                          "usb://Tavren/LP?serial=1\r"}) {
    EXPECT_EQ(usbink::usb::parseUsbUri(bad).has_value(), false) << bad;
  }
}

TEST(UsbUri, InterfaceNumbersInOtherBases) {
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("0a", 16), 10);
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("ff", 16), 255);
  EXPECT_EQ(usbink::usb::parseInterfaceNumber("100", 16), std::nullopt);
}

struct MatchCase {
  const char* uri;
  UsbPrinter printer;
  bool names;
};

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
  const MatchCase cases[] = {
      {"usb://Tavren/LP%20100?serial=ABC123", tavren, true},
      {"usb://tavren/lp%20100?serial=ABC123", tavren, true},
      {"usb://Tavren/LP%20100", tavren, true},
      {"usb://Tavren/LP%20100?serial=abc123", tavren, false},
      {"usb://Tavren/LP%20100?serial=XYZ", tavren, false},
      {"usb://Tavren/LP%20200?serial=ABC123", tavren, false},
      {"usb://Other/LP%20100?serial=ABC123", tavren, false},
      {"usb://Tavren/LP%20100?serial=ABC123&interface=1", onInterface1, true},
      {"usb://Tavren/LP%20100?serial=ABC123&interface=1", tavren, false},
      {"usb://Tavren/LP%20100?interface=0", tavren, true},
      {"usb://Tavren/LP%20100?serial=ABC123", onInterface1, true},
      {"usb://Tavren/LP%20100?interface=0", interfaceUnknown, false},
      {"usb://Tavren/LP%20100?serial=ABC123", interfaceUnknown, true},
      {"usb://Tavren/LP%20100?serial=ABC123", longKeys, true},
      {"usb://Tavren/LP%20100?serial=ABC123", sernKey, true},
      {"usb://Tavren/LP%20100?serial=U1", usbSerialOnly, true},
      {"usb://Tavren/LP%20100?serial=U2", usbSerialOnly, false},
      {"usb://Tavren/LP%20100?serial=ANY", noSerial, true},
      {"usb://HP/LaserJet%201020", hp, true},
      {"usb://Hewlett-Packard/HP%20LaserJet%201020", hp, false},
  };
  for (const MatchCase& c : cases) {
    const auto uri = usbink::usb::parseUsbUri(c.uri);
    ASSERT_TRUE(uri) << c.uri;
    EXPECT_EQ(usbink::usb::uriNamesPrinter(*uri, c.printer), c.names)
        << c.uri << " vs " << c.printer.deviceId;
  }
}

}  // namespace
