// The tool on USB queues against a private cupsd: end to end through the
// real usbtonerlevel and an emulated printer, and through a stand-in
// program where a test needs output no printer gives.
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
         {std::pair<std::string, std::string>{"q_usb", "usb://Acme/Laser%201?serial=X1"},
          {"q_usb_caps", "USB://Acme/Laser%201?serial=X1"},
          {"q_usb_mixed", "Usb://Acme/Laser%201?serial=X1"},
          {"q_usbx", "usbx://Acme/Laser"},
          {"q_long", "usb://Acme/" + std::string(230, 'L') + "?serial=1"}}) {
      s_cups->addQueue(queue, uri);
    }
  }
  static void TearDownTestSuite() { s_cups.reset(); }

  // The tool of this build on `queue`, printer X1 at `level` on the bus.
  static ProcessResult onPrinter(const std::string& queue, int level,
                                 std::map<std::string, std::string> env = {}) {
    for (const auto& [k, v] : s_cups->clientEnv()) env[k] = v;
    return run(emulatorCommand({{.serial = "X1", .level = level}}, "", {USBINK_TOOL_SIM, queue}),
               withEnv(env));
  }

  // The tool with the stand-in program, which records its arguments and
  // prints the file "output".
  ProcessResult standIn(const std::string& queue) {
    std::filesystem::create_directories(std::filesystem::path(USBINK_STAND_IN).parent_path());
    writeFile(USBINK_STAND_IN,
              "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$ARGS\"\nexec cat \"$OUTPUT\"\n", 0755);
    return runTool(USBINK_TOOL_STANDIN, *s_cups, queue,
                   {{"ARGS", m_dir.file("args")}, {"OUTPUT", m_dir.file("output")}});
  }

  static inline std::unique_ptr<Cupsd> s_cups;
  TempDir m_dir{"usbink-tool"};
};

TEST_F(UsbQueue, ReportsTheLowSevenBitsOfTheFirstStatusByteByteForByte) {
  for (const char* queue : {"q_usb", "q_usb_caps", "q_usb_mixed"}) {
    const auto r = onPrinter(queue, 57);
    EXPECT_EQ(r.exitCode, 0) << queue << r.err;
    EXPECT_EQ(r.out, expectedReport(57)) << queue;
    EXPECT_EQ(r.err, "");
  }
  for (auto [raw, reported] : {std::pair{0xE4, 100}, {0x80, 0}, {0, 0}, {0xFF, 127}}) {
    EXPECT_EQ(onPrinter("q_usb", raw).out, expectedReport(reported)) << raw;
  }
  EXPECT_EQ(onPrinter("q_usb", 9, {{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}}).out,
            expectedReport(9, "Schwarze Tonerkartusche"));
  // Another printer's serial: usbtonerlevel finds none, usbink reports none.
  const auto r = run(emulatorCommand({{.serial = "X2"}}, "", {USBINK_TOOL_SIM, "q_usb"}),
                     withEnv(s_cups->clientEnv()));
  EXPECT_EQ(r.exitCode, kFailed);
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(UsbQueue, GivesTheProgramQueueAndUriAsTheyAreNeverThroughAShell) {
  writeFile(m_dir.file("output"), "STS:" + statusBlockWithToner(5) + std::string(100, ';'));
  standIn("q_usb");
  EXPECT_EQ(readFile(m_dir.file("args")),
            std::string("q_usb") + '\0' + "usb://Acme/Laser%201?serial=X1" + '\0');
  const std::string marker = m_dir.file("pwned");
  const std::string uri = "usb://Acme/$(touch${IFS}" + marker + ")`touch${IFS}" + marker +
                          "`?serial=\"$(touch${IFS}" + marker + ")\"";
  for (const std::string queue : {"q$(touch${IFS}pwned)", "q`touch${IFS}pwned`"}) {
    s_cups->addQueue(queue, uri);
    EXPECT_EQ(standIn(queue).exitCode, 0) << queue;
    EXPECT_EQ(readFile(m_dir.file("args")), queue + '\0' + uri + '\0');
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
    const auto r = standIn("q_usb");
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
  EXPECT_EQ(standIn("q_long").exitCode, kFailed);
  EXPECT_EQ(readFile(m_dir.file("args")), "");

  // The scheduler absent, or hung.
  const auto absent =
      run({USBINK_TOOL_SIM, "q_usb"}, withEnv({{"CUPS_SERVER", m_dir.file("no-socket")}}));
  kill(s_cups->pid(), SIGSTOP);
  const auto hung = runTool(USBINK_TOOL_SIM, *s_cups, "q_usb");
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
