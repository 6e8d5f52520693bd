// usbink under valgrind's memcheck on each of its ways: its own status, no memory error or leak.
#include <gtest/gtest.h>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "support/usb_printer.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

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
