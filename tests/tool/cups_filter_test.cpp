// The usbink-levels filter in a private cupsd: data first, then the level in the queue's markers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

// The scheduler's user may not reach the build tree: the programs go to its ServerBin, output to
// a directory open to all. A stand-in query ($dir set) hangs with a child, writing both PIDs.
TEST(LevelsFilter, PassesTheDataAndPublishesTheLevel) {
  constexpr char kHanging[] = "sleep 600 & echo $$ $! >\"$dir/pids\"; wait\n";
  const struct {
    const char* query;  // nullptr: the real usbink
    int boundSeconds;   // the filter's bound on the query
    bool cancel;        // cancel the job once its data has reached the printer
    int level;          // the marker level the queue ends with, or -1 for none
  } cases[] = {{nullptr, 40, false, 57},
               // Answers once the data has reached the printer (and the test made "release").
               {"until [ -e \"$dir/release\" ]; do sleep 0.1; done\n"
                "printf '%s' '<key>prtMarkerSuppliesLevel</key><integer>33</integer>'\n",
                40, false, 33},
               {kHanging, 1, false, -1},
               {kHanging, 40, true, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.boundSeconds << " " << c.cancel << " " << c.level);
    const SnmpdAgent printer(AgentConfig{.address4 = "127.0.0.2", .toner = 57});
    Cupsd cups;
    const auto client = [&](std::vector<std::string> argv) {
      return run(argv, withEnv(cups.clientEnv()));
    };
    TempDir work;
    chmod(work.path().c_str(), 0777);
    const std::string sink = work.file("printed");
    cups.installProgram("backend/socket",
                        "#!/bin/sh\ncat >" + sink + "\necho EOF >>" + sink + "\n");
    cups.installProgram("filter/usbink", c.query == nullptr
                                             ? readFile(USBINK_PROGRAM)
                                             : "#!/bin/sh\ndir=" + work.path() + "\n" + c.query);
    std::string filter = readFile(USBINK_LEVELS_FILTER_TEMPLATE);
    filter.replace(filter.find("@USBINK_PROGRAM@"), 16, cups.dir() + "/bin/filter/usbink");
    filter.replace(filter.find("@USBINK_LEVELS_QUERY_SECONDS@"), 29,
                   std::to_string(c.boundSeconds));
    cups.installProgram("filter/usbink-levels", filter);
    cups.addQueue("office", "socket://127.0.0.2", USBINK_LEVELS_PPD);
    EXPECT_EQ(client({"lpoptions", "-p", "office"}).out.find("marker-levels"), std::string::npos);

    const std::string job = "Hello, printer.\n";
    writeFile(work.file("job.txt"), job);
    const auto lp = client({"lp", "-d", "office", work.file("job.txt")});
    ASSERT_EQ(lp.exitCode, 0) << lp.err;
    ASSERT_TRUE(waitFor([&] { return readFile(sink) == job + "EOF\n"; }))
        << readFile(cups.dir() + "/log/error_log");
    if (c.cancel) {
      ASSERT_TRUE(waitFor([&] { return !readFile(work.file("pids")).empty(); }));
      EXPECT_EQ(client({"cancel", "-a", "office"}).exitCode, 0);
    }
    writeFile(work.file("release"), "");
    EXPECT_TRUE(waitFor([&] { return client({"lpstat", "-o", "office"}).out.empty(); }));

    const std::string options = client({"lpoptions", "-p", "office"}).out;
    const std::string markers = "marker-colors=#000000 marker-levels=" + std::to_string(c.level) +
                                " marker-names='Black Print Cartridge' marker-types=toner";
    EXPECT_EQ(options.find(c.level < 0 ? "marker-levels" : markers) == std::string::npos,
              c.level < 0)
        << options;
    // A process that has ended, reaped or not, has an empty command line.
    std::istringstream pids(readFile(work.file("pids")));
    EXPECT_EQ(pids.str().empty(), c.query != kHanging);
    for (std::string pid; pids >> pid;)
      EXPECT_TRUE(waitFor([&] { return readFile("/proc/" + pid + "/cmdline").empty(); })) << pid;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
