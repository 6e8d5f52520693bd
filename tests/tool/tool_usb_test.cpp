// The tool on USB queues in a private cupsd: usbtonerlevel on emulated printers, or a stand-in.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <tuple>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "support/usb_printer.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

constexpr int kFailed = 255;
constexpr const char* kSim = USBINK_TOOL_SIM;

class UsbQueue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_cups = std::make_unique<Cupsd>();
    std::istringstream queues(
        "q_usb usb://Acme/Laser?serial=X1 q_usb_caps USB://Acme/Laser?serial=X1"
        " q_other usb://Acme/Laser?serial=X2 q_usbx usbx://Acme/Laser q_long usb://Acme/" +
        std::string(230, 'L') + "?serial=1");
    for (std::string q, uri; queues >> q >> uri;) s_cups->addQueue(q, uri);
  }
  static void TearDownTestSuite() { s_cups.reset(); }

  // The tool with a stand-in program that records its arguments and prints `output`.
  ProcessResult standIn(const std::string& queue, const std::string& output) {
    std::filesystem::create_directories(std::filesystem::path(USBINK_STAND_IN).parent_path());
    writeFile(USBINK_STAND_IN,
              "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$ARGS\"\nexec cat \"$OUTPUT\"\n", 0755);
    writeFile(m_dir.file("output"), output);
    return runTool(USBINK_TOOL_STANDIN, *s_cups, queue,
                   {{"ARGS", m_dir.file("args")}, {"OUTPUT", m_dir.file("output")}});
  }

  static inline std::unique_ptr<Cupsd> s_cups;
  TempDir m_dir{"usbink-tool"};
};

// The report keeps the low seven bits of the first status byte; printer X1 is on the bus.
TEST_F(UsbQueue, ReportsWhatThePrinterGivesOrNothing) {
  const std::map<std::string, std::string> german{{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}};
  const struct {
    std::vector<std::string> argv;
    int exitCode = kFailed;
    std::string output{};  // standard output and error
    int level = 57;
    std::map<std::string, std::string> env{};
  } cases[] = {{{kSim, "q_usb"}, 0, expectedReport(100), 0xE4},
               {{kSim, "q_usb_caps"}, 0, expectedReport(57)},
               {{kSim, "q_usb"}, 0, expectedReport(9, "Schwarze Tonerkartusche"), 9, german},
               // Another printer; usbx:; no queue; no argument, program, scheduler.
               {{kSim, "q_other"}},
               {{kSim, "q_usbx"}, 1},
               {{kSim, "no_such_queue"}},
               {{kSim}},
               {{USBINK_TOOL_NOPROG, "q_usb"}},
               {{kSim, "q_usb"}, kFailed, "", 57, {{"CUPS_SERVER", m_dir.file("none")}}}};
  for (const auto& c : cases) {
    auto env = s_cups->clientEnv();
    for (const auto& [k, v] : c.env) env[k] = v;
    const auto r =
        run(emulatorCommand({{.serial = "X1", .level = c.level}}, "", c.argv), withEnv(env));
    EXPECT_EQ(std::tuple(r.timedOut, r.exitCode, r.out + r.err),
              std::tuple(false, c.exitCode, c.output))
        << testing::PrintToString(c.argv);
  }
  kill(s_cups->pid(), SIGSTOP);  // a hung scheduler
  const auto r = runTool(kSim, *s_cups, "q_usb");
  kill(s_cups->pid(), SIGCONT);
  EXPECT_EQ(std::tuple(r.timedOut, r.exitCode, r.out + r.err), std::tuple(false, kFailed, ""));
}

// Queue and URI reach the status program as they are, never through a shell.
TEST_F(UsbQueue, GivesTheProgramQueueAndUriAndDecodesItsOutput) {
  const std::string sts = "STS:" + statusBlockWithToner(5);
  EXPECT_EQ(standIn("q_long", sts).exitCode, kFailed);
  EXPECT_EQ(readFile(m_dir.file("args")), "");
  const std::string marker = m_dir.file("pwned");
  const std::string t = "touch${IFS}" + marker,
                    uri = "usb://Acme/$(" + t + ")`" + t + "`?serial=\"$(" + t + ")\"";
  for (const std::string queue : {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"}) {
    s_cups->addQueue(queue, uri);
    EXPECT_EQ(standIn(queue, sts).exitCode, 0) << queue;
    EXPECT_EQ(readFile(m_dir.file("args")), queue + '\0' + uri + '\0');
  }
  EXPECT_FALSE(std::filesystem::exists(marker));

  const std::string block = statusBlockWithToner(21);
  const std::pair<std::string, int> outputs[] = {
      {"STS:" + statusBlockWithToner(33), 33},  // 127 characters, the least taken
      {"MFG:Acme;\nCMD:PCL;\nSTS:" + block.substr(0, 72) + "\r\n" + block.substr(72) + "\n", 21}};
  for (const auto& [output, level] : outputs)
    EXPECT_EQ(standIn("q_usb", output).out, expectedReport(level));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
