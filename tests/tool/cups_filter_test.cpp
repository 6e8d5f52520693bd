// The usbink-levels filter in a private scheduler: the job's data reaches
// the printer while the query still runs, the queue's marker attributes
// then hold the level, and a query that hangs is killed, at the filter's
// bound or when the job is cancelled.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
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

void substitute(std::string& text, const std::string& placeholder, const std::string& value) {
  text.replace(text.find(placeholder), placeholder.size(), value);
}

// A stand-in for usbink that hangs, with a child as usbink's status program
// would be, and writes both PIDs to `$dir/pids`.
constexpr char kHangingQuery[] = "sleep 600 & echo $$ $! >\"$dir/pids\"; wait\n";

struct FilterCase {
  const char* name;
  const char* query;  // the stand-in's shell script, with $dir; nullptr: the real usbink
  int boundSeconds;   // the filter's bound on the query
  bool cancel;        // cancel the job once its data has reached the printer
  int level;          // the marker level the queue ends with, or -1 for none
};

// Row 2's stand-in answers only once the test has seen the job's data, and
// its end, at the printer: a filter that waited for the query first would
// never print.
constexpr FilterCase kCases[] = {
    {"RealUsbinkOnANetworkPrinter", nullptr, 40, false, 57},
    {"DataReachesThePrinterBeforeTheQueryEnds",
     "read go <\"$dir/release\"\n"
     "printf '%s' '<key>prtMarkerSuppliesLevel</key><integer>33</integer>'\n",
     40, false, 33},
    {"HangingQueryIsKilledAtTheBound", kHangingQuery, 1, false, -1},
    {"CancelledJobLeavesNoQueryBehind", kHangingQuery, 40, true, -1},
};

void PrintTo(const FilterCase& c, std::ostream* out) {
  *out << c.name;
}

class LevelsFilter : public testing::TestWithParam<FilterCase> {};

// The scheduler runs filters and backends as its unprivileged user, who may
// not reach the build tree (a checkout in a private directory), so the
// filter and the usbink it runs are copied into the scheduler's own
// ServerBin, the printer is a network one that needs no further program,
// and the backend and the stand-ins write into a directory open to all.
TEST_P(LevelsFilter, PassesTheDataAndPublishesTheLevel) {
  const FilterCase& c = GetParam();
  const SnmpdAgent printer(AgentConfig{.address4 = "127.0.0.2", .toner = 57});
  Cupsd cups;
  TempDir work;
  chmod(work.path().c_str(), 0777);
  const std::string sink = work.file("printed"), release = work.file("release");
  ASSERT_EQ(mkfifo(release.c_str(), 0600), 0);
  chmod(release.c_str(), 0666);
  // The backend marks the end of the data it was given.
  cups.installProgram("backend/socket", "#!/bin/sh\ncat >" + sink + "\necho EOF >>" + sink + "\n");
  const std::string usbink = cups.dir() + "/bin/filter/usbink";
  cups.installProgram("filter/usbink", c.query == nullptr
                                           ? readFile(USBINK_PROGRAM)
                                           : "#!/bin/sh\ndir=" + work.path() + "\n" + c.query);
  std::string filter = readFile(USBINK_LEVELS_FILTER_TEMPLATE);
  substitute(filter, "@USBINK_PROGRAM@", usbink);
  substitute(filter, "@USBINK_LEVELS_QUERY_SECONDS@", std::to_string(c.boundSeconds));
  cups.installProgram("filter/usbink-levels", filter);
  cups.addQueue("office", "socket://127.0.0.2", USBINK_LEVELS_PPD);
  EXPECT_EQ(printerOptions(cups, "office").find("marker-levels"), std::string::npos);

  const std::string job = "Hello, printer.\n";
  writeFile(work.file("job.txt"), job);
  const auto lp = run({"lp", "-d", "office", work.file("job.txt")}, withEnv(cups.clientEnv()));
  ASSERT_EQ(lp.exitCode, 0) << lp.err;
  ASSERT_TRUE(waitFor([&] { return readFile(sink) == job + "EOF\n"; }))
      << readFile(cups.dir() + "/log/error_log");
  if (c.cancel) {
    ASSERT_TRUE(waitFor([&] { return !readFile(work.file("pids")).empty(); }));
    EXPECT_EQ(run({"cancel", "-a", "office"}, withEnv(cups.clientEnv())).exitCode, 0);
  }
  if (c.query != nullptr && std::strstr(c.query, "release") != nullptr) {
    EXPECT_TRUE(waitFor([&] {  // once the stand-in listens
      const int fd = open(release.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) return false;
      const bool written = write(fd, "\n", 1) == 1;
      close(fd);
      return written;
    }));
  }
  EXPECT_TRUE(waitFor([&] {
    return run({"lpstat", "-o", "office"}, withEnv(cups.clientEnv())).out.empty();
  }));

  const std::string options = printerOptions(cups, "office");
  const std::string markers = "marker-colors=#000000 marker-levels=" + std::to_string(c.level) +
                              " marker-names='Black Print Cartridge' marker-types=toner";
  EXPECT_EQ(options.find(c.level < 0 ? "marker-levels" : markers) == std::string::npos, c.level < 0)
      << options;
  // A process that has ended, reaped or not, has an empty command line.
  std::istringstream pids(readFile(work.file("pids")));
  EXPECT_EQ(pids.str().empty(), c.query != kHangingQuery);
  for (std::string pid; pids >> pid;) {
    EXPECT_TRUE(waitFor([&] { return readFile("/proc/" + pid + "/cmdline").empty(); }))
        << "query process " << pid << " left behind";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LevelsFilter, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
