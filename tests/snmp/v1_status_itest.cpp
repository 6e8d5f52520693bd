// The SNMP v1 status read against real snmpd and pysnmp agents over IPv4
// and IPv6, and against a raw responder for what it sends and for answers
// no real agent gives.
#include <gtest/gtest.h>

#include <string>

#include "snmp/captured_answers.h"
#include "snmp/v1_itest_main.h"
#include "snmp/v1_test_util.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

// The 51-octet request for the device ID with the community "mirtal".
const Bytes kStatusRequest = fromHex(
    "30310201000406"
    "6d697274616c"
    "a0240201000201000201003019301706132b0601040181cd1a8676822c8271c2530101000500");
const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");

// Hosts the resolver knows by name only: one IPv4, one IPv6 address.
constexpr char kHosts[] =
    "127.0.0.1 localhost\n"
    "127.0.5.9 printer4\n"
    "fd00:5::9 printer6\n";

AgentConfig agentAt(const std::string& address4, const std::string& address6, int toner) {
  AgentConfig c;
  c.address4 = address4;
  c.address6 = address6;
  c.toner = toner;
  return c;
}

struct Read {
  bool ok;
  int toner;
};

Read readV4(const char* address) {
  PRINTER_STATUS status{};
  const bool ok = NetworkReadStatus(kDefaultCommunity, address, &status);
  return {ok, status.tonerLevel};
}

Read readV6(const char* address) {
  PRINTER_STATUS status{};
  const bool ok = NetworkReadStatusV6(kDefaultCommunity, address, &status);
  return {ok, status.tonerLevel};
}

TEST(StatusRead, DecodesTheLevelFromSnmpdAndPysnmpOverBothFamilies) {
  SnmpdAgent snmpd(agentAt("127.0.5.2", "fd00:5::2", 37));
  PysnmpAgent pysnmp(agentAt("127.0.5.3", "fd00:5::3", 64));
  for (auto [address, toner] : {std::pair{"127.0.5.2", 37}, std::pair{"127.0.5.3", 64}}) {
    const Read r = readV4(address);
    EXPECT_TRUE(r.ok) << address;
    EXPECT_EQ(r.toner, toner) << address;
  }
  for (auto [address, toner] : {std::pair{"fd00:5::2", 37}, std::pair{"fd00:5::3", 64}}) {
    const Read v6 = readV6(address);
    EXPECT_TRUE(v6.ok) << address;
    EXPECT_EQ(v6.toner, toner) << address;
    const Read viaV4Entry = readV4(address);
    EXPECT_TRUE(viaV4Entry.ok) << address;
    EXPECT_EQ(viaV4Entry.toner, toner) << address;
  }
}

TEST(StatusRead, WritesTheIpv6LinesOnStandardOutput) {
  SnmpdAgent snmpd(agentAt("", "fd00:5::2", 42));
  const std::size_t answerSize = fromHex(kDeviceIdAnswer).size();
  ::testing::internal::CaptureStdout();
  const Read r = readV6("fd00:5::2");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(out, "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = " +
                     std::to_string(answerSize) + "\nNetworkReadStatus response=\n");
}

TEST(StatusRead, FailsWhenTheAgentLacksTheObject) {
  AgentConfig missing = agentAt("127.0.5.2", "", 42);
  missing.serveDeviceId = false;
  SnmpdAgent snmpd(missing);
  missing.address4 = "127.0.5.3";
  PysnmpAgent pysnmp(missing);
  EXPECT_FALSE(readV4("127.0.5.2").ok);
  EXPECT_FALSE(readV4("127.0.5.3").ok);
}

// The first printer's device ID must not stand in for a second printer that
// answers noSuchName.
TEST(StatusRead, ASecondPrinterWithoutTheObjectFailsAfterAGoodOne) {
  SnmpdAgent good(agentAt("127.0.5.2", "", 42));
  AgentConfig missing = agentAt("127.0.5.3", "", 42);
  missing.serveDeviceId = false;
  PysnmpAgent bad(missing);
  EXPECT_TRUE(readV4("127.0.5.2").ok);
  EXPECT_FALSE(readV4("127.0.5.3").ok);
}

TEST(StatusRead, FailsWhenAFieldFollowsTheStatusBlock) {
  AgentConfig c = agentAt("127.0.5.2", "", 42);
  c.deviceId = deviceIdWithToner(42) + "MDL:Laser;";
  SnmpdAgent snmpd(c);
  EXPECT_FALSE(readV4("127.0.5.2").ok);
}

TEST(StatusRead, FailsWhenNobodyAnswers) {
  EXPECT_FALSE(readV4("127.0.5.7").ok);
  EXPECT_FALSE(readV6("fd00:5::7").ok);
}

TEST(StatusRead, SendsThreeCopiesOfTheRequestAndTakesTheFirstAnswer) {
  RawResponder responder("127.0.5.9",
                         [](const Bytes&) { return std::vector<Bytes>{fromHex(kDeviceIdAnswer)}; });
  const Read r = readV4("127.0.5.9");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.toner, 42);
  ASSERT_EQ(requestsAfter(responder, 3), 3u);
  for (const Bytes& request : responder.requests())
    EXPECT_EQ(toHex(request), toHex(kStatusRequest));
}

TEST(StatusRead, SendsNothingForACommunityOverEightyFourCharacters) {
  RawResponder responder("127.0.5.9", [](const Bytes&) { return std::vector<Bytes>{}; });
  PRINTER_STATUS status{};
  EXPECT_FALSE(NetworkReadStatus(std::string(85, 'c').c_str(), "127.0.5.9", &status));
  EXPECT_FALSE(NetworkReadStatus(std::string(84, 'c').c_str(), "127.0.5.9", &status));
  ASSERT_EQ(requestsAfter(responder, 3), 3u);
  EXPECT_EQ(responder.requests()[0].size(), 129u);
}

// The receive takes 4024 octets; a longer answer arrives cut and is rejected.
TEST(StatusRead, RejectsAnAnswerLongerThanTheReceiveBuffer) {
  const std::string deviceId = "SN:" + std::string(3900, 'x') + ";" + deviceIdWithToner(42);
  const Bytes answer = v1Response(varbind(kDeviceIdOid, kBerOctetString, text(deviceId)));
  ASSERT_GT(answer.size(), 4024u);
  RawResponder responder("127.0.5.9", [&](const Bytes&) { return std::vector<Bytes>{answer}; });
  EXPECT_FALSE(readV4("127.0.5.9").ok);
}

// A name the resolver knows is not a numeric address: the IPv4 path sends to
// the all-ones address (refused with broadcast off), the IPv6 path, where
// inet_pton rejects it, sends nothing at all.
TEST(StatusRead, HostNamesFailAndTheIpv6PathSendsNothing) {
  RawResponder any6("::", [](const Bytes&) { return std::vector<Bytes>{}; });
  EXPECT_FALSE(readV4("printer4").ok);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(readV4("printer6").ok);
  EXPECT_FALSE(readV6("printer6").ok);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  // A numeric address afterwards: its three copies are all that arrive.
  EXPECT_FALSE(readV6("fd00:5::9").ok);
  EXPECT_EQ(requestsAfter(any6, 3), 3u);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runV1Tests(argc, argv, usbink::test::kHosts,
                                  {"fd00:5::2", "fd00:5::3", "fd00:5::9"});
}
