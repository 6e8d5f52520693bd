// The USB status program runner against programs that end, hang or never stop printing.
#include "tool/platform/status_program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "support/process.h"
#include "tool/platform/system.h"

namespace usbink::test {
namespace {

TEST(StatusProgram, StopsAProgramStillRunningAtTheLimitAndKeepsWhatItPrinted) {
  TempDir dir;
  std::string endless(platform::kStatusOutputMax, '\n');
  for (std::size_t i = 0; i < endless.size(); i += 2) endless[i] = 'y';
  const std::pair<std::string, std::string> cases[] = {
      // body (after it writes its PID to $1)
      {"printf 'MFG:Acme;STS:AAAA;'\nexec sleep 1000\n", "MFG:Acme;STS:AAAA;"},
      {"printf 'MFG:Acme;'\nexec >&-\nexec sleep 1000\n", "MFG:Acme;"},
      {"readlink /proc/$$/fd/2\n", "/dev/null\n"},  // descriptor 2 is open, on /dev/null
      {"exec yes\n", endless},
  };
  for (const auto& [body, want] : cases) {
    writeFile(dir.file("program"), "#!/bin/sh\necho $$ >\"$1\"\n" + body, 0755);
    // As usbink started with `2>&-` runs it: descriptor 2 closed, then discarded.
    const int saved = dup(STDERR_FILENO);
    close(STDERR_FILENO);
    platform::discardStandardError();
    const auto output = platform::runStatusProgram(
        dir.file("program"), dir.file("pid"), "usb://Acme/Laser", std::chrono::milliseconds(300));
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(output.value_or("(none)"), want) << body;
    const std::string pid = readFile(dir.file("pid"));
    EXPECT_TRUE(kill(std::stoi(pid), 0) != 0 && errno == ESRCH);  // neither running nor a zombie
  }
}

}  // namespace
}  // namespace usbink::test
