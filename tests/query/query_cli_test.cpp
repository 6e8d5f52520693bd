// usbink-query as an administrator or a script runs it, against real agents:
// snmpd on both families and both protocols, snmpd with SNMPv3 only, and
// pysnmp with a name holding control characters.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

AgentConfig agent(const char* address4, const char* sysName, int toner = 42, bool v1 = true) {
  AgentConfig c;
  c.address4 = address4;
  c.sysName = sysName;
  c.toner = toner;
  c.v1 = v1;
  return c;
}

class QueryCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AgentConfig both = agent("127.0.4.2", "Office-Laser");
    both.address6 = "fd00:4::2";
    both.fwVersion = "FW7.1";
    both.mcuVersion = "MCU3.2";
    s_both = std::make_unique<SnmpdAgent>(both);
    s_v3Only = std::make_unique<SnmpdAgent>(agent("127.0.4.3", "v3-only", 88, false));
    s_pysnmp = std::make_unique<PysnmpAgent>(agent("127.0.4.4", "Laser \"Py\"\n"));
  }
  static void TearDownTestSuite() {
    s_both.reset();
    s_v3Only.reset();
    s_pysnmp.reset();
  }
  static ProcessResult query(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {USBINK_QUERY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  static inline std::unique_ptr<SnmpdAgent> s_both, s_v3Only;
  static inline std::unique_ptr<PysnmpAgent> s_pysnmp;
};

// Single values over v1 on both families, the identity over SNMPv3, the
// level over either; an agent's control characters never pass through.
TEST_F(QueryCli, PrintsWhatTheAgentAnswers) {
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"name", "127.0.4.2"}, "address: 127.0.4.2\nname: Office-Laser\n"},
      {{"firmware", "fd00:4::2"}, "address: fd00:4::2\nfirmware: FW7.1\n"},
      {{"--json", "mcu-firmware", "127.0.4.2"},
       "{\"address\":\"127.0.4.2\",\"mcu-firmware\":\"MCU3.2\"}\n"},
      {{"identity", "127.0.4.2"},
       "address: 127.0.4.2\nname: Office-Laser\nfirmware: FW7.1\nmcu-firmware: MCU3.2\n"},
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
}

// The library's diagnostics only with --verbose, and on standard error.
TEST_F(QueryCli, ShowsTheLibrarysDiagnosticsOnlyWhenAsked) {
  const auto quiet = query({"name", "127.0.4.2"});
  const auto verbose = query({"--verbose", "name", "127.0.4.2"});
  EXPECT_EQ(verbose.out, quiet.out);
  EXPECT_NE(verbose.err.find("TavrenNetworkGetPrinterName enter"), std::string::npos);
}

TEST_F(QueryCli, ReportsNoAnswerAndRefusesWrongUsage) {
  const auto v1only = query({"status", "--v1", "127.0.4.3"});
  EXPECT_EQ(v1only.exitCode, 1);
  EXPECT_EQ(v1only.out, "");
  EXPECT_EQ(v1only.err, "usbink-query: status: no answer from 127.0.4.3\n");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"name"},
                                             {"nonsense", "127.0.4.2"},
                                             {"name", "a", "b"},
                                             {"--loud", "name", "x"},
                                             {"status", "--v1", "--v3", "127.0.4.2"},
                                             {"name", "--v1", "127.0.4.2"}}) {
    const auto r = query(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: usbink-query", 0), 0u);
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:4::2"});
}
