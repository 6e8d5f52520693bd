// SNMP against its peers: v1 and SNMPv3 status reads and value queries
// against real snmpd and pysnmp agents over IPv4 and IPv6; raw responders
// and scripted SNMPv3 agents for what is sent and for answers no real agent
// gives; the SNMPv3 builder's requests as pysnmp's own USM code reads them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "snmp/captured_answers.h"
#include "snmp/v1_test_util.h"
#include "snmpv3/credentials.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
const Bytes kSysNameOid = fromHex("2b06010201010500");
const Bytes kFwOid = fromHex("2b0601040181cd1a8676822c8271c25301020100");
const Bytes kMcuOid = fromHex("2b0601040181cd1a8676822c8271c25301020300");
// The v1 status read's and printer-name query's requests (community
// "mirtal", request-id 0).
const std::string kStatusRequest =
    "303102010004066d697274616ca0240201000201000201003019301706132b0601040181cd1a8676822c8271c2"
    "530101000500";
const std::string kSysNameRequest =
    "302602010004066d697274616ca019020100020100020100300e300c06082b060102010105000500";

using StatusRead = bool (*)(const char*, const char*, PRINTER_STATUS*);
using Query = int (CNetIO::*)(const char*, unsigned char, char*, int);

// The level a status read reports, or -1 when it fails.
int level(StatusRead read, const std::string& address,
          const std::string& community = kDefaultCommunity) {
  PRINTER_STATUS status{};
  return read(community.c_str(), address.c_str(), &status) ? status.tonerLevel & 0x7F : -1;
}

Bytes sysNameAnswer(const std::string& name) {
  return v1Response(varbind(kSysNameOid, kBerOctetString, text(name)));
}

std::optional<std::string> v1Value(Query query, const std::string& address) {
  CNetIO net;
  std::array<char, 256> out{};
  if ((net.*query)(address.c_str(), 0, out.data(), static_cast<int>(out.size())) != 0) return {};
  return std::string(out.data());
}

struct Values {
  int result;
  std::string name, fw, mcu;
  bool operator==(const Values&) const = default;
};

// The SNMPv3 query with outputs that start as "untouched".
Values v3Values(const std::string& address) {
  std::array<char, 128> name{"untouched"}, fw{"untouched"}, mcu{"untouched"};
  CNetIO net;
  const int result = net.TavrenNetworkGetNameAndFwAndMCUVersion(address.c_str(), name.data(),
                                                                fw.data(), mcu.data(), 0);
  return {result, name.data(), fw.data(), mcu.data()};
}

// An agent at 127.0.5.`host` and fd00:5::`host`; a bare one lacks the
// device ID and the firmware objects.
AgentConfig printer(int host, int toner, const std::string& tag, bool bare = false) {
  return {.address4 = "127.0.5." + std::to_string(host),
          .address6 = "fd00:5::" + std::to_string(host),
          .toner = toner,
          .serveDeviceId = !bare,
          .sysName = tag + "-printer",
          .fwVersion = "FW-" + tag,
          .mcuVersion = "MCU-" + tag,
          .serveVersions = !bare};
}

// SNMPv3 only, for a user with other pass phrases than ours.
AgentConfig otherKeys(int host) {
  return {.address4 = "127.0.5." + std::to_string(host),
          .v1 = false,
          .authPassPhrase = "Other-Auth.0123456789",
          .privPassPhrase = "Other-Priv.0123456789"};
}

const AgentConfig kSnmpd = printer(2, 37, "snmpd"), kPysnmp = printer(3, 64, "pysnmp");
const AgentConfig kBareSnmpd = printer(4, 0, "bare", true),
                  kBarePysnmp = printer(5, 0, "bare", true);
const AgentConfig kOtherSnmpd = otherKeys(6), kOtherPysnmp = otherKeys(7);

class RealAgents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_agents = std::make_unique<Agents>(); }
  static void TearDownTestSuite() { s_agents.reset(); }
  struct Agents {
    SnmpdAgent snmpd{kSnmpd}, bareSnmpd{kBareSnmpd}, otherSnmpd{kOtherSnmpd};
    PysnmpAgent pysnmp{kPysnmp}, barePysnmp{kBarePysnmp}, otherPysnmp{kOtherPysnmp};
  };
  static inline std::unique_ptr<Agents> s_agents;
};

