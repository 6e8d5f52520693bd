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

void expectOneLineFailure(const usbink::test::ProcessResult& r, int exitCode,
                          const std::string& about) {
  EXPECT_EQ(r.exitCode, exitCode) << about;
  EXPECT_EQ(r.out, "") << about;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << about << ": " << r.err;
  EXPECT_TRUE(r.err.ends_with("\n")) << about;
}

TEST(UsbTonerLevelProgram, ReportsThatNoPrinterMatches) {
  const auto r = usbink::test::run(
      {USBTONERLEVEL_PROGRAM, "Tavren_LP100", "usb://NoSuchMaker/No%20Such%20Model?serial=0"});
  expectOneLineFailure(r, kNotFound, "no printer");
  EXPECT_NE(r.err.find("no USB printer matches"), std::string::npos) << r.err;
}

TEST(UsbTonerLevelProgram, MissingArgumentsOrABadUriAreUsageErrors) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {},
      {"queue"},
      {"queue", "usb://Tavren/LP", "extra"},
      {"queue", "ipp://printer.local/ipp/print"},
      {"queue", "usb://Tavren/LP?serial=%zz"},
      {"queue", "usb://Tavren/LP?serial=1\nsecond line"},
  };
  for (const auto& arguments : argumentLists) {
    std::vector<std::string> argv{USBTONERLEVEL_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto r = usbink::test::run(argv);
    const std::string about = arguments.empty() ? "no arguments" : arguments.back();
    expectOneLineFailure(r, kUsageError, about);
    EXPECT_NE(r.err.find("usage: usbtonerlevel QUEUE"), std::string::npos) << r.err;
  }
}

}  // namespace
