// The tool on network queues: snmpd agents and agents misbehaving mid-exchange.
#include <gtest/gtest.h>

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
    const std::size_t header = request.at(1) < 0x80 ? 2 : 2 + (request.at(1) & 0x7F);
    return request.at(header + 2) == 0 ? v1 : scripted(request);  // the version: v1 or not
  };
}

Bytes v3Answer(int toner) {
  return securedAnswer(kEngine, {{kDeviceIdOid, 0x04, text(deviceIdWithToner(toner))}});
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
};

struct Printers {
  Printers() {
    for (auto [name, uri, exitCode] : kQueues) cups.addQueue(name, uri);
  }
  SnmpdAgent snmpd{{.address4 = "127.0.3.2", .address6 = "fd00:3::2"}};
  Cupsd cups;
};

class NetworkQueue : public PrintersSuite<Printers> {};

// An IPv6 literal loses its brackets; a name with both families gives its IPv6 address.
TEST_F(NetworkQueue, ReportsTheLevelOfTheQueuesPrinterOverV1OrV3) {
  const std::string v6Lines = "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = " +
                              std::to_string(capturedAnswer("device_id").size()) +
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
  const Bytes v1 = capturedAnswer("device_id");  // toner 42
  const struct {
    const char* what;
    RawResponder::Handler agent;
    const char* replyFrom;  // "": the agent's own address
    int exitCode, level;
    std::size_t requests = 0;  // checked when not 0
  } cases[] = {
      {"Report only", agent({}, {}), "", kExitFailed, 0, 5},  // 3 v1, discovery, request
      {"v1 answers every request twice", agent({v1, v1}, {}), "", 0, 42},
      {"SNMPv3 answers twice", agent({}, {v3Answer(17), v3Answer(17)}), "", 0, 17},
      {"v1 answers from another address", agent({v1}, {}), "127.0.3.14", 0, 42},
      {"SNMPv3 answers from another address", agent({}, {v3Answer(23)}), "127.0.3.14", 0, 23},
      {"empty", [](const Bytes&) { return std::vector<Bytes>{Bytes{}}; }, "", kExitFailed, 0},
      {"empty SNMPv3 response", agent({}, {{}}), "", kExitFailed, 0},
  };
  for (const auto& c : cases) {
    const RawResponder responder("127.0.3.8", c.agent, c.replyFrom);
    const auto r = tool("q_fault");
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
    EXPECT_EQ(r.out, c.exitCode == 0 ? expectedReport(c.level) : "") << c.what;
    EXPECT_TRUE(c.requests == 0 || responder.requestCount() == c.requests) << c.what;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts(
      "127.0.0.1 localhost\nfd00:3::2 dual.printers.test\n127.0.3.2 dual.printers.test\n"
      "127.0.3.2 four.printers.test\n");
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:3::2"});
}
