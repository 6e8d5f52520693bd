// usbtonerlevel on emulated printers (their ioctl log shows what it did); the tool in a cupsd, and
// under valgrind's memcheck on each of its ways (run as a CTest entry of its own).
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "support/usb_printer.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

TEST(UsbTonerLevel, PrintsTheIdOfThePrinterTheUriNamesOrFailsInOneLine) {
  const EmulatedPrinter s2{.serial = "S2", .level = 22};
  const EmulatedPrinter stalls{.serial = "S1", .level = 11, .fault = "serial-stall"};
  const std::string first = "bus/usb/001/002 ", second = "bus/usb/001/003 ";
  const std::string asked = "SUBMITURB GET_DEVICE_ID config=0 interface=0 alt=0";
  const std::vector<std::string> named{"q", "usb://Acme/Laser?serial=S2"};
  EmulatedPrinter held{.serial = "S2", .level = 22, .usblp = true}, claim = held, lp = held;
  claim.fault = "needs-claim", lp.devfsUnopenable = true;
  const struct {
    std::vector<EmulatedPrinter> printers;
    int level = -1;  // -1: fails with `error` as its one line on standard error
    std::vector<std::string> args{"q", "usb://Acme/Laser?serial=S2"};
    std::string error = "(1 printer interfaces did not give their device ID)\n";
    std::vector<std::string> seen{};  // in the log; with a leading '!', in no log line
  } cases[] = {
      {{{.serial = "S2", .interfaceNumber = 1, .level = 33}}, 33, {"q", named[1] + "&interface=1"}},
      {{{.printerClass = false}, s2}, 22, named, "", {"!" + first}},  // another class: never opened
      {{held}, 22, named, "", {first + asked, "!DISCONNECT"}},        // usblp's, answers unclaimed
      {{claim}, 22, named, "", {first + "RELEASEINTERFACE 0", first + "CONNECT 0"}},
      {{lp}, 22, named, "", {"usb/lp0 LPIOC_GET_DEVICE_ID 4096"}},
      // libusb asks the last device first: one of unknown serial never stands in for the named.
      {{s2, stalls}, 22, named, "", {second + "SUBMITURB GET_DESCRIPTOR string 0 -> EPIPE"}},
      {{stalls}, 11},
      {{{.serial = "S2", .fault = "prefix-beyond-data"}}},
      {{{.serial = "S2", .fault = "never-completes"}}},
      {{s2}, -1, {"q", "usb://Other/Model?serial=0"}, "no USB printer matches the device URI"},
      {{s2}, -1, {}, "usage: usbtonerlevel QUEUE"},
      {{s2}, -1, {"q", "usb://Acme/Laser?serial=1\nsecond line"}, "usage: usbtonerlevel QUEUE"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.printers.back().fault);
    TempDir dir("usbink-usb");
    std::vector<std::string> command = c.args;
    command.insert(command.begin(), USBTONERLEVEL_PROGRAM);
    const auto r = run(emulatorCommand(c.printers, dir.file("log"), command));
    const std::string log = readFile(dir.file("log"));
    EXPECT_EQ(r.exitCode, c.level >= 0 ? 0 : c.error.starts_with("usage") ? 2 : 1);
    EXPECT_EQ(r.out, c.level < 0 ? "" : deviceIdWithToner(c.level) + "\n");
    const bool oneLine = r.err.find('\n') + 1 == r.err.size() && r.err.find(c.error) != r.err.npos;
    EXPECT_TRUE(c.level >= 0 ? r.err.empty() : oneLine) << r.err;
    for (const std::string& l : c.seen)
      EXPECT_EQ(log.find(l.substr(l[0] == '!')) == log.npos, l[0] == '!') << l << log;
  }
}

struct UsbQueues {
  UsbQueues() {
    cups.addQueue("q_long", "usb://Acme/" + std::string(230, 'L') + "?serial=1");
    cups.addQueue("q_usb", "usb://Acme/Laser?serial=X1");
    cups.addQueue("q_usb_caps", "USB://Acme/Laser?serial=X1");
  }
  Cupsd cups;
};