// The IPv4 entries take both families, the IPv6 ones IPv6 addresses only.
TEST_F(RealAgents, StatusAndValuesReadOverV1AndV3FromSnmpdAndPysnmpOverBothFamilies) {
  for (const AgentConfig& c : {kSnmpd, kPysnmp}) {
    for (const std::string& address : {c.address4, c.address6}) {
      const int v6Level = address == c.address6 ? c.toner : -1;
      EXPECT_EQ(level(NetworkReadStatus, address), c.toner) << address;
      EXPECT_EQ(level(NetworkReadStatusV6, address), v6Level) << address;
      EXPECT_EQ(level(NetworkReadStatusSNMPv3, address), c.toner) << address;
      EXPECT_EQ(level(NetworkReadStatusV6SNMPv3, address), v6Level) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, address), c.sysName) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, address), c.fwVersion) << address;
      EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, address), c.mcuVersion) << address;
      EXPECT_EQ(v3Values(address), (Values{0, c.sysName, c.fwVersion, c.mcuVersion})) << address;
    }
  }
}

// noSuchName (v1) or noSuchObject (v3) fails the status reads even right
// after a good read left its device ID in the buffer; the v1 queries read an
// empty value, the SNMPv3 query writes only the values that arrived. Agents
// with other pass phrases answer with Reports our keys do not authenticate.
TEST_F(RealAgents, MissingObjectsAndForeignKeysGiveNothing) {
  for (const AgentConfig& c : {kBareSnmpd, kBarePysnmp}) {
    for (StatusRead read : {NetworkReadStatus, NetworkReadStatusSNMPv3}) {
      ASSERT_EQ(level(read, kSnmpd.address4), kSnmpd.toner);
      EXPECT_EQ(level(read, c.address4), -1) << c.address4;
    }
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, c.address4), "") << c.address4;
    EXPECT_EQ(v3Values(c.address4), (Values{0, c.sysName, "untouched", "untouched"}));
  }
  for (const AgentConfig& c : {kOtherSnmpd, kOtherPysnmp}) {
    EXPECT_EQ(level(NetworkReadStatusSNMPv3, c.address4), -1) << c.address4;
    EXPECT_EQ(v3Values(c.address4), (Values{-1, "untouched", "untouched", "untouched"}));
  }
}

// Each encrypted request takes a fresh salt, so that no salt is used twice
// under one key; a read that reaches nobody encrypts nothing.
TEST_F(RealAgents, EachEncryptedRequestTakesAFreshSalt) {
  const std::uint32_t salt = salt_low;
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, kSnmpd.address4), kSnmpd.toner);
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.20"), -1);
  EXPECT_EQ(salt_low, salt + 1);
}

RawResponder::Handler answering(std::vector<Bytes> answers) {
  return [answers](const Bytes&) { return answers; };
}

// The requests `responder` received once `copies` of them arrived (or the
// wait gave up), so that a test sees one too many.
std::vector<std::string> sent(const RawResponder& responder, std::size_t copies) {
  waitFor([&] { return responder.requestCount() >= copies; });
  std::vector<std::string> out;
  for (const Bytes& request : responder.requests()) out.push_back(toHex(request));
  return out;
}

// Three copies go out per attempt and the first answer is taken; the IPv6
// query makes a second attempt.
TEST(V1Wire, ThreeCopiesPerAttempt) {
  using Copies = std::vector<std::string>;
  {
    RawResponder responder("127.0.5.9", answering({fromHex(kDeviceIdAnswer)}));
    EXPECT_EQ(level(NetworkReadStatus, "127.0.5.9"), 42);
    EXPECT_EQ(sent(responder, 3), Copies(3, kStatusRequest));
  }
  {
    RawResponder responder("fd00:5::9", answering({}));
    EXPECT_EQ(level(NetworkReadStatusV6, "fd00:5::9"), -1);
    EXPECT_EQ(sent(responder, 3), Copies(3, kStatusRequest));
  }
  for (auto [address, copies] : {std::pair{"127.0.5.9", 3u}, {"fd00:5::9", 6u}}) {
    RawResponder responder(address, answering({}));
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, address), std::nullopt);
    EXPECT_EQ(sent(responder, copies), Copies(copies, kSysNameRequest)) << address;
  }
}

// The receive areas hold 4024 octets (status) and 256 (queries): a longer
// answer arrives cut and is rejected. A community too long for the request
// sends nothing; a value is cut to the caller's size.
TEST(V1Wire, NothingOverrunsItsArea) {
  const std::string deviceId = "SN:" + std::string(3900, 'x') + ";" + deviceIdWithToner(42);
  const Bytes longStatus = v1Response(varbind(kDeviceIdOid, kBerOctetString, text(deviceId)));
  ASSERT_GT(longStatus.size(), 4024u);
  {
    RawResponder responder("127.0.5.9", answering({longStatus}));
    EXPECT_EQ(level(NetworkReadStatus, "127.0.5.9"), -1);
    EXPECT_EQ(level(NetworkReadStatus, "127.0.5.9", std::string(85, 'c')), -1);
    EXPECT_EQ(sent(responder, 3).size(), 3u);  // only the first read's copies
  }
  {
    RawResponder responder("127.0.5.9", answering({sysNameAnswer(std::string(240, 'n'))}));
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, "127.0.5.9"), std::nullopt);
  }
  RawResponder responder("127.0.5.9", answering({sysNameAnswer(std::string(200, 'n'))}));
  CNetIO net;
  std::array<char, 32> out;
  out.fill('Z');
  ASSERT_EQ(net.TavrenNetworkGetPrinterName("127.0.5.9", 0, out.data(), 16), 0);
  EXPECT_EQ(std::string(out.data()), std::string(15, 'n'));
  EXPECT_EQ(std::string(out.begin() + 16, out.end()), std::string(16, 'Z'));
}

