// Runs usbink as the print system would, against a private scheduler.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "support/cupsd.h"
#include "support/process.h"

namespace usbink::test {

// The report usbink writes for `level` with `what`, byte for byte.
inline std::string expectedReport(int level, const std::string& what = "Black Print Cartridge") {
  std::string report = readFile(USBINK_SOURCE_DIR "/tests/tool/expected/report.plist");
  while (report.ends_with('\n')) report.pop_back();
  report.replace(report.find("@DESCRIPTION@"), 13, what);
  return report.replace(report.find("@LEVEL@"), 7, std::to_string(level));
}

inline ProcessResult runTool(const std::string& tool, const Cupsd& cups, const std::string& queue,
                             std::map<std::string, std::string> env = {}) {
  for (const auto& [k, v] : cups.clientEnv()) env[k] = v;
  return run({tool, queue}, {env, std::chrono::seconds(60)});
}

// A suite whose `Printers` (agents and a scheduler `cups`) live from its first test to its last.
template <typename Printers>
class PrintersSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_printers = std::make_unique<Printers>(); }
  static void TearDownTestSuite() { s_printers.reset(); }
  static ProcessResult tool(const std::string& queue) {
    return runTool(USBINK_TOOL_SIM, s_printers->cups, queue);
  }
  static inline std::unique_ptr<Printers> s_printers;
};

}  // namespace usbink::test
