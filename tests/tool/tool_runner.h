// Runs the usbink program as the print system would, against a private
// scheduler, and holds what the caller sees: standard output and exit status.
#pragma once

#include <map>
#include <string>

#include "support/cupsd.h"
#include "support/process.h"

namespace usbink::test {

// The report usbink writes for `level` with `description`, byte for byte.
std::string expectedReport(int level, const std::string& description = "Black Print Cartridge");

// Runs `tool QUEUE` with CUPS_SERVER naming `cups` and the extra `env`.
ProcessResult runTool(const std::string& tool, const Cupsd& cups, const std::string& queue,
                      std::map<std::string, std::string> env = {});

}  // namespace usbink::test
