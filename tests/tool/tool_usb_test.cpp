// The tool on USB queues, run as a process against a private cupsd with the
// simulated printer as its USB status program.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>

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
    s_cups->addQueue("q_usb", "usb://Acme/Laser%201?serial=X1");
    s_cups->addQueue("q_usb_caps", "USB://Acme/Laser%201?serial=X1");
    s_cups->addQueue("q_usb_mixed", "Usb://Acme/Laser%201?serial=X1");
    s_cups->addQueue("q_usbx", "usbx://Acme/Laser");
    s_cups->addQueue("q_long", "usb://Acme/" + std::string(230, 'L') + "?serial=1");
  }
  static void TearDownTestSuite() { s_cups.reset(); }

  ProcessResult tool(const std::string& queue, std::map<std::string, std::string> env = {}) {
    env["USBINK_SIM_ARGS"] = m_dir.file("args");
    return runTool(USBINK_TOOL_SIM, *s_cups, queue, env);
  }

  // The tool with the simulated printer printing exactly `output`.
  ProcessResult toolPrinting(const std::string& output) {
    writeFile(m_dir.file("output"), output);
    return tool("q_usb", {{"USBINK_SIM_OUTPUT", m_dir.file("output")}});
  }

  bool programRan() const { return std::filesystem::exists(m_dir.file("args")); }

  static std::unique_ptr<Cupsd> s_cups;
  TempDir m_dir{"usbink-tool"};
};

std::unique_ptr<Cupsd> UsbQueue::s_cups;

void expectNoReport(const ProcessResult& r, int exitCode) {
  EXPECT_EQ(r.exitCode, exitCode);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(UsbQueue, ReportsTheLevelByteForByte) {
  for (const char* queue : {"q_usb", "q_usb_caps", "q_usb_mixed"}) {
    const auto r = tool(queue, {{"USBINK_SIM_LEVEL", "57"}});
    EXPECT_EQ(r.exitCode, 0) << queue;
    EXPECT_EQ(r.out, expectedReport(57)) << queue;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(UsbQueue, ReportsTheLowSevenBitsOfTheFirstStatusByte) {
  const std::pair<int, int> levels[] = {{0xE4, 100}, {0x80, 0}, {0, 0}, {100, 100}, {0xFF, 127}};
  for (auto [raw, reported] : levels) {
    const auto r = tool("q_usb", {{"USBINK_SIM_LEVEL", std::to_string(raw)}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, expectedReport(reported)) << raw;
  }
}

TEST_F(UsbQueue, ReportsInTheUsersLanguage) {
  const auto r = tool("q_usb", {{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}, {"USBINK_SIM_LEVEL", "9"}});
  EXPECT_EQ(r.out, expectedReport(9, "Schwarze Tonerkartusche"));
}

TEST_F(UsbQueue, GivesTheProgramTheQueueAndUriAsTheyAre) {
  tool("q_usb");
  const std::string args = readFile(m_dir.file("args"));
  EXPECT_EQ(args.substr(args.find('\0') + 1),
            std::string("q_usb") + '\0' + "usb://Acme/Laser%201?serial=X1" + '\0');
}

TEST_F(UsbQueue, NeverHandsQueueOrUriToAShell) {
  const std::string marker = m_dir.file("pwned");
  const std::string queues[] = {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"};
  const std::string uri = "usb://Acme/$(touch${IFS}" + marker + ")`touch${IFS}" + marker +
                          "`?serial=\"$(touch${IFS}" + marker + ")\"";
  for (const auto& queue : queues) {
    s_cups->addQueue(queue, uri);
    ProcessOptions options = withEnv({{"USBINK_SIM_ARGS", m_dir.file("args")}});
    for (const auto& [k, v] : s_cups->clientEnv()) options.env[k] = v;
    options.cwd = m_dir.path();
    const auto r = run({USBINK_TOOL_SIM, queue}, options);
    EXPECT_EQ(r.exitCode, 0) << queue;
    const std::string args = readFile(m_dir.file("args"));
    const std::string passed = args.substr(args.find('\0') + 1);
    EXPECT_EQ(passed, queue + '\0' + uri + '\0');
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("pwned")));
}

TEST_F(UsbQueue, NeedsAtLeast127CharactersOfOutput) {
  expectNoReport(toolPrinting(std::string(126, 'A')), kFailed);
  const std::string id = "STS:" + statusBlockWithToner(33);
  ASSERT_GE(id.size(), 127u);
  EXPECT_EQ(toolPrinting(id).out, expectedReport(33));
}

TEST_F(UsbQueue, ReadsOutputOverSeveralLinesAsOneText) {
  const std::string block = statusBlockWithToner(21);
  const auto r = toolPrinting("MFG:Acme;\nCMD:PCL;\nSTS:" + block.substr(0, 72) + "\r\n" +
                              block.substr(72) + "\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, expectedReport(21));
}

TEST_F(UsbQueue, KeepsTheFirst4095CharactersAndDrainsTheRest) {
  // Far more than a pipe holds: a program blocked on a full pipe would hang
  // the tool.
  const std::string id = deviceIdWithToner(64);
  EXPECT_EQ(toolPrinting(id + std::string(200000, '\n')).out, expectedReport(64));
  expectNoReport(toolPrinting(std::string(4095 - 10, ';') + id), kFailed);
}

TEST_F(UsbQueue, RefusesUndecodableOutput) {
  expectNoReport(toolPrinting(deviceIdWithToner(5) + "MDL:Laser;"), kFailed);
  expectNoReport(toolPrinting("MFG:Acme;" + std::string(200, 'x')), kFailed);
}

TEST_F(UsbQueue, RefusesACommandLineLongerThan255Characters) {
  expectNoReport(tool("q_long"), kFailed);
  EXPECT_FALSE(programRan());
}

TEST_F(UsbQueue, FailsWhenTheProgramCannotBeStarted) {
  expectNoReport(runTool(USBINK_TOOL_NOPROG, *s_cups, "q_usb"), kFailed);
}

TEST_F(UsbQueue, ASchemeThatOnlyBeginsWithUsbTakesTheNetworkPath) {
  expectNoReport(tool("q_usbx"), 1);
  EXPECT_FALSE(programRan());
}

TEST_F(UsbQueue, AMissingQueueOrArgumentGivesNoReport) {
  expectNoReport(tool("no_such_queue"), kFailed);
  ProcessOptions options = withEnv(s_cups->clientEnv());
  expectNoReport(run({USBINK_TOOL_SIM}, options), kFailed);
  EXPECT_FALSE(programRan());
}

TEST(Scheduler, AbsentOrHungGivesNoReport) {
  TempDir dir;
  ProcessOptions options = withEnv({{"CUPS_SERVER", dir.file("none.sock")}});
  expectNoReport(run({USBINK_TOOL_SIM, "q_usb"}, options), kFailed);

  Cupsd cups;
  cups.addQueue("q_usb", "usb://Acme/Laser?serial=1");
  kill(cups.pid(), SIGSTOP);
  const auto r = runTool(USBINK_TOOL_SIM, cups, "q_usb");
  kill(cups.pid(), SIGCONT);
  EXPECT_FALSE(r.timedOut);
  expectNoReport(r, kFailed);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) { return usbink::test::runInPrivateNetwork(argc, argv); }