// A host name is not a numeric address: no path sends anything; only the
// numeric query's three copies arrive.
TEST(V1Wire, HostNamesFailAndTheIpv6PathsSendNothing) {
  RawResponder any6("::", answering({sysNameAnswer("numeric")}));
  for (const char* name : {"printer4", "printer6"}) {
    EXPECT_EQ(level(NetworkReadStatus, name), -1) << name;
    EXPECT_EQ(level(NetworkReadStatusV6, name), -1) << name;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, name), std::nullopt) << name;
  }
  EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, "fd00:5::9"), "numeric");
  EXPECT_EQ(sent(any6, 3).size(), 3u);
}

// A null address names no destination: every status read and query fails,
// over both families and both versions, where the SNMPv3 paths that take
// the address without resolving it used to hand it to inet_addr/inet_pton.
TEST(NullAddress, EveryReadAndQueryFails) {
  for (StatusRead read : {NetworkReadStatus, NetworkReadStatusV6, NetworkReadStatusSNMPv3,
                          NetworkReadStatusV6SNMPv3}) {
    PRINTER_STATUS status{};
    EXPECT_FALSE(read(kDefaultCommunity, nullptr, &status));
  }
  CNetIO net;
  std::array<char, 128> name{}, fw{}, mcu{};
  EXPECT_FALSE(net.NetSnmpGetV4SNMPv3(nullptr, name.data(), fw.data(), mcu.data(), 0));
  EXPECT_FALSE(net.NetSnmpGetV6SNMPv3(nullptr, name.data(), fw.data(), mcu.data(), 0));
  EXPECT_EQ(
      net.TavrenNetworkGetNameAndFwAndMCUVersion(nullptr, name.data(), fw.data(), mcu.data(), 0),
      -1);
  std::array<char, sizeof kDefaultCommunity> community{};
  std::ranges::copy(kDefaultCommunity, community.begin());
  std::array<char, sizeof kOidSysName> oid{};
  std::ranges::copy(kOidSysName, oid.begin());
  EXPECT_FALSE(net.NetSnmpGetV4(nullptr, community.data(), oid.data(), name.data(), 128));
  EXPECT_FALSE(net.NetSnmpGetV6(nullptr, community.data(), oid.data(), name.data(), 128));
  EXPECT_EQ(net.TavrenNetworkGetPrinterName(nullptr, 0, name.data(), 128), -1);
}

const Bytes kEngineA = fromHex("800002a204aaaa");
const Bytes kEngineB = fromHex("800002a204bbbb");

// Both agents behind one address are asked in turn; each delivery
// overwrites what it carries, so the last one wins value by value.
TEST(ScriptedV3Agents, TwoAgentsAtOneAddressAreBothAsked) {
  const auto answer = [](const Bytes& engine, std::vector<VarBind> values) {
    return [=](const Bytes&) { return std::vector<Bytes>{securedAnswer(engine, values)}; };
  };
  RawResponder agent(
      "127.0.5.31",
      scriptedAgents({{kEngineA, answer(kEngineA, {{kSysNameOid, 0x04, text("A-name")},
                                                   {kFwOid, 0x04, text("A-fw")},
                                                   {kMcuOid, 0x04, text("A-mcu")}})},
                      {kEngineB, answer(kEngineB, {{kSysNameOid, 0x80, {}},
                                                   {kFwOid, 0x04, text("B-fw")},
                                                   {kMcuOid, 0x80, {}}})}}));
  EXPECT_EQ(v3Values("127.0.5.31"), (Values{0, "A-name", "B-fw", "A-mcu"}));
  EXPECT_EQ(agent.requestCount(), 3u);  // one discovery, two real requests
}

