// What reads, queries and walks send, and answers no real agent gives.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "snmp/captured_answers.h"
#include "snmp/reads.h"
#include "snmp/table_walk.h"
#include "snmp/v1_test_util.h"
#include "snmpv3/v3_exchange.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/snmp_agents.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

using Answers = std::vector<Bytes>;
using Copies = std::vector<std::string>;
constexpr std::chrono::milliseconds kMillisecond{1};

const Bytes kFwOid = fromHex("2b0601040181cd1a8676822c8271c25301020100");
const Bytes kMcuOid = fromHex("2b0601040181cd1a8676822c8271c25301020300");
const std::string kStatusRequest = toHex(v1Response(varbind(kDeviceIdOid, 5, {}), kPduGetRequest));
const std::string kSysNameRequest = toHex(v1Response(varbind(kSysNameOid, 5, {}), kPduGetRequest));

Bytes sysNameAnswer(const std::string& name) {
  return v1Response(varbind(kSysNameOid, kBerOctetString, text(name)));
}

RawResponder::Handler answering(Answers answers) {
  return [answers](const Bytes&) { return answers; };
}

// The requests received once `copies` arrived (or the wait gave up): one too many shows.
Copies sent(const RawResponder& responder, std::size_t copies) {
  waitFor([&] { return responder.requestCount() >= copies; });
  Copies out;
  for (const Bytes& request : responder.requests()) out.push_back(toHex(request));
  return out;
}

// Three copies; answers past the 4024 / 256-octet areas and overlong communities are refused.
TEST(V1Wire, NothingOverrunsItsArea) {
  const std::string deviceId = "SN:" + std::string(3900, 'x') + ";" + deviceIdWithToner(42);
  RawResponder status(
      "127.0.5.10",
      answering({v1Response(varbind(kDeviceIdOid, kBerOctetString, text(deviceId)))}));
  errno = EINTR;  // left over from elsewhere, it must not repeat a send that went out
  EXPECT_EQ(level(NetworkReadStatus, "127.0.5.10"), -1);
  EXPECT_EQ(level(NetworkReadStatus, "127.0.5.10", std::string(85, 'c')), -1);
  EXPECT_EQ(sent(status, 3), Copies(3, kStatusRequest));  // only the first read's
  RawResponder cut("127.0.5.11", answering({sysNameAnswer(std::string(240, 'n'))}));
  EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, "127.0.5.11"), std::nullopt);
  RawResponder responder("127.0.5.9", answering({sysNameAnswer(std::string(200, 'n'))}));
  std::string out(32, 'Z');
  ASSERT_EQ(CNetIO().TavrenNetworkGetPrinterName("127.0.5.9", 0, out.data(), 16), 0);
  EXPECT_EQ(out, std::string(15, 'n') + '\0' + std::string(16, 'Z'));
}

// Names send nothing: only the numeric queries' copies and a last read's arrive, in order.
TEST(V1Wire, HostNamesFailAndTheIpv6PathsSendNothing) {
  RawResponder any6("::", answering({}));
  for (const char* name : {"printer4", "printer6"}) {
    EXPECT_EQ(level(NetworkReadStatus, name), -1) << name;
    EXPECT_EQ(level(NetworkReadStatusV6, name), -1) << name;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, name), std::nullopt) << name;
  }
  for (const char* address : {"fd00:5::9", "127.0.5.9", "nowhere"})
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, address), std::nullopt) << address;
  errno = EINTR;
  EXPECT_EQ(level(NetworkReadStatusV6, "fd00:5::9"), -1);
  Copies expected(9, kSysNameRequest), got;
  expected.insert(expected.end(), 3, kStatusRequest);
  waitFor([&] { return std::ranges::count(got = sent(any6, 0), kStatusRequest) >= 3; });
  EXPECT_EQ(got, expected);
}

TEST(NullAddress, EveryReadAndQueryFails) {
  PRINTER_STATUS status{};
  for (StatusRead read :
       {NetworkReadStatus, NetworkReadStatusV6, NetworkReadStatusSNMPv3, NetworkReadStatusV6SNMPv3})
    EXPECT_FALSE(read(kDefaultCommunity, nullptr, &status));
  CNetIO net;
  char name[128] = {}, fw[128] = {}, mcu[128] = {}, community[] = "c", oid[] = "1.3.6.1.2.1.1.5.0";
  EXPECT_FALSE(net.NetSnmpGetV4SNMPv3(nullptr, name, fw, mcu, 0));
  EXPECT_FALSE(net.NetSnmpGetV6SNMPv3(nullptr, name, fw, mcu, 0));
  EXPECT_EQ(net.TavrenNetworkGetNameAndFwAndMCUVersion(nullptr, name, fw, mcu, 0), -1);
  EXPECT_FALSE(net.NetSnmpGetV4(nullptr, community, oid, name, 128));
  EXPECT_FALSE(net.NetSnmpGetV6(nullptr, community, oid, name, 128));
  EXPECT_EQ(net.TavrenNetworkGetPrinterName(nullptr, 0, name, 128), -1);
}

