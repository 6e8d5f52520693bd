// Emulated USB printers for tests: the usb-printer-emulator program builds
// a umockdev testbed with these devices (sysfs, /dev/bus/usb nodes, usblp
// nodes), answers the usbdevfs and usblp ioctls a program sends them, and
// runs a command inside it:
//
//   usb-printer-emulator [--log=FILE] [--printer --make=M --model=M ...]... -- COMMAND ARGS...
//
// It exits with the command's status (128 + signal when a signal ended it)
// and writes one line per ioctl the devices saw to FILE. This header is
// both sides' view of the options.
#pragma once

#include <string>
#include <vector>

namespace usbink::test {

// How a printer misbehaves; the faults concern GET_DEVICE_ID unless said.
inline constexpr const char* kFaultStall = "stall";  // every GET_DEVICE_ID STALLs
// GET_DEVICE_ID STALLs unless the interface is claimed (kernels and devices
// that do not answer an unclaimed interface).
inline constexpr const char* kFaultNeedsClaim = "needs-claim";
inline constexpr const char* kFaultPrefixBeyondData = "prefix-beyond-data";  // prefix = size + 10
inline constexpr const char* kFaultPrefixOne = "prefix-one";
inline constexpr const char* kFaultPrefixZero = "prefix-zero";
inline constexpr const char* kFaultNeverCompletes = "never-completes";  // until discarded
// The device is unplugged during GET_DEVICE_ID: the transfer ends with
// ESHUTDOWN and every later ioctl fails with ENODEV.
inline constexpr const char* kFaultGone = "gone";
inline constexpr const char* kFaultSerialStall = "serial-stall";  // string descriptors STALL

struct EmulatedPrinter {
  std::string make = "Acme";
  std::string model = "Laser 1";
  std::string serial{};          // the iSerialNumber string; none when empty
  int interfaceNumber = 0;       // the printer interface; lower ones are vendor-specific
  std::string deviceId{};        // the fields before STS; "MFG:make;CMD:PCL;MDL:model;" when empty
  int level = 57;                // byte 0 of the status block appended as STS:
  std::string fault{};           // one of kFault*, none when empty
  bool printerClass = true;      // false: a HID device with no printer interface
  bool usblp = false;            // usblp holds the interface and has a /dev/usb/lpN node
  bool devfsUnopenable = false;  // /dev/bus/usb/BBB/DDD cannot be opened (a directory)
};

// The emulator's command line for `printers`, with the ioctl log at `log`
// (none when empty) and `command` run inside.
inline std::vector<std::string> emulatorCommand(const std::vector<EmulatedPrinter>& printers,
                                                const std::string& log,
                                                const std::vector<std::string>& command) {
  std::vector<std::string> argv{USBINK_BINARY_DIR "/tests/support/usb-printer-emulator"};
  if (!log.empty()) argv.push_back("--log=" + log);
  for (const EmulatedPrinter& p : printers) {
    argv.insert(argv.end(),
                {"--printer", "--make=" + p.make, "--model=" + p.model, "--serial=" + p.serial,
                 "--interface=" + std::to_string(p.interfaceNumber), "--id=" + p.deviceId,
                 "--level=" + std::to_string(p.level), "--fault=" + p.fault});
    if (!p.printerClass) argv.push_back("--not-a-printer");
    if (p.usblp) argv.push_back("--usblp");
    if (p.devfsUnopenable) argv.push_back("--devfs-unopenable");
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

}  // namespace usbink::test
