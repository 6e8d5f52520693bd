// usbtonerlevel through the real libusb on printers emulated with umockdev;
// the emulation's ioctl log shows what the program did to each device.
#include "support/usb_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/process.h"

namespace usbink::test {
namespace {

constexpr int kNotFound = 1, kUsageError = 2;
constexpr const char* kFirst = "bus/usb/001/002 ";
constexpr const char* kSecond = "bus/usb/001/003 ";
constexpr const char* kUri = "usb://Acme/Laser%201?serial=S2";

struct Outcome {
  ProcessResult result;
  std::string log;
};

// Bounded: one GET_DEVICE_ID that never completes costs the program's 5 s limit.
Outcome runOn(const std::vector<EmulatedPrinter>& printers, const std::vector<std::string>& args) {
  TempDir dir("usbink-usb");
  std::vector<std::string> command{USBTONERLEVEL_PROGRAM};
  command.insert(command.end(), args.begin(), args.end());
  ProcessOptions options;
  options.timeout = std::chrono::seconds(10);
  const auto result = run(emulatorCommand(printers, dir.file("log"), command), options);
  return {result, readFile(dir.file("log"))};
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

TEST(UsbTonerLevel, ReadsThePrinterTheUriNames) {
  const EmulatedPrinter s1{.serial = "S1", .level = 11}, s2{.serial = "S2", .level = 22};
  const EmulatedPrinter stalls{.serial = "S1", .level = 11, .fault = kFaultSerialStall};
  const std::string askedForId = "SUBMITURB GET_DEVICE_ID config=0 interface=0 alt=0";
  const struct {
    const char* name;
    std::vector<EmulatedPrinter> printers;
    std::string uri;
    int level;
    std::vector<std::string> seen{};  // log lines, in this order
    std::string unseen{};             // in no log line
  } cases[] = {
      {"same make and model, the second serial", {s1, s2}, kUri, 22},
      {"interface 1 named",
       {{.serial = "S1", .interfaceNumber = 1, .level = 33}},
       "usb://Acme/Laser%201?serial=S1&interface=1",
       33,
       {kFirst + std::string("SUBMITURB GET_DEVICE_ID config=0 interface=1 alt=0")}},
      {"serial from the device ID's long keys",
       {{.deviceId = "MANUFACTURER:Acme;MODEL:Laser 1;SERIALNUMBER:S2;", .level = 44}, s1},
       kUri,
       44},
      {"a device of another class is never opened",
       {{.printerClass = false}, s2},
       kUri,
       22,
       {},
       kFirst},
      {"usblp holds it: asked without detaching",
       {{.serial = "S2", .level = 22, .usblp = true}},
       kUri,
       22,
       {kFirst + askedForId},
       "DISCONNECT"},
      {"answers only when claimed: detached, read, attached again",
       {{.serial = "S2", .level = 22, .fault = kFaultNeedsClaim, .usblp = true}},
       kUri,
       22,
       {kFirst + askedForId + " -> EPIPE", kFirst + std::string("DISCONNECT 0"),
        kFirst + std::string("CLAIMINTERFACE 0"), kFirst + askedForId,
        kFirst + std::string("RELEASEINTERFACE 0"), kFirst + std::string("CONNECT 0")}},
      {"usblp when the USB device cannot be opened",
       {{.serial = "S2", .level = 22, .usblp = true, .devfsUnopenable = true}},
       kUri,
       22,
       {"usb/lp0 LPIOC_GET_DEVICE_ID 4096"}},
      // libusb asks the device added last first: a printer whose serial is
      // unknown answers first but never stands in for the one named.
      {"serial request stalls on the printer asked first",
       {s2, stalls},
       kUri,
       22,
       {kSecond + std::string("SUBMITURB GET_DESCRIPTOR string 0 -> EPIPE"), kFirst + askedForId}},
      {"no serial on the printer asked first",
       {s2, {.level = 11}},
       kUri,
       22,
       {kSecond + askedForId, kFirst + askedForId}},
      {"only a printer whose serial is unknown", {stalls}, kUri, 11},
  };
  for (const auto& c : cases) {
    const Outcome r = runOn(c.printers, {"queue", c.uri});
    SCOPED_TRACE(c.name);
    EXPECT_EQ(levelPrinted(r.result), c.level) << r.result.err;
    auto at = r.log.begin();
    for (const std::string& line : c.seen) {
      at = std::search(at, r.log.end(), line.begin(), line.end());
      EXPECT_NE(at, r.log.end()) << line << " in order in\n" << r.log;
    }
    EXPECT_TRUE(c.unseen.empty() || r.log.find(c.unseen) == std::string::npos) << r.log;
  }
}

// Each failure: in time, a non-zero exit, nothing on standard output, one line on standard error.
TEST(UsbTonerLevel, FailsWithOneLineOnFaultyPrintersAndWrongArguments) {
  const std::string unreadable = "1 printer interfaces did not give their device ID";
  const std::string usage = "usage: usbtonerlevel QUEUE";
  const struct {
    std::string fault;
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {kFaultStall, {"q", kUri}, kNotFound, unreadable},
      {kFaultPrefixBeyondData, {"q", kUri}, kNotFound, unreadable},
      {kFaultPrefixOne, {"q", kUri}, kNotFound, unreadable},
      {kFaultPrefixZero, {"q", kUri}, kNotFound, unreadable},
      {kFaultNeverCompletes, {"q", kUri}, kNotFound, unreadable},
      {kFaultGone, {"q", kUri}, kNotFound, unreadable},
      {"",
       {"q", "usb://Other/Model?serial=0"},
       kNotFound,
       "no USB printer matches the device URI\n"},
      {"", {}, kUsageError, usage},
      {"", {"q", "ipp://printer.local/ipp/print"}, kUsageError, usage},
      {"", {"q", "usb://Acme/Laser?serial=1\nsecond line"}, kUsageError, usage},
  };
  for (const auto& c : cases) {
    const ProcessResult r = runOn({{.serial = "S2", .fault = c.fault}}, c.args).result;
    SCOPED_TRACE(c.fault + " " + testing::PrintToString(c.args));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("\n") && r.err.find(c.message) != std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace usbink::test
