// The usbink-levels filter in a private scheduler: after a job has passed
// through it, the queue's marker attributes hold the level.
#include <gtest/gtest.h>

#include <string>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

std::string printerOptions(const Cupsd& cups, const std::string& queue) {
  return run({"lpoptions", "-p", queue}, withEnv(cups.clientEnv())).out;
}

// The scheduler runs filters as its unprivileged user, who may not reach
// the build tree (a checkout in a private directory), so the filter and
// the usbink it runs are copied into the scheduler's own ServerBin, and
// the printer is a network one that needs no further program.
TEST(LevelsFilter, PublishesTheLevelWhenAJobPasses) {
  const SnmpdAgent printer(AgentConfig{.address4 = "127.0.0.2", .toner = 57});
  Cupsd cups;
  cups.installProgram("backend/socket", "#!/bin/sh\ncat >/dev/null\n");  // takes the job
  const std::string usbink = cups.dir() + "/bin/filter/usbink";
  cups.installProgram("filter/usbink", readFile(USBINK_PROGRAM));
  std::string filter = readFile(USBINK_LEVELS_FILTER_TEMPLATE);
  filter.replace(filter.find("@USBINK_PROGRAM@"), std::string("@USBINK_PROGRAM@").size(), usbink);
  cups.installProgram("filter/usbink-levels", filter);
  cups.addQueue("office", "socket://127.0.0.2", USBINK_LEVELS_PPD);
  EXPECT_EQ(printerOptions(cups, "office").find("marker-levels"), std::string::npos);

  TempDir dir;
  writeFile(dir.file("job.txt"), "Hello, printer.\n");
  const auto lp = run({"lp", "-d", "office", dir.file("job.txt")}, withEnv(cups.clientEnv()));
  ASSERT_EQ(lp.exitCode, 0) << lp.err;
  std::string options;
  ASSERT_TRUE(waitFor([&] {
    options = printerOptions(cups, "office");
    return options.find("marker-levels") != std::string::npos;
  })) << readFile(cups.dir() + "/log/error_log");
  EXPECT_NE(options.find("marker-levels=57"), std::string::npos) << options;
  EXPECT_NE(options.find("marker-types=toner"), std::string::npos);
  EXPECT_NE(options.find("marker-colors=#000000"), std::string::npos);
  EXPECT_NE(options.find("marker-names='Black Print Cartridge'"), std::string::npos) << options;
  EXPECT_TRUE(waitFor([&] {
    return run({"lpstat", "-o", "office"}, withEnv(cups.clientEnv())).out.empty();
  }));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
