// The USB printers on this machine, found two ways: through libusb, which
// asks every printer-class interface itself, and through the usblp driver's
// /dev/usb/lp* devices, which need no access to the raw USB device.
#pragma once

#include <chrono>
#include <functional>

#include "usbtonerlevel/usb_uri.h"

namespace usbink::usb {

// Every USB transfer gives up after this long.
inline constexpr std::chrono::milliseconds kTransferTimeout{5000};

// Called for each printer found; returns true to end the scan.
using PrinterVisitor = std::function<bool(const UsbPrinter&)>;

struct ScanResult {
  bool stopped = false;  // the visitor ended the scan
  int unreadable = 0;    // printer interfaces whose device ID could not be read
};

// Scans the printer-class interfaces of every USB device through libusb.
// `needSerial` asks for the iSerialNumber string of devices whose ID
// carries no serial number (one more transfer each).
ScanResult scanWithLibusb(bool needSerial, const PrinterVisitor& visit);

// Scans the printers bound to the usblp driver.
ScanResult scanWithUsblp(const PrinterVisitor& visit);

}  // namespace usbink::usb
