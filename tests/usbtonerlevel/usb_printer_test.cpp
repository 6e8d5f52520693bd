// usbtonerlevel run as the tool runs it, through the real libusb, on
// printers emulated with umockdev; the emulation's ioctl log shows what the
// program did to each device.
#include "support/usb_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/process.h"

namespace usbink::test {
namespace {

constexpr int kNotFound = 1;
constexpr int kUsageError = 2;
// Every case ends well within this: one GET_DEVICE_ID that never completes
// costs the program's 5 s transfer limit.
constexpr std::chrono::seconds kBound{10};
constexpr const char* kFirst = "bus/usb/001/002 ";
constexpr const char* kSecond = "bus/usb/001/003 ";

struct Outcome {
  ProcessResult result;
  std::vector<std::string> log;
};

Outcome runOn(const std::vector<EmulatedPrinter>& printers, const std::vector<std::string>& args) {
  TempDir dir("usbink-usb");
  std::vector<std::string> command{USBTONERLEVEL_PROGRAM};
  command.insert(command.end(), args.begin(), args.end());
  ProcessOptions options;
  options.timeout = kBound;
  Outcome r{run(emulatorCommand(printers, dir.file("log"), command), options), {}};
  const std::string log = readFile(dir.file("log"));
  for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    r.log.push_back(log.substr(at, end - at));
  }
  return r;
}

// The level byte of the device ID printed, or -1 when the run failed.
int levelPrinted(const ProcessResult& r) {
  const auto sts = r.out.find("STS:");
  if (r.exitCode != 0 || sts == std::string::npos) return -1;
  static const std::string kBase64 =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  return static_cast<int>((kBase64.find(r.out[sts + 4]) << 2) |
                          (kBase64.find(r.out[sts + 5]) >> 4));
}

// True when `lines` occur in `log` in this order (others may stand between).
bool inOrder(const std::vector<std::string>& log, const std::vector<std::string>& lines) {
  auto at = log.begin();
  for (const std::string& line : lines) {
    at = std::find(at, log.end(), line);
    if (at == log.end()) return false;
  }
  return true;
}

TEST(UsbTonerLevel, ReadsThePrinterTheUriNames) {
  const std::vector<EmulatedPrinter> twoAlike{{.serial = "S1", .level = 11},
                                              {.serial = "S2", .level = 22}};
  const std::vector<EmulatedPrinter> keyStyles{
      {.deviceId = "MANUFACTURER:Acme;MODEL:Laser 1;SERIALNUMBER:K9;", .level = 44},
      {.deviceId = "MFG:Acme;MDL:Laser 1;SN:K8;", .level = 55}};
  const std::vector<EmulatedPrinter> onInterface1{
      {.serial = "S1", .interfaceNumber = 1, .level = 22}};
  const EmulatedPrinter stalls{.serial = "S1", .level = 11, .fault = kFaultSerialStall};
  const EmulatedPrinter noSerial{.level = 11};
  const EmulatedPrinter second{.serial = "S2", .level = 22};
  const std::string stalled = "SUBMITURB GET_DESCRIPTOR string 0 -> EPIPE";
  const std::string askedForId = "SUBMITURB GET_DEVICE_ID config=0 interface=0 alt=0";
  const struct {
    const char* name;
    std::vector<EmulatedPrinter> printers;
    std::string uri;
    int level;                        // -1: no printer matches
    std::vector<std::string> seen{};  // log lines, in this order
    std::string unseen{};             // in no log line
  } cases[] = {
      {"same make and model, the second serial", twoAlike, "usb://Acme/Laser%201?serial=S2", 22},
      {"interface 1 named",
       onInterface1,
       "usb://Acme/Laser%201?serial=S1&interface=1",
       22,
       {kFirst + std::string("SUBMITURB GET_DEVICE_ID config=0 interface=1 alt=0")}},
      {"another interface named", onInterface1, "usb://Acme/Laser%201?interface=0", -1},
      {"percent-encoded make and model",
       {{.make = "Acme Co", .model = "Laser 1/2+", .serial = "S1", .level = 33}},
       "usb://Acme%20Co/Laser%201%2F2%2B?serial=S1",
       33},
      {"MANUFACTURER, MODEL, SERIALNUMBER", keyStyles, "usb://Acme/Laser%201?serial=K9", 44},
      {"MFG, MDL, SN", keyStyles, "usb://Acme/Laser%201?serial=K8", 55},
      {"a device of another class is never opened",
       {{.printerClass = false}, {.serial = "S1", .level = 11}},
       "usb://Acme/Laser%201?serial=S1",
       11,
       {},
       kFirst},
      {"usblp holds it: asked without detaching",
       {{.serial = "S1", .level = 11, .usblp = true}},
       "usb://Acme/Laser%201?serial=S1",
       11,
       {kFirst + askedForId},
       "DISCONNECT"},
      {"answers only when claimed: detached, read, attached again",
       {{.serial = "S1", .level = 11, .fault = kFaultNeedsClaim, .usblp = true}},
       "usb://Acme/Laser%201?serial=S1",
       11,
       {kFirst + askedForId + " -> EPIPE", kFirst + std::string("DISCONNECT 0"),
        kFirst + std::string("CLAIMINTERFACE 0"), kFirst + askedForId,
        kFirst + std::string("RELEASEINTERFACE 0"), kFirst + std::string("CONNECT 0")}},
      {"usblp when the USB device cannot be opened",
       {{.serial = "S1", .level = 11, .usblp = true, .devfsUnopenable = true}},
       "usb://Acme/Laser%201?serial=S1",
       11,
       {"usb/lp0 LPIOC_GET_DEVICE_ID 4096"}},
      // A printer whose serial is unknown never stands in for the one named
      // (libusb asks the device added last first).
      {"the printer asked first: serial request stalls",
       {second, stalls},
       "usb://Acme/Laser%201?serial=S2",
       22,
       {kSecond + stalled, kFirst + askedForId}},
      {"the printer asked second: serial request stalls",
       {stalls, second},
       "usb://Acme/Laser%201?serial=S2",
       22},
      {"the printer asked first: no serial",
       {second, noSerial},
       "usb://Acme/Laser%201?serial=S2",
       22,
       {kSecond + askedForId, kFirst + askedForId}},
      {"only a printer whose serial is unknown", {stalls}, "usb://Acme/Laser%201?serial=S3", 11},
      {"no serial named, none carried", {noSerial}, "usb://Acme/Laser%201", 11},
      {"no printer matches", twoAlike, "usb://Acme/Laser%201?serial=S3", -1},
  };
  for (const auto& c : cases) {
    const Outcome r = runOn(c.printers, {"queue", c.uri});
    SCOPED_TRACE(c.name);
    EXPECT_EQ(levelPrinted(r.result), c.level) << r.result.err;
    EXPECT_EQ(r.result.exitCode, c.level < 0 ? kNotFound : 0);
    EXPECT_TRUE(inOrder(r.log, c.seen)) << testing::PrintToString(r.log);
    if (!c.unseen.empty()) {
      for (const std::string& line : r.log) EXPECT_EQ(line.find(c.unseen), std::string::npos);
    }
    std::printf("[ case ] %s: exit %d, %lld ms\n", c.name, r.result.exitCode,
                static_cast<long long>(r.result.elapsed.count()));
  }
}

// Each failure: within kBound, a non-zero exit, nothing on standard output
// and one line on standard error.
TEST(UsbTonerLevel, FailsWithOneLineOnFaultyPrintersAndWrongArguments) {
  const std::string uri = "usb://Acme/Laser%201?serial=S1";
  const std::string unreadable = "1 printer interfaces did not give their device ID";
  const std::string usage = "usage: usbtonerlevel QUEUE";
  const struct {
    const char* name;
    std::string fault;
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {"GET_DEVICE_ID stalls", kFaultStall, {"q", uri}, kNotFound, unreadable},
      {"length prefix beyond the data", kFaultPrefixBeyondData, {"q", uri}, kNotFound, unreadable},
      {"length prefix 1", kFaultPrefixOne, {"q", uri}, kNotFound, unreadable},
      {"length prefix 0", kFaultPrefixZero, {"q", uri}, kNotFound, unreadable},
      {"transfer never completes", kFaultNeverCompletes, {"q", uri}, kNotFound, unreadable},
      {"unplugged during the transfer", kFaultGone, {"q", uri}, kNotFound, unreadable},
      {"no printer of that make",
       "",
       {"q", "usb://Other/Model?serial=0"},
       kNotFound,
       "no USB printer matches the device URI\n"},
      {"no arguments", "", {}, kUsageError, usage},
      {"not a usb URI", "", {"q", "ipp://printer.local/ipp/print"}, kUsageError, usage},
      {"a line end in the URI",
       "",
       {"q", "usb://Acme/Laser?serial=1\nsecond line"},
       kUsageError,
       usage},
  };
  for (const auto& c : cases) {
    const Outcome r = runOn({{.serial = "S1", .fault = c.fault}}, c.args);
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(r.result.timedOut);
    EXPECT_EQ(r.result.exitCode, c.exitCode);
    EXPECT_EQ(r.result.out, "");
    EXPECT_EQ(std::count(r.result.err.begin(), r.result.err.end(), '\n'), 1) << r.result.err;
    EXPECT_TRUE(r.result.err.ends_with("\n"));
    EXPECT_NE(r.result.err.find(c.message), std::string::npos) << r.result.err;
    std::printf("[ case ] %s: exit %d, %lld ms\n", c.name, r.result.exitCode,
                static_cast<long long>(r.result.elapsed.count()));
  }
}

}  // namespace
}  // namespace usbink::test
