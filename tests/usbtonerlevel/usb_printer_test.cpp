// usbtonerlevel through the real libusb on emulated printers; their ioctl log shows what it did.
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
  const EmulatedPrinter stalls{.serial = "S1", .level = 11, .fault = "serial-stall"};
  const std::string first = "bus/usb/001/002 ", second = "bus/usb/001/003 ",
                    usage = "usage: usbtonerlevel QUEUE";
  const std::string asked = "SUBMITURB GET_DEVICE_ID config=0 interface=0 alt=0";
  const std::vector<std::string> named{"q", "usb://Acme/Laser?serial=S2"};
  EmulatedPrinter held{.serial = "S2", .level = 22, .usblp = true}, claim = held, lp = held;
  claim.fault = "needs-claim", lp.devfsUnopenable = true;
  const struct {
    std::vector<EmulatedPrinter> printers;
    int level = -1;  // -1: fails with `error` as its one line on standard error
    std::vector<std::string> args{"q", "usb://Acme/Laser?serial=S2"};
    std::string error = "(1 printer interfaces did not give their device ID)\n";
    std::vector<std::string> seen{};  // log lines, in this order
    std::string unseen{};             // in no log line
  } cases[] = {
      {{s1, s2}, 22},
      {{{.serial = "S2", .interfaceNumber = 1, .level = 33}},
       33,
       {"q", named[1] + "&interface=1"},
       "",
       {first + "SUBMITURB GET_DEVICE_ID config=0 interface=1 alt=0"}},
      {{{.printerClass = false}, s2}, 22, named, "", {}, first},  // another class: never opened
      {{held}, 22, named, "", {first + asked}, "DISCONNECT"},     // usblp's, answers unclaimed
      // One that answers only when claimed: detached, read, attached again.
      {{claim},
       22,
       named,
       "",
       {first + asked + " -> EPIPE", first + "DISCONNECT 0", first + "CLAIMINTERFACE 0",
        first + asked, first + "RELEASEINTERFACE 0", first + "CONNECT 0"}},
      {{lp}, 22, named, "", {"usb/lp0 LPIOC_GET_DEVICE_ID 4096"}},
      // libusb asks the last device first: one of unknown serial never stands in for the named.
      {{s2, stalls}, 22, named, "", {second + "SUBMITURB GET_DESCRIPTOR string 0 -> EPIPE"}},
      {{s2, {.level = 11}}, 22, named, "", {second + asked, first + asked}},
      {{stalls}, 11},
      {{{.serial = "S2", .fault = "stall"}}},
      {{{.serial = "S2", .fault = "prefix-beyond-data"}}},
      {{{.serial = "S2", .fault = "never-completes"}}},
      {{{.serial = "S2", .fault = "gone"}}},
      {{s2}, -1, {"q", "usb://Other/Model?serial=0"}, "no USB printer matches the device URI"},
      {{s2}, -1, {}, usage},
      {{s2}, -1, {"q", "ipp://printer.local/ipp/print"}, usage},
      {{s2}, -1, {"q", "usb://Acme/Laser?serial=1\nsecond line"}, usage}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.printers.back().fault);
    TempDir dir("usbink-usb");
    std::vector<std::string> command = c.args;
    command.insert(command.begin(), USBTONERLEVEL_PROGRAM);
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
