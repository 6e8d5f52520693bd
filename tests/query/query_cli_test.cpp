// usbink-query as an administrator or a script runs it, against real agents.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

struct Agents {
  Agents() {
    AgentConfig v3only;
    v3only.address4 = "127.0.4.3";
    v3only.v1 = false;
    v3only.toner = 88;
    v3only.sysName = "v3-only";
    snmpdV3Only = std::make_unique<SnmpdAgent>(v3only);
    AgentConfig py;
    py.address4 = "127.0.4.4";
    py.sysName = "Laser \"Py\"\n";
    pysnmp = std::make_unique<PysnmpAgent>(py);
  }
  static AgentConfig both() {
    AgentConfig c;
    c.address4 = "127.0.4.2";
    c.address6 = "fd00:4::2";
    c.toner = 42;
    c.sysName = "Office-Laser";
    c.fwVersion = "FW7.1";
    c.mcuVersion = "MCU3.2";
    return c;
  }
  SnmpdAgent snmpd{both()};
  std::unique_ptr<SnmpdAgent> snmpdV3Only;
  std::unique_ptr<PysnmpAgent> pysnmp;
};

class QueryCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_agents = std::make_unique<Agents>(); }
  static void TearDownTestSuite() { s_agents.reset(); }
  static ProcessResult query(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {USBINK_QUERY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  static std::unique_ptr<Agents> s_agents;
};

std::unique_ptr<Agents> QueryCli::s_agents;

TEST_F(QueryCli, ReadsSingleValuesOverV1OnBothFamilies) {
  for (const char* address : {"127.0.4.2", "fd00:4::2"}) {
    const std::string a = address;
    EXPECT_EQ(query({"name", a}).out, "address: " + a + "\nname: Office-Laser\n");
    EXPECT_EQ(query({"firmware", a}).out, "address: " + a + "\nfirmware: FW7.1\n");
    const auto r = query({"--json", "mcu-firmware", a});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "{\"address\":\"" + a + "\",\"mcu-firmware\":\"MCU3.2\"}\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(QueryCli, ReadsTheIdentityOverV3) {
  const auto r = query({"identity", "127.0.4.2"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "address: 127.0.4.2\nname: Office-Laser\nfirmware: FW7.1\nmcu-firmware: MCU3.2\n");
}

TEST_F(QueryCli, ReadsTheLevelOverV1OrV3) {
  EXPECT_EQ(query({"status", "127.0.4.2"}).out, "address: 127.0.4.2\nprotocol: SNMPv1\nlevel: 42\n");
  EXPECT_EQ(query({"--json", "status", "127.0.4.3"}).out,
            "{\"address\":\"127.0.4.3\",\"protocol\":\"SNMPv3\",\"level\":88}\n");
  EXPECT_EQ(query({"status", "--v3", "127.0.4.2"}).out, "address: 127.0.4.2\nprotocol: SNMPv3\nlevel: 42\n");
  const auto v1only = query({"status", "--v1", "127.0.4.3"});
  EXPECT_EQ(v1only.exitCode, 1);
  EXPECT_EQ(v1only.out, "");
  EXPECT_EQ(v1only.err, "usbink-query: status: no answer from 127.0.4.3\n");
}

TEST_F(QueryCli, NeverPassesAnAgentsControlCharactersThrough) {
  EXPECT_EQ(query({"name", "127.0.4.4"}).out, "address: 127.0.4.4\nname: Laser \"Py\"\\x0A\n");
  EXPECT_EQ(query({"--json", "name", "127.0.4.4"}).out,
            "{\"address\":\"127.0.4.4\",\"name\":\"Laser \\\"Py\\\"\\u000A\"}\n");
}

TEST_F(QueryCli, ShowsTheLibrarysDiagnosticsOnlyWhenAsked) {
  const auto quiet = query({"name", "127.0.4.2"});
  EXPECT_EQ(quiet.out.find("enter"), std::string::npos);
  const auto verbose = query({"--verbose", "name", "127.0.4.2"});
  EXPECT_EQ(verbose.out, quiet.out);
  EXPECT_NE(verbose.err.find("TavrenNetworkGetPrinterName enter"), std::string::npos);
}

TEST_F(QueryCli, RefusesWrongUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"name"}, {"nonsense", "127.0.4.2"}, {"name", "a", "b"}, {"--loud", "name", "x"},
           {"status", "--v1", "--v3", "127.0.4.2"}, {"name", "--v1", "127.0.4.2"}}) {
    const auto r = query(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: usbink-query", 0), 0u);
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) { return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:4::2"}); }
