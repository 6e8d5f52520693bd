// The usbink program under valgrind's memcheck on each of its ways: each
// run ends with its own status and without any memory error or leak.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "support/usb_printer.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

TEST(Memcheck, EveryWayThroughTheToolIsClean) {
  const SnmpdAgent v1Agent({.address4 = "127.0.14.2"});
  const SnmpdAgent v3OnlyAgent({.address4 = "127.0.14.3", .v1 = false});
  Cupsd cups;
  for (const auto& [queue, uri] : {std::pair{"q_usb", "usb://Acme/Laser?serial=1"},
                                   {"q_v1", "socket://127.0.14.2"},
                                   {"q_v3", "socket://127.0.14.3"},
                                   {"q_no_address", "usbx://Acme/Laser"}}) {
    cups.addQueue(queue, uri);
  }

  const struct {
    const char* queue;
    int exitCode;
  } ways[] = {{"q_usb", 0}, {"q_v1", 0}, {"q_v3", 0}, {"no_such_queue", 255}, {"q_no_address", 1}};
  for (const auto& way : ways) {
    TempDir dir("usbink-memcheck");
    const std::string log = dir.file("memcheck.log");
    ProcessOptions options = withEnv(cups.clientEnv());
    options.timeout = std::chrono::minutes(2);
    // The USB way reads an emulated printer through this build's usbtonerlevel.
    const auto r =
        run(emulatorCommand({{.model = "Laser", .serial = "1"}}, "",
                            {"valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
                             "--show-leak-kinds=definite,indirect,possible",
                             "--errors-for-leak-kinds=definite,indirect,possible",
                             "--log-file=" + log, USBINK_TOOL_SIM, way.queue}),
            options);
    EXPECT_EQ(r.exitCode, way.exitCode) << way.queue << "\n" << readFile(log);
    EXPECT_EQ(readFile(log), "") << way.queue;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
