// usb-printer-emulator [--log=F] [--printer --make=M ...]... -- COMMAND: umockdev USB printers
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace usbink::test {

struct EmulatedPrinter {
  std::string make = "Acme", model = "Laser";
  std::string serial{};          // the iSerialNumber string; none when empty
  int interfaceNumber = 0;       // the printer interface; lower ones are vendor-specific
  int level = 57;                // byte 0 of the status block appended as STS:
  std::string fault{};           // needs-claim, prefix-beyond-data, never-completes, serial-stall
  bool printerClass = true;      // false: a HID device with no printer interface
  bool usblp = false;            // usblp holds the interface and has a /dev/usb/lpN node
  bool devfsUnopenable = false;  // /dev/bus/usb/BBB/DDD cannot be opened (a directory)
};

template <typename Printer, typename F>
void forEachOption(Printer& p, F f) {
  f("--make", p.make), f("--model", p.model), f("--serial", p.serial);
  f("--interface", p.interfaceNumber), f("--level", p.level), f("--fault", p.fault);
  f("--printer-class", p.printerClass), f("--usblp", p.usblp);
  f("--devfs-unopenable", p.devfsUnopenable);
}

inline std::vector<std::string> emulatorCommand(const std::vector<EmulatedPrinter>& printers,
                                                const std::string& log,
                                                const std::vector<std::string>& command) {
  std::vector<std::string> argv{USBINK_BINARY_DIR "/tests/support/usb-printer-emulator",
                                "--log=" + log};
  for (const EmulatedPrinter& p : printers) {
    argv.push_back("--printer");
    forEachOption(p, [&](const char* o, const auto& v) {
      argv.push_back((std::ostringstream() << o << '=' << v).str());
    });
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

}  // namespace usbink::test
