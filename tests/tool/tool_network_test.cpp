// The tool on network queues against a private cupsd: snmpd agents, agents
// misbehaving mid-exchange, and a lossy link.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "snmp/captured_answers.h"
#include "support/netns.h"
#include "support/snmp_agents.h"
#include "tool/query_flow.h"
#include "tool/tool_runner.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

const Bytes kEngine = fromHex("800002a204fa0117");

// v1 requests get `v1`; SNMPv3 ones `v3` after agent kEngine's Report.
RawResponder::Handler agent(std::vector<Bytes> v1, std::vector<Bytes> v3) {
  auto scripted = scriptedAgents({{kEngine, [v3](const Bytes&) { return v3; }}});
  return [=](const Bytes& request) {
    const std::size_t header = request[1] < 0x80 ? 2 : 2 + (request[1] & 0x7F);
    return request.at(header + 2) == 0 ? v1 : scripted(request);  // the version: v1 or not
  };
}

Bytes v3Answer(int toner) {
  const Bytes deviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
  return securedAnswer(kEngine, {{deviceIdOid, 0x04, text(deviceIdWithToner(toner))}});
}

// Each queue, the status the tool gives (-1: another test's) and whether its
// v1 read goes over IPv6. Every report reads the snmpd agent's 42.
struct Queue {
  const char *name, *uri;
  int exitCode;
  bool v6 = false;
};
constexpr Queue kQueues[] = {
    {"q_socket", "socket://127.0.3.2:9100", kExitReported},
    {"q_lpd", "lpd://127.0.3.2/queue", kExitReported},
    {"q_socket_caps", "SOCKET://127.0.3.2", kExitReported},
    {"q_v4_name", "socket://four.printers.test", kExitReported},
    {"q_ipp6", "ipp://[fd00:3::2]:631/ipp/print", kExitReported, true},
    {"q_dual_name", "socket://dual.printers.test:9100", kExitReported, true},
    {"q_unknown_name", "socket://nowhere.printers.test", kExitNoAddress},
    {"q_path", "socket:///tmp/x", kExitNoAddress},
    {"q_socketx", "socketx://127.0.3.2", kExitNoAddress},
    {"q_fault", "socket://127.0.3.8", -1},
    {"q_lossy", "socket://192.0.2.2", -1},
};

struct Printers {
  Printers() {
    for (const Queue& q : kQueues) cups.addQueue(q.name, q.uri);
  }
  SnmpdAgent snmpd{{.address4 = "127.0.3.2", .address6 = "fd00:3::2", .toner = 42}};
  Cupsd cups;
};

class NetworkQueue : public PrintersSuite<Printers> {};

// An IPv6 literal loses its brackets and the v1 read over IPv6 writes lines
// before the report; a name with both families resolves to its IPv6 address.
TEST_F(NetworkQueue, ReportsTheLevelOfTheQueuesPrinterOverV1OrV3) {
  const std::string v6Lines = "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = " +
                              std::to_string(fromHex(kDeviceIdAnswer).size()) +
                              "\nNetworkReadStatus response=\n";
  for (const Queue& c : kQueues) {
    if (c.exitCode < 0) continue;
    const auto r = tool(c.name);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
    const std::string report = c.exitCode == kExitReported ? expectedReport(42) : "";
    EXPECT_EQ(r.out, (c.v6 ? v6Lines : "") + report) << c.name;
  }
}

// The v1 read takes the first datagram from anywhere; SNMPv3 asks where the
// Report came from; an empty datagram ends a wait. Each run ends with a status.
TEST_F(NetworkQueue, MisbehavingAgentsEndTheRunWithItsStatus) {
  const Bytes v1 = fromHex(kDeviceIdAnswer);  // toner 42
  const struct {
    const char* what;
    RawResponder::Handler agent;
    const char* replyFrom;
    int exitCode, level;
    std::size_t requests = 0;  // checked when not 0
  } cases[] = {
      // 3 v1 copies, the discovery, the real request.
      {"stops after the Report", agent({}, {}), nullptr, kExitFailed, 0, 5},
      {"v1 answers every request twice", agent({v1, v1}, {}), nullptr, 0, 42},
      {"SNMPv3 answers the real request twice", agent({}, {v3Answer(17), v3Answer(17)}), nullptr, 0,
       17},
      {"v1 answers from another address", agent({v1}, {}), "127.0.3.14", 0, 42},
      {"SNMPv3 answers from another address", agent({}, {v3Answer(23)}), "127.0.3.14", 0, 23},
      {"empty datagram to v1 and to the discovery",
       [](const Bytes&) { return std::vector<Bytes>{Bytes{}}; }, nullptr, kExitFailed, 0},
      {"empty datagram as the SNMPv3 response", agent({}, {{}}), nullptr, kExitFailed, 0},
  };
  for (const auto& c : cases) {
    const auto responder = c.replyFrom
                               ? std::make_unique<RawResponder>("127.0.3.8", c.replyFrom, c.agent)
                               : std::make_unique<RawResponder>("127.0.3.8", c.agent);
    const auto r = tool("q_fault");
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
    EXPECT_EQ(r.out, c.exitCode == 0 ? expectedReport(c.level) : "") << c.what;
    EXPECT_TRUE(c.requests == 0 || responder->requestCount() == c.requests) << c.what;
  }
}

// A printer namespace behind a veth link dropping 30 % of the SNMP datagrams
// on arrival at either end (no netem; a drop on the way out fails sendto).
TEST_F(NetworkQueue, ThirtyPercentPacketLossEndsEveryRunWithAReportOrAFailure) {
  const NamedNamespace printer("usbink-lossy");
  const std::string ns = printer.name(),
                    table =
                        "add table inet usbink_loss\nadd chain inet usbink_loss in { type "
                        "filter hook input priority 0; }\nadd rule inet usbink_loss in udp ";
  for (const auto& command : std::vector<std::vector<std::string>>{
           {"ip", "link", "add", "lossy0", "type", "veth", "peer", "name", "lossy1", "netns", ns},
           {"ip", "addr", "add", "192.0.2.1/24", "dev", "lossy0"},
           {"ip", "link", "set", "lossy0", "up"},
           {"ip", "-n", ns, "addr", "add", "192.0.2.2/24", "dev", "lossy1"},
           {"ip", "-n", ns, "link", "set", "lossy1", "up"},
           {"ip", "-n", ns, "link", "set", "lo", "up"},
           {"nft", table + "sport 161 numgen random mod 100 < 30 drop"},  // gone with our netns
           {"ip", "netns", "exec", ns, "nft",
            table + "dport 161 numgen random mod 100 < 30 drop"}}) {
    runChecked(command);
  }
  std::unique_ptr<SnmpdAgent> snmpd;
  printer.enter([&] {
    snmpd = std::make_unique<SnmpdAgent>(AgentConfig{.address4 = "192.0.2.2", .toner = 77});
  });
  int reported = 0;
  for (int i = 1; i <= 20; ++i) {
    const ProcessResult r = tool("q_lossy");
    EXPECT_EQ(r.exitCode, r.exitCode == 0 ? 0 : kExitFailed) << "run " << i;
    EXPECT_EQ(r.out, r.exitCode == 0 ? expectedReport(77) : "") << "run " << i;
    reported += r.exitCode == 0;
  }
  EXPECT_GT(reported, 0);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts(
      "127.0.0.1 localhost\nfd00:3::2 dual.printers.test\n127.0.3.2 dual.printers.test\n"
      "127.0.3.2 four.printers.test\n");
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:3::2"});
}
