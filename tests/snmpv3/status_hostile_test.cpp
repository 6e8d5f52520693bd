// The SNMPv3 status read against scripted agents: answers a real agent does
// not give (forged, mis-keyed, truncated, of another enterprise, several).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
const Bytes kEngine = fromHex("800002a204cccc");

struct Read {
  bool ok;
  int toner;
};

Read readV3(const std::string& address) {
  PRINTER_STATUS status{};
  const bool ok = NetworkReadStatusSNMPv3("mirtal", address.c_str(), &status);
  return {ok, status.tonerLevel & 0x7F};
}

VarBind deviceId(int toner) {
  return {kDeviceIdOid, 0x04, text(deviceIdWithToner(toner))};
}

// A scripted agent at `address` with engine kEngine answering every real
// request with `answer`.
RawResponder agentAnswering(const std::string& address, Bytes answer) {
  return RawResponder(
      address,
      scriptedAgents({{kEngine, [answer](const Bytes&) { return std::vector<Bytes>{answer}; }}}));
}

TEST(V3StatusHostile, AgentOfAnotherEnterpriseGetsNoRealRequest) {
  const Bytes other = fromHex("800002a304cccc");
  RawResponder agent("127.0.55.3", scriptedAgents({{other, [other](const Bytes&) {
                                                      return std::vector<Bytes>{
                                                          securedAnswer(other, {deviceId(5)})};
                                                    }}}));
  EXPECT_FALSE(readV3("127.0.55.3").ok);
  EXPECT_EQ(agent.requestCount(), 1u);
}

// Every answer here carries a decodable device ID, yet none may be read:
// they are not what the authenticated, encrypted request asked for.
TEST(V3StatusHostile, AnswersThatCannotBeTrustedAreIgnored) {
  const auto answer = [](auto change) {
    AgentAnswer a = securedAgentAnswer(kEngine, {deviceId(66)});
    change(a);
    return agentAnswer(a);
  };
  struct Case {
    const char* what;
    Bytes datagram;
  };
  const std::vector<Case> cases = {
      {"forged plaintext", answer([](AgentAnswer& a) {
         a.authKey.clear();
         a.privKey.clear();
       })},
      {"authenticated, not encrypted", answer([](AgentAnswer& a) { a.privKey.clear(); })},
      {"other keys",
       answer([](AgentAnswer& a) { a.authKey = localise("someone else's phrase", kEngine); })},
      {"error status 2", answer([](AgentAnswer& a) { a.errorStatus = 2; })},
  };
  for (const auto& c : cases) {
    auto agent = agentAnswering("127.0.55.4", c.datagram);
    EXPECT_FALSE(readV3("127.0.55.4").ok) << c.what;
  }
}

// After a good read, an answer that carries no OCTET STRING (a Report
// with a counter, an INTEGER value) must not decode the text left behind.
TEST(V3StatusHostile, AnswerWithoutDeviceIdNeverDecodesTheTextOfAnEarlierOne) {
  const VarBind notInTimeWindows{fromHex("2b060106030f01010200"), 0x41, Bytes{1}};
  AgentAnswer encryptedReport = securedAgentAnswer(kEngine, {notInTimeWindows});
  encryptedReport.pduTag = 0xA8;
  AgentAnswer report = encryptedReport;
  report.privKey.clear();  // the way RFC 3414 sends it: authNoPriv
  const AgentAnswer integer = securedAgentAnswer(kEngine, {{kDeviceIdOid, 0x02, Bytes{42}}});
  for (const auto& stale : {report, encryptedReport, integer}) {
    {
      auto good = agentAnswering("127.0.55.5", securedAnswer(kEngine, {deviceId(12)}));
      ASSERT_TRUE(readV3("127.0.55.5").ok);
    }
    auto agent = agentAnswering("127.0.55.5", agentAnswer(stale));
    EXPECT_FALSE(readV3("127.0.55.5").ok) << toHex(agentAnswer(stale));
  }
}

// A peer that answers the engine discovery with a datagram every
// millisecond and never stops: the read still ends.
TEST(V3StatusHostile, AnAnswerStreamThatNeverStopsEndsTheRead) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in agent{};
  agent.sin_family = AF_INET;
  agent.sin_port = htons(kSnmpPort);
  inet_pton(AF_INET, "127.0.55.6", &agent.sin_addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&agent), sizeof agent), 0);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    unsigned char request[2048];
    sockaddr_in reader{};
    socklen_t length = sizeof reader;
    if (recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&reader), &length) <= 0) {
      return;
    }
    const unsigned char junk[] = {0x30, 0x00};
    while (!stop) {
      sendto(fd, junk, sizeof junk, 0, reinterpret_cast<sockaddr*>(&reader), length);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_FALSE(readV3("127.0.55.6").ok);
  stop = true;
  flood.join();
  close(fd);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {});
}