const Bytes kEngineA = fromHex("800002a204aaaa"), kEngineB = fromHex("800002a204bbbb");
const std::vector<VarBind> kDeviceIdValue = {{kDeviceIdOid, 0x04, text(deviceIdWithToner(66))}};
const std::vector<VarBind> kAValues = {
    {kSysNameOid, 4, text("A-name")}, {kFwOid, 4, text("A-fw")}, {kMcuOid, 4, text("A-mcu")}};

ScriptedAgent answeringAgent(const Bytes& engine, std::vector<VarBind> values) {
  return {engine, [=](const Bytes&) { return Answers{securedAnswer(engine, values)}; }};
}

// Agents asked in turn (last delivery wins), a foreign one, errors, an unbuildable request.
TEST(ScriptedV3Agents, WhichAgentsAndAnswersAreRead) {
  const std::vector<VarBind> bValues = {
      {kSysNameOid, 0x80, {}}, {kFwOid, 4, text("B-fw")}, {kMcuOid, 0x80, {}}};
  RawResponder two("127.0.5.31", scriptedAgents({answeringAgent(kEngineA, kAValues),
                                                 answeringAgent(kEngineB, bValues)}));
  EXPECT_EQ(v3Values("127.0.5.31"), (Values{0, "A-name", "B-fw", "A-mcu"}));
  EXPECT_EQ(two.requestCount(), 3u);  // one discovery, two real requests
  RawResponder foreign("127.0.5.32",
                       scriptedAgents({answeringAgent(fromHex("800002a304cc"), kDeviceIdValue)}));
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.32"), -1);
  EXPECT_EQ(v3Values("127.0.5.32").result, -1);
  EXPECT_EQ(foreign.requestCount(), 2u);  // the two discoveries
  AgentAnswer error = securedAgentAnswer(kEngineA, kDeviceIdValue);
  error.errorStatus = 2;
  RawResponder erring("127.0.5.33", scriptedAgents({{kEngineA, answering({agentAnswer(error)})}}));
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.33"), -1);
  RawResponder tiny("127.0.5.34", answering({{kBerSequence}}));
  EXPECT_EQ(v3Values("127.0.5.34").result, -1);
  const auto scripted = scriptedAgents({answeringAgent(kEngineA, kDeviceIdValue)});
  RawResponder unbuildable("127.0.5.35",
                           [&](const Bytes& r) { return r.empty() ? Answers{} : scripted(r); });
  const char* badOid[] = {"1.3.x"};
  V3Exchange x = v3ExchangeV4("127.0.5.35", V3Trace::kSilent);
  std::tie(x.oidCount, x.oids, x.onResponse) = std::tuple(1, badOid, [] { return true; });
  EXPECT_FALSE(runV3Exchange(x));
  EXPECT_EQ(unbuildable.requestCount(), 1u);  // the discovery only
}

TEST(ScriptedV3Agents, AnAnswerStreamThatNeverStopsEndsTheRead) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{AF_INET, htons(kSnmpPort), {htonl(0x7F000521)}, {}};  // 127.0.5.33
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    std::array<unsigned char, 2048> datagram{};
    socklen_t length = sizeof at;
    auto* peer = reinterpret_cast<sockaddr*>(&at);
    if (recvfrom(fd, datagram.data(), datagram.size(), 0, peer, &length) <= 0) return;
    for (datagram = {kBerSequence, 0}; !stop; std::this_thread::sleep_for(kMillisecond))
      sendto(fd, datagram.data(), 2, 0, peer, length);
  });
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.33"), -1);
  stop = true;
  shutdown(fd, SHUT_RDWR);  // wakes a flood still waiting for the first request
  flood.join();
  close(fd);
}

// A msgID and request-id per message built, a salt per real request (IPv6 text: the IPv6 read).
TEST(ScriptedV3Agents, CountersAdvancePerRequestActuallyBuilt) {
  const std::tuple<StatusRead, const char*, bool> rows[] = {
      {NetworkReadStatusSNMPv3, "127.0.5.31", true},
      {NetworkReadStatusSNMPv3, "127.0.5.20", false},
      {NetworkReadStatusSNMPv3, "fd00:5::9", true},
      {NetworkReadStatusV6SNMPv3, "fd00:5::9", false}};
  for (auto [read, address, agent] : rows) {
    RawResponder responder(agent ? address : "127.0.5.99",
                           scriptedAgents({answeringAgent(kEngineA, kDeviceIdValue)}));
    const std::uint16_t msgId = SNMPv3MsgID, requestId = SNMPv3RequestID;
    const std::uint32_t salt = salt_low, ids = agent ? 2 : 1;
    EXPECT_EQ(level(read, address), agent ? 66 : -1) << address;
    EXPECT_EQ(std::uint16_t(SNMPv3MsgID - msgId), ids) << address;
    EXPECT_EQ(std::uint16_t(SNMPv3RequestID - requestId), ids) << address;
    EXPECT_EQ(salt_low - salt, ids - 1) << address;
  }
}

