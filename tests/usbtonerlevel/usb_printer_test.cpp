// usbtonerlevel through the real libusb on printers emulated with umockdev;
// the emulation's ioctl log shows what the program did to each device.
#include "support/usb_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

TEST(UsbTonerLevel, PrintsTheIdOfThePrinterTheUriNamesOrFailsInOneLine) {
  const EmulatedPrinter s1{.serial = "S1", .level = 11}, s2{.serial = "S2", .level = 22};
  const EmulatedPrinter stalls{.serial = "S1", .level = 11, .fault = kFaultSerialStall};
  const std::string first = "bus/usb/001/002 ", second = "bus/usb/001/003 ",
                    usage = "usage: usbtonerlevel QUEUE";
  const std::string asked = "SUBMITURB GET_DEVICE_ID config=0 interface=0 alt=0";
  const struct {
    std::vector<EmulatedPrinter> printers;
    int level = -1;                   // -1: fails with `error` as its one line on standard error
    std::vector<std::string> seen{};  // log lines, in this order
    std::string unseen{};             // in no log line
    std::string error = "(1 printer interfaces did not give their device ID)\n";
    std::vector<std::string> args{"q", "usb://Acme/Laser?serial=S2"};
  } cases[] = {
      {.printers = {s1, s2}, .level = 22},
      {.printers = {{.serial = "S2", .interfaceNumber = 1, .level = 33}},
       .level = 33,
       .seen = {first + "SUBMITURB GET_DEVICE_ID config=0 interface=1 alt=0"},
       .args = {"q", "usb://Acme/Laser?serial=S2&interface=1"}},
      // A device of another class is never opened.
      {.printers = {{.printerClass = false}, s2}, .level = 22, .unseen = first},
      // usblp holds a printer that answers unclaimed: asked without detaching.
      {.printers = {{.serial = "S2", .level = 22, .usblp = true}},
       .level = 22,
       .seen = {first + asked},
       .unseen = "DISCONNECT"},
      // One that answers only when claimed: detached, read, attached again.
      {.printers = {{.serial = "S2", .level = 22, .fault = kFaultNeedsClaim, .usblp = true}},
       .level = 22,
       .seen = {first + asked + " -> EPIPE", first + "DISCONNECT 0", first + "CLAIMINTERFACE 0",
                first + asked, first + "RELEASEINTERFACE 0", first + "CONNECT 0"}},
      {.printers = {{.serial = "S2", .level = 22, .usblp = true, .devfsUnopenable = true}},
       .level = 22,
       .seen = {"usb/lp0 LPIOC_GET_DEVICE_ID 4096"}},
      // libusb asks the device added last first: a printer whose serial is unknown (its
      // request stalls, or it has none) answers first but never stands in for the one named.
      {.printers = {s2, stalls},
       .level = 22,
       .seen = {second + "SUBMITURB GET_DESCRIPTOR string 0 -> EPIPE", first + asked}},
      {.printers = {s2, {.level = 11}}, .level = 22, .seen = {second + asked, first + asked}},
      {.printers = {stalls}, .level = 11},
      {.printers = {{.serial = "S2", .fault = kFaultStall}}},
      {.printers = {{.serial = "S2", .fault = kFaultPrefixBeyondData}}},
      {.printers = {{.serial = "S2", .fault = kFaultNeverCompletes}}},
      {.printers = {{.serial = "S2", .fault = kFaultGone}}},
      {.printers = {s2},
       .error = "no USB printer matches the device URI\n",
       .args = {"q", "usb://Other/Model?serial=0"}},
      {.printers = {s2}, .error = usage, .args = {}},
      {.printers = {s2}, .error = usage, .args = {"q", "ipp://printer.local/ipp/print"}},
      {.printers = {s2}, .error = usage, .args = {"q", "usb://Acme/Laser?serial=1\nsecond line"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.printers.back().fault);
    TempDir dir("usbink-usb");
    std::vector<std::string> command{USBTONERLEVEL_PROGRAM};
    command.insert(command.end(), c.args.begin(), c.args.end());
    const auto r = run(emulatorCommand(c.printers, dir.file("log"), command));
    const std::string log = readFile(dir.file("log"));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.level >= 0 ? 0 : c.error.starts_with("usage") ? 2 : 1);
    EXPECT_EQ(r.out, c.level < 0 ? "" : deviceIdWithToner(c.level) + "\n");
    const bool oneLine = r.err.find('\n') + 1 == r.err.size() && r.err.find(c.error) != r.err.npos;
    EXPECT_TRUE(c.level >= 0 ? r.err.empty() : oneLine) << r.err;
    auto at = log.begin();
    for (const std::string& line : c.seen) {
      at = std::search(at, log.end(), line.begin(), line.end());
      EXPECT_NE(at, log.end()) << line << " in order in\n" << log;
    }
    EXPECT_TRUE(c.unseen.empty() || log.find(c.unseen) == std::string::npos) << log;
  }
}

}  // namespace
}  // namespace usbink::test
