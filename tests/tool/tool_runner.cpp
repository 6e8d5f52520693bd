#include "tool/tool_runner.h"

#include <chrono>

namespace usbink::test {

std::string expectedReport(int level, const std::string& description) {
  std::string report =
      readFile(std::string(USBINK_SOURCE_DIR) + "/tests/tool/expected/report.plist");
  while (!report.empty() && report.back() == '\n') report.pop_back();
  report.replace(report.find("@DESCRIPTION@"), 13, description);
  report.replace(report.find("@LEVEL@"), 7, std::to_string(level));
  return report;
}

ProcessResult runTool(const std::string& tool, const Cupsd& cups, const std::string& queue,
                      std::map<std::string, std::string> env) {
  for (const auto& [k, v] : cups.clientEnv()) env[k] = v;
  ProcessOptions options = withEnv(env);
  options.timeout = std::chrono::seconds(60);
  return run({tool, queue}, options);
}

}  // namespace usbink::test
