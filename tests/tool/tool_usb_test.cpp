// The tool on USB queues in a private cupsd: through the real usbtonerlevel on an emulated
// printer, and through a stand-in program for output no printer gives.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "support/usb_printer.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

constexpr int kFailed = 255;

class UsbQueue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_cups = std::make_unique<Cupsd>();
    for (const auto& [queue, uri] :
         {std::pair<std::string, std::string>{"q_usb", "usb://Acme/Laser?serial=X1"},
          {"q_usb_caps", "USB://Acme/Laser?serial=X1"},
          {"q_usb_mixed", "Usb://Acme/Laser?serial=X1"},
          {"q_usbx", "usbx://Acme/Laser"},
          {"q_long", "usb://Acme/" + std::string(230, 'L') + "?serial=1"}}) {
      s_cups->addQueue(queue, uri);
    }
  }
  static void TearDownTestSuite() { s_cups.reset(); }

  // The tool of this build on `queue`, printer X1 (its status byte `level`) on the bus.
  static ProcessResult onPrinter(const std::string& queue, int level,
                                 std::map<std::string, std::string> env = {}) {
    for (const auto& [k, v] : s_cups->clientEnv()) env[k] = v;
    return run(emulatorCommand({{.serial = "X1", .level = level}}, "", {USBINK_TOOL_SIM, queue}),
               withEnv(env));
  }

  // The tool with a stand-in program that records its arguments and prints `output`.
  ProcessResult standIn(const std::string& queue, const std::string& output = "") {
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

TEST_F(UsbQueue, ReportsTheLowSevenBitsOfTheFirstStatusByteByteForByte) {
  const auto r = onPrinter("q_usb", 0xE4);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out + r.err, expectedReport(100));
  for (const char* queue : {"q_usb_caps", "q_usb_mixed"})
    EXPECT_EQ(onPrinter(queue, 57).out, expectedReport(57)) << queue;
  EXPECT_EQ(onPrinter("q_usb", 9, {{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}}).out,
            expectedReport(9, "Schwarze Tonerkartusche"));
}

TEST_F(UsbQueue, GivesNoReportWhenTheProgramOrSchedulerCannotServeOrIsNotMeant) {
  // Another printer's serial; a command line over 255 characters; a network queue (only begins
  // with usb:); no queue; no argument; a program that cannot be started; no scheduler, or a hung
  // one.
  const std::vector<std::string> cases[] = {
      {USBINK_TOOL_SIM, "q_usb"},  {USBINK_TOOL_SIM, "q_long"},
      {USBINK_TOOL_SIM, "q_usbx"}, {USBINK_TOOL_SIM, "no_such_queue"},
      {USBINK_TOOL_SIM},           {USBINK_TOOL_NOPROG, "q_usb"}};
  std::vector<ProcessResult> results;
  for (const auto& argv : cases)
    results.push_back(
        run(emulatorCommand({{.serial = "X2"}}, "", argv), withEnv(s_cups->clientEnv())));
  results.push_back(
      run({USBINK_TOOL_SIM, "q_usb"}, withEnv({{"CUPS_SERVER", m_dir.file("none")}})));
  kill(s_cups->pid(), SIGSTOP);
  results.push_back(runTool(USBINK_TOOL_SIM, *s_cups, "q_usb"));
  kill(s_cups->pid(), SIGCONT);
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_FALSE(results[i].timedOut) << i;
    EXPECT_EQ(results[i].exitCode, i == 2 ? 1 : kFailed) << i;
    EXPECT_EQ(results[i].out + results[i].err, "") << i;
  }
  EXPECT_EQ(standIn("q_long").exitCode, kFailed);
  EXPECT_EQ(readFile(m_dir.file("args")), "");
}

TEST_F(UsbQueue, GivesTheProgramQueueAndUriAsTheyAreNeverThroughAShell) {
  const std::string output = "STS:" + statusBlockWithToner(5);
  standIn("q_usb", output);
  EXPECT_EQ(readFile(m_dir.file("args")),
            std::string("q_usb") + '\0' + "usb://Acme/Laser?serial=X1" + '\0');
  const std::string marker = m_dir.file("pwned");
  const std::string uri = "usb://Acme/$(touch${IFS}" + marker + ")`touch${IFS}" + marker +
                          "`?serial=\"$(touch${IFS}" + marker + ")\"";
  for (const std::string queue : {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"}) {
    s_cups->addQueue(queue, uri);
    EXPECT_EQ(standIn(queue, output).exitCode, 0) << queue;
    EXPECT_EQ(readFile(m_dir.file("args")), queue + '\0' + uri + '\0');
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// At most 4095 characters are kept and the rest drained (more than a pipe holds).
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
    const auto r = standIn("q_usb", output);
    EXPECT_EQ(std::pair(r.exitCode, r.out),
              std::pair(level < 0 ? kFailed : 0, level < 0 ? "" : expectedReport(level)));
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
