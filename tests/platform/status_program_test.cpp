// The USB status program runner against programs that end, hang or never
// stop printing, run as usbink started with standard error closed runs them.
// The programs would run for far longer than the test's time limit in CTest,
// so a runner that waited for them would fail the test.
#include "tool/platform/status_program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "support/netns.h"
#include "support/process.h"
#include "tool/platform/system.h"

namespace usbink::test {
namespace {

constexpr std::chrono::milliseconds kShortLimit{300};

// True when no process `pid` is left, neither running nor a zombie.
bool gone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// Runs the program as usbink started with `2>&-` does: descriptor 2 closed,
// then discarded. The test's own standard error is put back afterwards.
std::optional<std::string> runAsToolWithoutStandardError(const std::string& program,
                                                         const std::string& queue) {
  const int saved = dup(STDERR_FILENO);
  close(STDERR_FILENO);
  platform::discardStandardError();
  auto output = platform::runStatusProgram(program, queue, "usb://Acme/Laser", kShortLimit);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return output;
}

TEST(StatusProgram, StopsAProgramStillRunningAtTheLimitAndKeepsWhatItPrinted) {
  TempDir dir;
  const struct {
    const char* what;
    std::string body;  // writes its PID to $1 first
    std::string output;
  } cases[] = {
      {"ends at once", "printf 'MFG:Acme;STS:AAAA;'\n", "MFG:Acme;STS:AAAA;"},
      {"prints, then hangs", "printf 'MFG:Acme;STS:AAAA;'\nexec sleep 1000\n",
       "MFG:Acme;STS:AAAA;"},
      {"closes its output, then hangs", "printf 'MFG:Acme;'\nexec >&-\nexec sleep 1000\n",
       "MFG:Acme;"},
      {"inherits an open /dev/null as standard error", "readlink /proc/$$/fd/2\n", "/dev/null\n"},
      {"prints without end", "exec yes\n",
       [] {
         std::string lines;
         while (lines.size() < platform::kStatusOutputMax) lines += "y\n";
         return lines.substr(0, platform::kStatusOutputMax);
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string program = dir.file("program");
    writeFile(program, "#!/bin/sh\necho $$ >\"$1\"\n" + c.body, 0755);
    const auto output = runAsToolWithoutStandardError(program, dir.file("pid"));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(*output, c.output);
    const std::string pid = readFile(dir.file("pid"));
    ASSERT_FALSE(pid.empty());
    EXPECT_TRUE(gone(std::stoi(pid)));
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
