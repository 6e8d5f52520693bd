// The usbtonerlevel program run as the tool runs it, on a machine without a
// USB printer: every failure is a non-zero exit with one line on standard
// error and nothing on standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

constexpr int kNotFound = 1;
constexpr int kUsageError = 2;

TEST(UsbTonerLevelProgram, FailsWithOneLineWhenNoPrinterMatchesOrOnWrongArguments) {
  const std::string usage = "usage: usbtonerlevel QUEUE";
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {{"Tavren_LP100", "usb://NoSuchMaker/No%20Such%20Model?serial=0"},
       kNotFound,
       "no USB printer matches"},
      {{}, kUsageError, usage},
      {{"queue", "ipp://printer.local/ipp/print"}, kUsageError, usage},
      {{"queue", "usb://Tavren/LP?serial=1\nsecond line"}, kUsageError, usage},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{USBTONERLEVEL_PROGRAM};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = usbink::test::run(argv);
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.back());
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("\n"));
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
