// usbink-query as an administrator or a script runs it, against real agents:
// snmpd on both families and both protocols, snmpd with SNMPv3 only, and
// pysnmp with a name holding control characters.
#include <gtest/gtest.h>

#include <string>

#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

ProcessResult query(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {USBINK_QUERY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

// Single values over v1 on both families, the identity over SNMPv3, the
// level over either; an agent's control characters never pass through, and
// the library's diagnostics show only with --verbose, on standard error.
TEST(QueryCli, PrintsWhatTheAgentAnswersAndFailsCleanly) {
  const SnmpdAgent both({.address4 = "127.0.4.2",
                         .address6 = "fd00:4::2",
                         .sysName = "Office-Laser",
                         .fwVersion = "FW7.1",
                         .mcuVersion = "MCU3.2"});
  const SnmpdAgent v3Only(
      {.address4 = "127.0.4.3", .v1 = false, .toner = 88, .sysName = "v3-only"});
  const PysnmpAgent pysnmp({.address4 = "127.0.4.4", .sysName = "Laser \"Py\"\n"});
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"name", "127.0.4.2"}, "address: 127.0.4.2\nname: Office-Laser\n"},
      {{"firmware", "fd00:4::2"}, "address: fd00:4::2\nfirmware: FW7.1\n"},
      {{"--json", "mcu-firmware", "127.0.4.2"},
       "{\"address\":\"127.0.4.2\",\"mcu-firmware\":\"MCU3.2\"}\n"},
      {{"identity", "127.0.4.2"},
       "address: 127.0.4.2\nname: Office-Laser\nfirmware: FW7.1\nmcu-firmware: "
       "MCU3.2\n"},
      {{"status", "127.0.4.2"}, "address: 127.0.4.2\nprotocol: SNMPv1\nlevel: 42\n"},
      {{"--json", "status", "127.0.4.3"},
       "{\"address\":\"127.0.4.3\",\"protocol\":\"SNMPv3\",\"level\":88}\n"},
      {{"status", "--v3", "127.0.4.2"}, "address: 127.0.4.2\nprotocol: SNMPv3\nlevel: 42\n"},
      {{"name", "127.0.4.4"}, "address: 127.0.4.4\nname: Laser \"Py\"\\x0A\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2] + " " + c.args.back());
    const auto r = query(c.args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
  const auto verbose = query({"--verbose", "name", "127.0.4.2"});
  EXPECT_EQ(verbose.out, cases[0].out);
  EXPECT_NE(verbose.err.find("TavrenNetworkGetPrinterName enter"), std::string::npos);

  const auto v1only = query({"status", "--v1", "127.0.4.3"});
  EXPECT_EQ(v1only.exitCode, 1);
  EXPECT_EQ(v1only.out, "");
  EXPECT_EQ(v1only.err, "usbink-query: status: no answer from 127.0.4.3\n");
  // With no descriptor left for copies of its streams, the answer still
  // comes, behind the library's diagnostics, instead of a crash.
  const auto starved =
      run({"sh", "-c",
           "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&- prlimit --nofile=4 \"$0\" name 127.0.4.2",
           USBINK_QUERY});
  EXPECT_EQ(starved.exitCode, 0) << starved.err;
  EXPECT_TRUE(starved.out.ends_with(cases[0].out)) << starved.out;
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"name"},
                                               {"nonsense", "127.0.4.2"},
                                               {"name", "a", "b"},
                                               {"--loud", "name", "x"},
                                               {"status", "--v1", "--v3", "127.0.4.2"},
                                               {"name", "--v1", "127.0.4.2"}}) {
    const auto r = query(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.ends_with("Try 'usbink-query --help' for more information.\n")) << r.err;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:4::2"});
}