// No status record: the read fails. Only empty values, or none: the query fails, outputs untouched.
TEST(ScriptedV3Agents, NoRecordOrNoValuesGiveNothing) {
  RawResponder agent("127.0.5.31", scriptedAgents({answeringAgent(kEngineA, kDeviceIdValue)}));
  EXPECT_FALSE(NetworkReadStatusSNMPv3(kDefaultCommunity, "127.0.5.31", nullptr));
  EXPECT_FALSE(NetworkReadStatusV6SNMPv3(kDefaultCommunity, "fd00:5::9", nullptr));
  ASSERT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.31"), 66);  // then snmpd's noSuchObject
  RawResponder gone("127.0.5.33",
                    scriptedAgents({answeringAgent(kEngineA, {{kDeviceIdOid, 0x81}})}));
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.33"), -1);
  const std::vector<VarBind> empty = {{kSysNameOid, 4, {}}, {kFwOid, 4, {}}, {kMcuOid, 4, {}}};
  for (const auto& nothing : {empty, std::vector<VarBind>{}}) {
    {  // fills the agent value table first
      RawResponder filled("127.0.5.32", scriptedAgents({answeringAgent(kEngineA, kAValues)}));
      ASSERT_EQ(v3Values("127.0.5.32"), (Values{0, "A-name", "A-fw", "A-mcu"}));
    }
    RawResponder none("127.0.5.32", scriptedAgents({answeringAgent(kEngineA, nothing)}));
    EXPECT_EQ(v3Values("127.0.5.32"), (Values{-1, "untouched", "untouched", "untouched"}))
        << nothing.size() << " values";
  }
}

// Past the subtree (either family), tooBig at one repetition, an answer from another address.
TEST(Walk, EndsOnWhatTheAgentAnswers) {
  const Oid root = *oidFromText("1.3.6.1.2.1.43.11.1.1");
  const std::tuple<const char*, const char*, unsigned char, WalkEnd> rows[] = {
      {"127.0.5.50", "", 0, WalkEnd::kComplete},
      {"fd00:5::9", "", 0, WalkEnd::kComplete},
      {"127.0.5.50", "", 1, WalkEnd::kErrorStatus},
      {"127.0.5.50", "127.0.5.51", 0, WalkEnd::kNoAnswer}};
  for (const auto& [address, replyFrom, errorStatus, end] : rows) {
    const RawResponder::Handler agent = [status = errorStatus](Bytes answer) {
      std::tie(answer[13], answer[20], answer[38]) = std::tuple(kPduGetResponse, status, 2);
      return Answers{answer};  // 1.3.6.1.2.1.43.11.1.2, past the subtree
    };
    const RawResponder responder(address, agent, replyFrom);
    UdpPeer peer;
    ASSERT_TRUE(peer.open(address));
    CommunityRequester requester(peer, SnmpVersion::kV2c, "public",
                                 {.wait = 300 * kMillisecond, .attempts = 2});
    SubtreeWalk walk(root, 10);
    runWalk(requester, walk, WalkClock::now() + std::chrono::seconds(3));
    EXPECT_EQ(walk.end(), end) << address << walk.message();
  }
  EXPECT_FALSE(UdpPeer().open("printer4"));
}

// Every socket a read opens is closed, answered or not (an empty datagram ends SNMPv3 waits).
TEST(Descriptors, ManyReadsKeepTheCount) {
  RawResponder v1("127.0.5.40", answering({capturedAnswer("device_id")}));
  const auto scripted = scriptedAgents({answeringAgent(kEngineA, kDeviceIdValue)});
  RawResponder v3("127.0.5.41", [scripted](const Bytes& r) {
    Answers out = scripted(r);
    out.push_back({});
    return out;
  });
  const auto reads = [](StatusRead read, const char* address, int count, int succeeded = 0) {
    while (count-- > 0) succeeded += level(read, address) >= 0;
    return succeeded;
  };
  reads(NetworkReadStatus, "127.0.5.40", 1);  // the resolver's first use
  const auto before = std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd"));
  EXPECT_GE(reads(NetworkReadStatus, "127.0.5.40", 1000), 990);     // 50 ms each, under load
  EXPECT_EQ(reads(NetworkReadStatus, "127.0.5.42", 20), 0);         // nobody there
  EXPECT_GE(reads(NetworkReadStatusSNMPv3, "127.0.5.41", 20), 18);  // 1 s waits, under load
  EXPECT_EQ(std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd")), before);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost\n127.0.5.9 printer4\nfd00:5::9 printer6\n");
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:5::9"});
}
