// Emulated USB printers: usb-printer-emulator [--log=FILE] [--printer --make=M ...]... -- COMMAND
// builds a umockdev testbed with these devices, answers their usbdevfs and usblp ioctls, runs
// COMMAND inside, exits with its status (128 + signal) and logs one line per ioctl to FILE.
#pragma once

#include <string>
#include <vector>

namespace usbink::test {

// How a printer misbehaves; the faults concern GET_DEVICE_ID unless said.
inline constexpr const char* kFaultStall = "stall";             // always STALLs
inline constexpr const char* kFaultNeedsClaim = "needs-claim";  // STALLs unless claimed
inline constexpr const char* kFaultPrefixBeyondData = "prefix-beyond-data";  // prefix = size + 10
inline constexpr const char* kFaultNeverCompletes = "never-completes";       // until discarded
// Unplugged during the transfer: it ends with ESHUTDOWN, later ioctls fail with ENODEV.
inline constexpr const char* kFaultGone = "gone";
inline constexpr const char* kFaultSerialStall = "serial-stall";  // string descriptors STALL

struct EmulatedPrinter {
  std::string make = "Acme";
  std::string model = "Laser";
  std::string serial{};          // the iSerialNumber string; none when empty
  int interfaceNumber = 0;       // the printer interface; lower ones are vendor-specific
  std::string deviceId{};        // the fields before STS; "MFG:make;CMD:PCL;MDL:model;" when empty
  int level = 57;                // byte 0 of the status block appended as STS:
  std::string fault{};           // one of kFault*, none when empty
  bool printerClass = true;      // false: a HID device with no printer interface
  bool usblp = false;            // usblp holds the interface and has a /dev/usb/lpN node
  bool devfsUnopenable = false;  // /dev/bus/usb/BBB/DDD cannot be opened (a directory)
};

// The emulator's command line for `printers`, logging to `log` (if any), running `command`.
inline std::vector<std::string> emulatorCommand(const std::vector<EmulatedPrinter>& printers,
                                                const std::string& log,
                                                const std::vector<std::string>& command) {
  std::vector<std::string> argv{USBINK_BINARY_DIR "/tests/support/usb-printer-emulator"};
  if (!log.empty()) argv.push_back("--log=" + log);
  for (const EmulatedPrinter& p : printers) {
    argv.insert(
        argv.end(),
        {"--printer", "--make=" + p.make, "--model=" + p.model, "--serial=" + p.serial,
         "--interface=" + std::to_string(p.interfaceNumber), "--id=" + p.deviceId,
         "--level=" + std::to_string(p.level), "--fault=" + p.fault,
         "--printer-class=" + std::to_string(p.printerClass), "--usblp=" + std::to_string(p.usblp),
         "--devfs-unopenable=" + std::to_string(p.devfsUnopenable)});
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

}  // namespace usbink::test