class UsbQueue : public PrintersSuite<UsbQueues> {
 protected:
  // The tool with a stand-in program that records its arguments and prints `output`.
  ProcessResult standIn(const std::string& queue, const std::string& output) {
    writeFile(USBINK_STAND_IN, "#!/bin/sh\nprintf '%s\\0' \"$@\" >$D/args\ncat $D/output\n", 0755);
    writeFile(m_dir.file("output"), output);
    return runTool(USBINK_TOOL_STANDIN, s_printers->cups, queue, {{"D", m_dir.path()}});
  }
  TempDir m_dir{"usbink-tool"};
};

// The report keeps the low seven bits of the first status byte; printer X1 is on the bus.
TEST_F(UsbQueue, ReportsWhatThePrinterGivesOrNothing) {
  const std::map<std::string, std::string> german{{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}};
  const struct {
    std::vector<std::string> argv;
    int exitCode = 255;
    std::string output{};  // standard output and error
    int level = 57;
    std::map<std::string, std::string> env{};
  } cases[] = {
      {{USBINK_TOOL_SIM, "q_usb_caps"}, 0, expectedReport(100), 0xE4},
      {{USBINK_TOOL_SIM, "q_usb"}, 0, expectedReport(9, "Schwarze Tonerkartusche"), 9, german},
      {{USBINK_TOOL_SIM}},
      {{USBINK_TOOL_NOPROG, "q_usb"}},
      {{USBINK_TOOL_SIM, "q_usb"}, 255, "", 57, {{"CUPS_SERVER", m_dir.file("none")}}}};
  for (const auto& c : cases) {
    auto env = c.env;  // over the scheduler's
    env.merge(s_printers->cups.clientEnv());
    const auto r = run(emulatorCommand({{.serial = "X1", .level = c.level}}, "", c.argv), {env});
    EXPECT_EQ(std::pair(r.exitCode, r.out + r.err), std::pair(c.exitCode, c.output))
        << testing::PrintToString(c.argv);
  }
  kill(s_printers->cups.pid(), SIGSTOP);  // a hung scheduler
  const auto r = tool("q_usb");
  kill(s_printers->cups.pid(), SIGCONT);
  EXPECT_EQ(std::pair(r.exitCode, r.out + r.err), std::pair(255, std::string()));
}

