// The usbink-levels filter in a private scheduler: after a job has passed
// through it, the queue's marker attributes hold the level.
#include <gtest/gtest.h>

#include <string>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/process.h"

namespace usbink::test {
namespace {

std::string printerOptions(const Cupsd& cups, const std::string& queue) {
  return run({"lpoptions", "-p", queue}, withEnv(cups.clientEnv())).out;
}

TEST(LevelsFilter, PublishesTheLevelWhenAJobPasses) {
  Cupsd cups;
  cups.installProgram("backend/usb", "#!/bin/sh\ncat >/dev/null\n");  // takes the job
  cups.installProgram("filter/usbink-levels", readFile(USBINK_LEVELS_FILTER));
  cups.addQueue("office", "usb://Acme/Laser%20Sim%201000?serial=SIM0001", USBINK_LEVELS_PPD);
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
  // The simulated printer reports 57 percent.
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
