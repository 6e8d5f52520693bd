// usbtonerlevel QUEUE URI: writes the IEEE 1284 device ID of the USB printer
// that the usb:// device URI names to standard output, for the usbink tool.
// The queue identifier is accepted for the tool's command line and not used:
// the URI alone says which printer is meant.
#include <cstdio>
#include <optional>
#include <string>

#include "usbtonerlevel/printer_scan.h"
#include "usbtonerlevel/usb_uri.h"

namespace {

constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kUsageError = 2;
constexpr int kExpectedArguments = 3;  // program, queue, URI
constexpr char kUsage[] = "usage: usbtonerlevel QUEUE usb://MAKE/MODEL?serial=SN[&interface=N]";

// The device ID of the printer the URI names: libusb first, which reaches
// every printer it may open, then usblp's devices, which ordinary users of
// the lp group may open when the raw USB devices are root's. The first
// exact match ends the search; a printer whose serial number is unknown
// answers only when no printer on the bus carries the serial the URI names.
std::optional<std::string> findDeviceId(const usbink::usb::UsbUri& uri, int* unreadable) {
  using namespace usbink::usb;
  std::optional<std::string> exact, serialUnknown;
  const PrinterVisitor match = [&](const UsbPrinter& printer) {
    switch (matchUri(uri, printer)) {
      case UriMatch::kExact:
        exact = printer.deviceId;
        return true;
      case UriMatch::kSerialUnknown:
        if (!serialUnknown) serialUnknown = printer.deviceId;
        return false;
      case UriMatch::kNone:
        return false;
    }
    return false;
  };
  const ScanResult viaLibusb = scanWithLibusb(uri.serial.has_value(), match);
  *unreadable = viaLibusb.unreadable;
  if (!viaLibusb.stopped) *unreadable += scanWithUsblp(match).unreadable;
  return exact ? exact : serialUnknown;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != kExpectedArguments) {
    std::fprintf(stderr, "%s\n", kUsage);
    return kUsageError;
  }
  // The URI is not echoed: it may hold line ends, and the message is one line.
  const std::optional<usbink::usb::UsbUri> uri = usbink::usb::parseUsbUri(argv[2]);
  if (!uri) {
    std::fprintf(stderr, "usbtonerlevel: not a usb:// device URI; %s\n", kUsage);
    return kUsageError;
  }

  int unreadable = 0;
  const std::optional<std::string> id = findDeviceId(*uri, &unreadable);
  if (!id) {
    if (unreadable > 0) {
      std::fprintf(stderr,
                   "usbtonerlevel: no USB printer matches the device URI (%d printer interfaces "
                   "did not give their device ID)\n",
                   unreadable);
    } else {
      std::fprintf(stderr, "usbtonerlevel: no USB printer matches the device URI\n");
    }
    return kNotFound;
  }

  std::fwrite(id->data(), 1, id->size(), stdout);
  std::fputc('\n', stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("usbtonerlevel: writing the device ID");
    return kNotFound;
  }
  return kFound;
}
