// The tool on network queues: a private cupsd, real snmpd and pysnmp agents
// on loopback addresses of a private network, names from a private hosts file.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "tool/address_resolution.h"
#include "tool/query_flow.h"
#include "tool/tool_runner.h"
#include "usbink/status.h"

namespace usbink::test {
namespace {

constexpr int kFailed = 255;

AgentConfig agent(const std::string& v4, const std::string& v6, int toner) {
  AgentConfig c;
  c.address4 = v4;
  c.address6 = v6;
  c.toner = toner;
  return c;
}

struct Printers {
  Printers() {
    AgentConfig v3only = agent("127.0.3.4", "", 73);
    v3only.v1 = false;
    snmpdV3Only = std::make_unique<SnmpdAgent>(v3only);
    AgentConfig missing = agent("127.0.3.5", "", 0);
    missing.serveDeviceId = false;
    snmpdMissing = std::make_unique<SnmpdAgent>(missing);
    AgentConfig trailing = agent("127.0.3.6", "", 0);
    trailing.deviceId = "MFG:Acme;STS:" + statusBlockWithToner(50) + ";MDL:Laser;";
    snmpdTrailing = std::make_unique<SnmpdAgent>(trailing);

    cups.addQueue("q_socket", "socket://127.0.3.2:9100");
    cups.addQueue("q_ipp_pysnmp", "ipp://127.0.3.3/ipp/print");
    cups.addQueue("q_lpd", "lpd://127.0.3.2/queue");
    cups.addQueue("q_ipp6", "ipp://[fd00:3::2]:631/ipp/print");
    cups.addQueue("q_dual_name", "socket://dual.printers.test:9100");
    cups.addQueue("q_v4_name", "socket://four.printers.test");
    cups.addQueue("q_unknown_name", "socket://nowhere.printers.test");
    cups.addQueue("q_v3_only", "socket://127.0.3.4");
    cups.addQueue("q_silent", "socket://127.0.3.9");
    cups.addQueue("q_no_object", "socket://127.0.3.5");
    cups.addQueue("q_trailing_field", "socket://127.0.3.6");
  }

  SnmpdAgent snmpd{agent("127.0.3.2", "fd00:3::2", 42)};
  PysnmpAgent pysnmp{agent("127.0.3.3", "", 61)};
  std::unique_ptr<SnmpdAgent> snmpdV3Only, snmpdMissing, snmpdTrailing;
  Cupsd cups;
};

class NetworkQueue : public PrintersSuite<Printers> {};

TEST_F(NetworkQueue, ReportsTheLevelOfPrintersAnsweringSnmpV1) {
  const std::pair<const char*, int> cases[] = {
      {"q_socket", 42}, {"q_ipp_pysnmp", 61}, {"q_lpd", 42}, {"q_v4_name", 61}};
  for (auto [queue, level] : cases) {
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, 0) << queue;
    EXPECT_EQ(r.out, expectedReport(level)) << queue;
  }
}

TEST_F(NetworkQueue, AnIPv6AddressShowsTheReadsLinesBeforeTheReport) {
  for (const char* queue : {"q_ipp6", "q_dual_name"}) {
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, 0) << queue;
    EXPECT_EQ(r.out.substr(r.out.find("<?xml")), expectedReport(42)) << queue;
    EXPECT_EQ(r.out.substr(0, r.out.find("recvfrom")), "Sendto nRet = 51, request_oid_len=51\n");
    EXPECT_NE(r.out.find("NetworkReadStatus response=\n<?xml"), std::string::npos);
  }
}

TEST_F(NetworkQueue, FallsBackToSnmpV3) {
  const auto r = tool("q_v3_only");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, expectedReport(73));
}

TEST_F(NetworkQueue, GivesNoReportWithoutAnswerOrStatusBlock) {
  for (const char* queue : {"q_silent", "q_no_object", "q_trailing_field"}) {
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, kFailed) << queue;
    EXPECT_EQ(r.out, "") << queue;
  }
  const auto r = tool("q_unknown_name");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
}

// v1 then v3 on each address before the next one is tried.
TEST_F(NetworkQueue, AsksEachAddressOverV1ThenV3InListOrder) {
  RawResponder silent("127.0.3.9", [](const Bytes&) { return std::vector<Bytes>{}; });
  mDNSType = {"IPv4", "IPv4"};
  mDNSIP = {"127.0.3.9", "127.0.3.4"};
  PRINTER_STATUS status{};
  EXPECT_EQ(readStatusOfAddresses(&status), 0);
  EXPECT_EQ(status.tonerLevel, 73);
  const auto requests = silent.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(requests[i][4], 0x00) << "SNMP v1 request " << i;
  EXPECT_EQ(requests[3][4], 0x03) << "SNMPv3 engine discovery";
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  usbink::test::enterPrivateNetwork({"fd00:3::2"});
  usbink::test::usePrivateHosts(
      "127.0.0.1 localhost\nfd00:3::2 dual.printers.test\n127.0.3.3 dual.printers.test\n"
      "127.0.3.3 four.printers.test\n");
  return RUN_ALL_TESTS();
}
