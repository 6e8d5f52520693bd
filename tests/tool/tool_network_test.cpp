// The tool on network queues: snmpd agents, agents misbehaving mid-exchange, a lossy link.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
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

// Each queue and the tool's status (-1: another test's); a name ending in 6 reads over IPv6.
constexpr std::tuple<const char*, const char*, int> kQueues[] = {
    {"q_socket", "socket://127.0.3.2:9100", kExitReported},
    {"q_lpd", "lpd://127.0.3.2/queue", kExitReported},
    {"q_socket_caps", "SOCKET://127.0.3.2", kExitReported},
    {"q_v4_name", "socket://four.printers.test", kExitReported},
    {"q_ipp6", "ipp://[fd00:3::2]:631/ipp/print", kExitReported},
    {"q_dual6", "socket://dual.printers.test:9100", kExitReported},
    {"q_unknown_name", "socket://nowhere.printers.test", kExitNoAddress},
    {"q_path", "socket:///tmp/x", kExitNoAddress},
    {"q_socketx", "socketx://127.0.3.2", kExitNoAddress},
    {"q_fault", "socket://127.0.3.8", -1},
    {"q_lossy", "socket://192.0.2.2", -1},
};

struct Printers {
  Printers() {
    for (auto [name, uri, exitCode] : kQueues) cups.addQueue(name, uri);
  }
  SnmpdAgent snmpd{{.address4 = "127.0.3.2", .address6 = "fd00:3::2", .toner = 42}};
  Cupsd cups;
};

class NetworkQueue : public PrintersSuite<Printers> {};

// An IPv6 literal loses its brackets; a name with both families gives its IPv6 address.
TEST_F(NetworkQueue, ReportsTheLevelOfTheQueuesPrinterOverV1OrV3) {
  const std::string v6Lines = "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = " +
                              std::to_string(fromHex(kDeviceIdAnswer).size()) +
                              "\nNetworkReadStatus response=\n";
  for (auto [name, uri, exitCode] : kQueues) {
    if (exitCode < 0) continue;
    const auto r = tool(name);
    EXPECT_EQ(r.exitCode, exitCode) << name;
    const std::string report = exitCode == kExitReported ? expectedReport(42) : "";
    EXPECT_EQ(r.out, (std::string(name).ends_with('6') ? v6Lines : "") + report) << name;
  }
}

// v1 takes the first datagram from anywhere, SNMPv3 asks where the Report came from.
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

// A printer namespace behind a veth link dropping 30 % of the SNMP datagrams on
// arrival at either end (no netem; a drop on the way out fails sendto).
TEST_F(NetworkQueue, ThirtyPercentPacketLossEndsEveryRunWithAReportOrAFailure) {
  const NamedNamespace printer("usbink-lossy");
  runChecked({"sh", "-ec", R"(T='add table inet l
add chain inet l in { type filter hook input priority 0; }
add rule inet l in udp'
ip link add lossy0 type veth peer name lossy1 netns $0; ip addr add 192.0.2.1/24 dev lossy0
ip link set lossy0 up; ip -n $0 addr add 192.0.2.2/24 dev lossy1; ip -n $0 link set lossy1 up
ip -n $0 link set lo up; nft "$T sport 161 numgen random mod 100 < 30 drop"
ip netns exec $0 nft "$T dport 161 numgen random mod 100 < 30 drop")",
              printer.name()});
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