// An agent of another enterprise gets no real request; an answer with an
// error status is not read, though it carries a decodable device ID.
TEST(ScriptedV3Agents, AnswersThatMustNotBeReadGiveNothing) {
  const Bytes other = fromHex("800002a304cccc");
  const VarBind deviceId{kDeviceIdOid, 0x04, text(deviceIdWithToner(66))};
  const auto scripted = [](const Bytes& engine, const Bytes& answer) {
    return RawResponder("127.0.5.32", scriptedAgents({{engine, answering({answer})}}));
  };
  {
    auto agent = scripted(other, securedAnswer(other, {deviceId}));
    EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.32"), -1);
    EXPECT_EQ(v3Values("127.0.5.32").result, -1);
    EXPECT_EQ(agent.requestCount(), 2u);  // the two discoveries
  }
  AgentAnswer error = securedAgentAnswer(kEngineA, {deviceId});
  error.errorStatus = 2;
  auto agent = scripted(kEngineA, agentAnswer(error));
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.32"), -1);
}

// A peer answering the engine discovery with a datagram every millisecond,
// without end: the read still ends, after at most 512 datagrams.
TEST(ScriptedV3Agents, AnAnswerStreamThatNeverStopsEndsTheRead) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{
      .sin_family = AF_INET, .sin_port = htons(kSnmpPort), .sin_addr = {}, .sin_zero = {}};
  inet_pton(AF_INET, "127.0.5.33", &address.sin_addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    std::array<unsigned char, 2048> datagram{};
    socklen_t length = sizeof address;
    auto* reader = reinterpret_cast<sockaddr*>(&address);
    if (recvfrom(fd, datagram.data(), datagram.size(), 0, reader, &length) <= 0) return;
    datagram = {kBerSequence, 0x00};
    while (!stop) {
      sendto(fd, datagram.data(), 2, 0, reader, length);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(level(NetworkReadStatusSNMPv3, "127.0.5.33"), -1);
  stop = true;
  flood.join();
  close(fd);
}

// pysnmp's USM code verifies and decrypts (the real agents cover the common
// case) requests with a long engine ID, boots and time past one octet, and
// without privacy or authentication; the keys used are handed back, zero
// for a service not asked for.
TEST(V3BuilderAgainstPysnmp, SecuredRequestsVerifyAndDecrypt) {
  const auto c = usmCredentials();
  const char* oids[] = {kOidSysName, kOidFwVersion, kOidMcuVersion};
  struct Case {
    Bytes engine;
    unsigned long boots, time;
    int count;
    const char *auth, *priv, *flags;
  };
  for (const auto& k :
       {Case{cat({fromHex("800002a204"), Bytes(27, 0x41)}), 7, 70000, 3, c.authPassword,
             c.privPassword, "7"},
        Case{fromHex("800002a20401"), 2147483647ul, 100, 3, c.authPassword, nullptr, "5"},
        Case{fromHex("800002a2040102030405"), 1, 200, 1, "", "", "4"}}) {
    std::array<unsigned char, 2048> out{};
    Bytes authKey(16, 0xAA), privKey(16, 0xAA);
    const std::uint16_t requestId = SNMPv3RequestID;
    const int n = CNetIO::BuildSnmpV3RequestPacket(
        k.engine.data(), static_cast<int>(k.engine.size()), k.boots, k.time, k.count, oids, nullptr,
        nullptr, nullptr, c.userName, k.auth, k.priv, authKey.data(), privKey.data(), out.data());
    ASSERT_GT(n, 0);
    const auto r =
        run({USBINK_PYTHON, std::string(USBINK_SOURCE_DIR) + "/tests/harness/v3_check.py",
             toHex(Bytes(out.begin(), out.begin() + n)), "--user", c.userName, "--auth",
             c.authPassword, "--priv", c.privPassword});
    const std::string check = r.out + r.err;
    const auto has = [&](const std::string& line) {
      return check.find(line + "\n") != std::string::npos;
    };
    const bool auth = k.auth[0] != 0, priv = auth && k.priv != nullptr;
    EXPECT_EQ(has("authentic=1"), auth) << check;
    EXPECT_EQ(authKey, auth ? localise(c.authPassword, k.engine) : Bytes(16));
    EXPECT_EQ(privKey, priv ? localise(c.privPassword, k.engine) : Bytes(16));
    for (const std::string& line :
         {std::string("flags=") + k.flags, "engineID=" + toHex(k.engine),
          "contextEngineID=" + toHex(k.engine), "boots=" + std::to_string(k.boots),
          "time=" + std::to_string(k.time), std::string("user=") + c.userName,
          "requestID=" + std::to_string(requestId), std::string("oid=") + kOidSysName}) {
      EXPECT_TRUE(has(line)) << line << "\n" << check;
    }
    EXPECT_EQ(has(std::string("oid=") + kOidMcuVersion), k.count == 3) << check;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost\n127.0.5.9 printer4\nfd00:5::9 printer6\n");
  return usbink::test::runInPrivateNetwork(
      argc, argv,
      {"fd00:5::2", "fd00:5::3", "fd00:5::4", "fd00:5::5", "fd00:5::6", "fd00:5::7", "fd00:5::9"});
}
