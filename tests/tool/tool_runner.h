// Runs the usbink program as the print system would, against a private
// scheduler, and holds what the caller sees: standard output and exit status.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "support/cupsd.h"
#include "support/process.h"

namespace usbink::test {

// The report usbink writes for `level` with `description`, byte for byte.
std::string expectedReport(int level, const std::string& description = "Black Print Cartridge");

// Runs `tool QUEUE` with CUPS_SERVER naming `cups` and the extra `env`.
ProcessResult runTool(const std::string& tool, const Cupsd& cups, const std::string& queue,
                      std::map<std::string, std::string> env = {});

// A suite whose printers, the agents and the scheduler `cups` of a
// `Printers` object, come up before its first test and go after its last.
template <typename Printers>
class PrintersSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_printers = std::make_unique<Printers>(); }
  static void TearDownTestSuite() { s_printers.reset(); }
  // Runs the test build of the tool (USBINK_TOOL_SIM, defined for every
  // binary of the tool tests) on a queue of that scheduler.
  static ProcessResult tool(const std::string& queue) {
    return runTool(USBINK_TOOL_SIM, s_printers->cups, queue);
  }
  static inline std::unique_ptr<Printers> s_printers;
};

}  // namespace usbink::test
