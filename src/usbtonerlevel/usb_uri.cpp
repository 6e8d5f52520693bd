// Parsing of usb:// device URIs and matching them against printers.
#include "usbtonerlevel/usb_uri.h"

#include <algorithm>
#include <charconv>

namespace usbink::usb {
namespace {

constexpr std::string_view kScheme = "usb";
constexpr std::string_view kAfterScheme = "://";
constexpr char kPathStart = '/';
constexpr char kQueryStart = '?';
constexpr char kParameterEnd = '&';
constexpr char kValueStart = '=';
constexpr char kEscape = '%';
constexpr std::string_view kSerialParameter = "serial";
constexpr std::string_view kInterfaceParameter = "interface";
constexpr int kDecimal = 10;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kFirstPrintable = ' ';
constexpr char kDelete = '\x7f';

bool isControl(char c) {
  return static_cast<unsigned char>(c) < kFirstPrintable || c == kDelete;
}

// Reads the query parameters into `uri`; false when one we use is bad.
// Parameters we do not know are passed over, as CUPS adds no others and a
// future one should not stop the printer from being found.
bool parseQuery(std::string_view query, UsbUri& uri) {
  while (!query.empty()) {
    const std::size_t end = std::min(query.find(kParameterEnd), query.size());
    const std::string_view parameter = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    const std::size_t equals = std::min(parameter.find(kValueStart), parameter.size());
    const std::string_view name = parameter.substr(0, equals);
    const std::string_view value = parameter.substr(std::min(equals + 1, parameter.size()));
    if (name == kSerialParameter) {
      // A repeated serial is ambiguous, an empty one names nothing.
      if (uri.serial) return false;
      uri.serial = percentDecode(value);
      if (!uri.serial || uri.serial->empty()) return false;
    } else if (name == kInterfaceParameter) {
      if (uri.interfaceNumber) return false;
      uri.interfaceNumber = parseInterfaceNumber(value, kDecimal);
      if (!uri.interfaceNumber) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<int> parseInterfaceNumber(std::string_view text, int base) {
  // from_chars would take a leading minus sign; an interface number has none.
  if (text.empty() || text.front() == '-') return std::nullopt;
  int n = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, n, base);
  if (stop != end || error != std::errc() || n > kMaxInterfaceNumber) return std::nullopt;
  return n;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kEscape) {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::optional<UsbUri> parseUsbUri(std::string_view uri) {
  // CUPS escapes control characters; a raw one means the text is no URI.
  // Raw blanks are let through for URIs written by hand.
  if (std::any_of(uri.begin(), uri.end(), isControl)) return std::nullopt;
  // Scheme names compare without regard to case, as the tool's own test does.
  if (uri.size() < kScheme.size() + kAfterScheme.size() ||
      !equalsIgnoringCase(uri.substr(0, kScheme.size()), kScheme) ||
      uri.substr(kScheme.size(), kAfterScheme.size()) != kAfterScheme) {
    return std::nullopt;
  }
  uri.remove_prefix(kScheme.size() + kAfterScheme.size());

  // The model may itself hold a '/' (CUPS leaves it unescaped in the path),
  // so only the first one separates it from the make.
  const std::size_t slash = uri.find(kPathStart);
  if (slash == std::string_view::npos) return std::nullopt;
  const std::size_t question = std::min(uri.find(kQueryStart, slash), uri.size());

  UsbUri parts;
  std::optional<std::string> make = percentDecode(uri.substr(0, slash));
  std::optional<std::string> model = percentDecode(uri.substr(slash + 1, question - slash - 1));
  if (!make || !model || make->empty() || model->empty()) return std::nullopt;
  parts.make = std::move(*make);
  parts.model = std::move(*model);
  if (question < uri.size() && !parseQuery(uri.substr(question + 1), parts)) return std::nullopt;
  return parts;
}

UriMatch matchUri(const UsbUri& uri, const UsbPrinter& printer) {
  const std::vector<DeviceIdField> fields = parseDeviceId(printer.deviceId);
  const MakeAndModel names = cupsMakeAndModel(fields);
  // Make and model compare without regard to case: the make is the URI's
  // host part, which is case-insensitive, and queues set up by hand or by
  // other tools do not always keep the printer's spelling.
  if (!equalsIgnoringCase(uri.make, names.make) || !equalsIgnoringCase(uri.model, names.model)) {
    return UriMatch::kNone;
  }
  // An interface named in the URI must be the printer's; one we cannot learn
  // matches none, so that another printer's status is never reported.
  if (uri.interfaceNumber && uri.interfaceNumber != printer.interfaceNumber) {
    return UriMatch::kNone;
  }
  if (!uri.serial) return UriMatch::kExact;
  // Serial numbers are identifiers and compare exactly. A printer whose
  // serial number is unknown (firmware that drops it, a string request
  // that failed) may still be the one: CUPS prints to it under such a URI.
  // It is only second choice, so that it never stands in for the printer
  // that does carry the serial.
  const std::string serial = deviceIdSerial(fields).value_or(printer.usbSerial);
  if (serial.empty()) return UriMatch::kSerialUnknown;
  return serial == *uri.serial ? UriMatch::kExact : UriMatch::kNone;
}

}  // namespace usbink::usb
