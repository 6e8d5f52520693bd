// usb-printer-emulator [--log=FILE] [--printer --make=M ...]... -- COMMAND: emulated USB printers
// in a umockdev testbed; runs COMMAND, exits with its status (128 + signal), logs each ioctl.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace usbink::test {

// Faults of GET_DEVICE_ID: STALL; STALL unless claimed; length prefix 10 past the data; no
// completion until discarded; unplugged mid-transfer. Or: string descriptors STALL.
inline constexpr const char *kFaultStall = "stall", *kFaultNeedsClaim = "needs-claim",
                            *kFaultPrefixBeyondData = "prefix-beyond-data",
                            *kFaultNeverCompletes = "never-completes", *kFaultGone = "gone",
                            *kFaultSerialStall = "serial-stall";

struct EmulatedPrinter {
  std::string make = "Acme", model = "Laser";
  std::string serial{};          // the iSerialNumber string; none when empty
  int interfaceNumber = 0;       // the printer interface; lower ones are vendor-specific
  int level = 57;                // byte 0 of the status block appended as STS:
  std::string fault{};           // one of kFault*, none when empty
  bool printerClass = true;      // false: a HID device with no printer interface
  bool usblp = false;            // usblp holds the interface and has a /dev/usb/lpN node
  bool devfsUnopenable = false;  // /dev/bus/usb/BBB/DDD cannot be opened (a directory)
};

// Calls f(option, field) for each field of `p` the emulator takes.
template <typename Printer, typename F>
void forEachOption(Printer& p, F f) {
  f("--make", p.make), f("--model", p.model), f("--serial", p.serial);
  f("--interface", p.interfaceNumber), f("--level", p.level), f("--fault", p.fault);
  f("--printer-class", p.printerClass), f("--usblp", p.usblp);
  f("--devfs-unopenable", p.devfsUnopenable);
}

// The emulator's command line for `printers`, logging to `log`, running `command`.
inline std::vector<std::string> emulatorCommand(const std::vector<EmulatedPrinter>& printers,
                                                const std::string& log,
                                                const std::vector<std::string>& command) {
  std::vector<std::string> argv{USBINK_BINARY_DIR "/tests/support/usb-printer-emulator",
                                "--log=" + log};
  for (const EmulatedPrinter& p : printers) {
    argv.push_back("--printer");
    forEachOption(p, [&](const char* option, const auto& v) {
      std::ostringstream text;
      text << option << '=' << v;
      argv.push_back(text.str());
    });
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

}  // namespace usbink::test
