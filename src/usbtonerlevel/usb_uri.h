// usb:// device URIs as CUPS builds them for USB printers,
// "usb://MAKE/MODEL?serial=SN&interface=N", and the printers they name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "usbtonerlevel/device_id.h"

namespace usbink::usb {

// bInterfaceNumber is one byte.
inline constexpr int kMaxInterfaceNumber = 255;

struct UsbUri {
  std::string make;                    // percent-decoded
  std::string model;                   // percent-decoded
  std::optional<std::string> serial;   // percent-decoded, when the URI names one
  std::optional<int> interfaceNumber;  // when the URI names one
};

// `text` (read) with every "%XY" replaced by the byte it encodes; nothing
// when an escape is cut short, is not hexadecimal or encodes NUL (which no
// device-ID string can contain).
std::optional<std::string> percentDecode(std::string_view text);

// An interface number from 0 to kMaxInterfaceNumber written in `base`
// (digits only), or nothing.
std::optional<int> parseInterfaceNumber(std::string_view text, int base);

// The parts of a usb:// device URI (`uri`, read), or nothing when it is not
// one: another scheme, a control character, an empty make or model, a bad escape, an empty or
// repeated serial, or an interface that is not a number from 0 to 255.
std::optional<UsbUri> parseUsbUri(std::string_view uri);

// A printer interface found on the bus, with what identifies it.
struct UsbPrinter {
  std::string deviceId;
  std::string usbSerial;               // the iSerialNumber string, "" when unknown
  std::optional<int> interfaceNumber;  // unknown when the system does not say
};

// How a URI names a printer.
enum class UriMatch {
  kNone,           // another printer
  kSerialUnknown,  // make, model and interface agree; the URI names a serial the printer
                   // does not tell (absent or unreadable)
  kExact,          // everything the URI names agrees
};

// How `uri` (read) names `printer` (read).
UriMatch matchUri(const UsbUri& uri, const UsbPrinter& printer);

}  // namespace usbink::usb