// Queue and URI reach the status program as they are, never through a shell.
TEST_F(UsbQueue, GivesTheProgramQueueAndUriAsTheyAre) {
  const std::string sts = "STS:" + statusBlockWithToner(5);
  EXPECT_EQ(standIn("q_long", sts).exitCode, 255);
  EXPECT_EQ(readFile(m_dir.file("args")), "");
  const std::string marker = m_dir.file("pwned"), t = "touch${IFS}" + marker;
  const std::string uri = "usb://Acme/$(" + t + ")`" + t + "`?serial=\"$(" + t + ")\"";
  for (const std::string queue : {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"}) {
    s_printers->cups.addQueue(queue, uri);
    EXPECT_EQ(standIn(queue, sts).exitCode, 0) << queue;
    EXPECT_EQ(readFile(m_dir.file("args")), queue + '\0' + uri + '\0');
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// The usbink-levels filter passes the data, then publishes the level; hanging queries are ended.
TEST(LevelsFilter, PassesTheDataAndPublishesTheLevel) {
  constexpr char kHanging[] = "sleep 600 & echo $$ $! >\"$dir/pids\"; wait\n";
  // The query (nullptr: the real usbink), its bound, cancelling once printed, the level (-1: none).
  const std::tuple<const char*, int, bool, int> cases[] = {
      {nullptr, 40, false, 57},
      {"until [ -e \"$dir/release\" ]; do sleep 0.1; done\n"
       "printf '%s' '<key>prtMarkerSuppliesLevel</key><integer>33</integer>'\n",
       40, false, 33},
      {kHanging, 1, false, -1},
      {kHanging, 40, true, -1}};
  for (const auto& [query, boundSeconds, cancel, level] : cases) {
    SCOPED_TRACE(testing::Message() << boundSeconds << " " << cancel << " " << level);
    const SnmpdAgent printer(AgentConfig{.address4 = "127.0.0.2", .toner = 57});
    Cupsd cups;
    const auto client = [&](auto... a) { return run({a...}, {cups.clientEnv()}); };
    TempDir work;
    chmod(work.path().c_str(), 0777);
    const std::string sink = work.file("printed");
    cups.installProgram("backend/socket", "#!/bin/sh\n{ cat; echo EOF; } >" + sink + "\n");
    cups.installProgram("filter/usbink", query == nullptr
                                             ? readFile(USBINK_PROGRAM)
                                             : "#!/bin/sh\ndir=" + work.path() + "\n" + query);
    std::string filter = readFile(USBINK_LEVELS_FILTER_TEMPLATE);
    filter.replace(filter.find("@USBINK_PROGRAM@"), 16, cups.dir() + "/bin/filter/usbink");
    filter.replace(filter.find("@USBINK_LEVELS_QUERY_SECONDS@"), 29, std::to_string(boundSeconds));
    cups.installProgram("filter/usbink-levels", filter);
    cups.addQueue("office", "socket://127.0.0.2", USBINK_LEVELS_PPD);

    writeFile(work.file("job.txt"), "Hello, printer.\n");
    ASSERT_EQ(client("lp", "-d", "office", work.file("job.txt")).exitCode, 0);
    ASSERT_TRUE(waitFor([&] { return readFile(sink) == "Hello, printer.\nEOF\n"; }));
    if (cancel) {
      ASSERT_TRUE(waitFor([&] { return !readFile(work.file("pids")).empty(); }));
      EXPECT_EQ(client("cancel", "-a", "office").exitCode, 0);
    }
    writeFile(work.file("release"), "");
    EXPECT_TRUE(waitFor([&] { return client("lpstat", "-o", "office").out.empty(); }));

    const std::string options = client("lpoptions", "-p", "office").out;
    const std::string markers = "marker-colors=#000000 marker-levels=" + std::to_string(level) +
                                " marker-names='Black Print Cartridge' marker-types=toner";
    EXPECT_EQ(options.find(level < 0 ? "marker-levels" : markers) == options.npos, level < 0)
        << options;
    std::istringstream pids(readFile(work.file("pids")));
    for (std::string pid; pids >> pid;)
      EXPECT_TRUE(waitFor([&] { return readFile("/proc/" + pid + "/cmdline").empty(); })) << pid;
  }
}

// usbink on each of its ways: its own exit status, no memory error or leak.
TEST(Memcheck, EveryWayThroughTheToolIsClean) {
  const SnmpdAgent v1({.address4 = "127.0.14.2"}), v3({.address4 = "127.0.14.3", .v1 = false});
  Cupsd cups;
  cups.addQueue("q_usb", "usb://Acme/Laser?serial=1");
  cups.addQueue("q_v1", "socket://127.0.14.2");
  cups.addQueue("q_v3", "socket://127.0.14.3");
  cups.addQueue("q_no_address", "usbx://Acme/Laser");
  for (const auto& [queue, exitCode] : std::map<std::string, int>{
           {"q_usb", 0}, {"q_v1", 0}, {"q_v3", 0}, {"no_such_queue", 255}, {"q_no_address", 1}}) {
    TempDir dir("usbink-memcheck");
    const std::string log = dir.file("log"), kinds = "-leak-kinds=definite,indirect,possible";
    const auto r =
        run(emulatorCommand({{.serial = "1"}}, "",
                            {"valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
                             "--show" + kinds, "--errors-for" + kinds, "--log-file=" + log,
                             USBINK_TOOL_SIM, queue}),
            {cups.clientEnv(), std::chrono::minutes(2)});
    EXPECT_EQ(std::pair(r.exitCode, readFile(log)), std::pair(exitCode, std::string())) << queue;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
