// The tool on USB queues against a private cupsd, the simulated printer as
// its USB status program.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

constexpr int kFailed = 255;

class UsbQueue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_cups = std::make_unique<Cupsd>();
    for (const auto& [queue, uri] :
         {std::pair<std::string, std::string>{"q_usb", "usb://Acme/Laser%201?serial=X1"},
          {"q_usb_caps", "USB://Acme/Laser%201?serial=X1"},
          {"q_usb_mixed", "Usb://Acme/Laser%201?serial=X1"},
          {"q_usbx", "usbx://Acme/Laser"},
          {"q_long", "usb://Acme/" + std::string(230, 'L') + "?serial=1"}}) {
      s_cups->addQueue(queue, uri);
    }
  }
  static void TearDownTestSuite() { s_cups.reset(); }

  // The tool from the test's directory, the simulated printer recording
  // its arguments.
  ProcessResult tool(const std::string& queue, std::map<std::string, std::string> env = {}) {
    env["USBINK_SIM_ARGS"] = m_dir.file("args");
    return runTool(USBINK_TOOL_SIM, *s_cups, queue, env, m_dir.path());
  }
  // The program's arguments after its name, NUL-separated ("" if it never ran).
  std::string programArguments() const {
    const std::string args = readFile(m_dir.file("args"));
    return args.empty() ? "" : args.substr(args.find('\0') + 1);
  }

  static inline std::unique_ptr<Cupsd> s_cups;
  TempDir m_dir{"usbink-tool"};
};

TEST_F(UsbQueue, ReportsTheLowSevenBitsOfTheFirstStatusByteByteForByte) {
  for (const char* queue : {"q_usb", "q_usb_caps", "q_usb_mixed"}) {
    const auto r = tool(queue, {{"USBINK_SIM_LEVEL", "57"}});
    EXPECT_EQ(r.exitCode, 0) << queue;
    EXPECT_EQ(r.out, expectedReport(57)) << queue;
    EXPECT_EQ(r.err, "");
  }
  for (auto [raw, reported] : {std::pair{0xE4, 100}, {0x80, 0}, {0, 0}, {0xFF, 127}}) {
    EXPECT_EQ(tool("q_usb", {{"USBINK_SIM_LEVEL", std::to_string(raw)}}).out,
              expectedReport(reported))
        << raw;
  }
  EXPECT_EQ(tool("q_usb", {{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}, {"USBINK_SIM_LEVEL", "9"}}).out,
            expectedReport(9, "Schwarze Tonerkartusche"));
}

TEST_F(UsbQueue, GivesTheProgramQueueAndUriAsTheyAreNeverThroughAShell) {
  tool("q_usb");
  EXPECT_EQ(programArguments(),
            std::string("q_usb") + '\0' + "usb://Acme/Laser%201?serial=X1" + '\0');
  const std::string marker = m_dir.file("pwned");
  const std::string uri = "usb://Acme/$(touch${IFS}" + marker + ")`touch${IFS}" + marker +
                          "`?serial=\"$(touch${IFS}" + marker + ")\"";
  for (const std::string queue : {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"}) {
    s_cups->addQueue(queue, uri);
    EXPECT_EQ(tool(queue).exitCode, 0) << queue;
    EXPECT_EQ(programArguments(), queue + '\0' + uri + '\0');
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// At most 4095 characters are kept and the rest is drained: far more than
// a pipe holds, which would hang a tool that stopped reading.
TEST_F(UsbQueue, DecodesTheFirst4095CharactersOfOutputAsOneText) {
  const std::string block = statusBlockWithToner(21);
  const std::string id = deviceIdWithToner(64);
  const std::pair<std::string, int> outputs[] = {
      {"STS:" + statusBlockWithToner(33), 33},  // 127 characters, the least taken
      {std::string(126, 'A'), -1},
      {"MFG:Acme;\nCMD:PCL;\nSTS:" + block.substr(0, 72) + "\r\n" + block.substr(72) + "\n", 21},
      {id + std::string(200000, '\n'), 64},
      {std::string(4095 - 10, ';') + id, -1},
  };
  for (const auto& [output, level] : outputs) {
    writeFile(m_dir.file("output"), output);
    const auto r = tool("q_usb", {{"USBINK_SIM_OUTPUT", m_dir.file("output")}});
    EXPECT_EQ(r.exitCode, level < 0 ? kFailed : 0) << output.substr(0, 40);
    EXPECT_EQ(r.out, level < 0 ? "" : expectedReport(level)) << output.substr(0, 40);
  }
}

TEST_F(UsbQueue, GivesNoReportWhenTheProgramOrSchedulerCannotServeOrIsNotMeant) {
  const struct {
    std::vector<std::string> argv;
    int exitCode;
  } cases[] = {
      {{USBINK_TOOL_SIM, "q_long"}, kFailed},  // a command line over 255 characters
      {{USBINK_TOOL_SIM, "q_usbx"}, 1},        // only begins with usb: a network queue
      {{USBINK_TOOL_SIM, "no_such_queue"}, kFailed},
      {{USBINK_TOOL_SIM}, kFailed},
      {{USBINK_TOOL_NOPROG, "q_usb"}, kFailed},  // the program cannot be started
  };
  for (const auto& c : cases) {
    const auto r = run(c.argv, withEnv(s_cups->clientEnv()));
    EXPECT_EQ(r.exitCode, c.exitCode) << c.argv.back();
    EXPECT_EQ(r.out + r.err, "") << c.argv.back();
  }
  EXPECT_EQ(tool("q_long").exitCode, kFailed);
  EXPECT_EQ(programArguments(), "");

  // The scheduler absent, or hung.
  const auto absent =
      run({USBINK_TOOL_SIM, "q_usb"}, withEnv({{"CUPS_SERVER", m_dir.file("no-socket")}}));
  kill(s_cups->pid(), SIGSTOP);
  const auto hung = tool("q_usb");
  kill(s_cups->pid(), SIGCONT);
  for (const auto& r : {absent, hung}) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, kFailed);
    EXPECT_EQ(r.out + r.err, "");
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
