// SNMP v1 and SNMPv3 searches from a client with two interfaces, usbink-query discover, and reads
// from the segment's snmpd and pysnmp agents.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>
#undef ifr_name  // net/if.h's macro would rename the interface table's member

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "discovery/printers.h"
#include "snmp/reads.h"
#include "support/process.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

constexpr unsigned kCopies = 3;  // of each IPv4 request, answered from each client interface
std::unique_ptr<DiscoveryPrinters> g_printers;
struct Searcher : CNetIO {
  Searcher() { InitTargetOID(kModelA, kModelB); }
};
using Counts = std::map<std::string, unsigned>;
bool record(char* address, char* info, void* user) {
  EXPECT_EQ(info, nullptr);
  return ++(*static_cast<Counts*>(user))[address] > 0;
}

// The interface a discovery remembers, "INDEX %NAME": client interface `i`, or none (i < 0).
std::string interfaceText(int i) {
  const char* name = i < 0 ? "en0" : kClientInterfaces[i];
  return std::to_string(i < 0 ? 0 : if_nametoindex(name)) + " %" + name;
}
constexpr auto agent = &CNetIO::FindSnmpAgent, agentV6_ = &CNetIO::FindSnmpAgentV6_,
               scan = &CNetIO::FindSnmpAgentV6;
const auto remember = [](int i) { sscanf(interfaceText(i).data(), "%d%s", &scope_id, g_ifsName); };
const auto remembered = [] { return std::to_string(scope_id) + " " + g_ifsName; };

// Look-ups match names exactly; an unknown index finds no node.
TEST(InterfaceTable, LooksUpNamesExactly) {
  ifs_info* list = get_ifs_info(0, 0);
  char longest[] = "discovery-cl-15", prefix[] = "discovery-cl-1", longer[] = "discovery-cl-150";
  for (auto [l, name] : {std::pair{list, prefix}, {list, longer}, {nullptr, longest}})
    EXPECT_EQ(find_ifscope_id(l, name), 4) << name;
  EXPECT_EQ(find_ifname(list, 999), nullptr);
  free_ifs_info(list);
}

// No other model, host name or unallowed broadcast; the interface is remembered.
TEST(V1Discovery, EachSearchReportsTheMatchingAgentsAndRemembersAnInterface) {
  PRINTER_STATUS status{};
  scope_id = 1;  // loopback's index in every network namespace
  EXPECT_FALSE(NetworkReadStatusV6(kDefaultCommunity, "fe80::11", &status));
  EXPECT_FALSE(NetworkReadStatusV6SNMPv3(kDefaultCommunity, "fe80::11", &status));
  const Counts v4 = {{"192.0.2.11", 2 * kCopies}, {"192.0.2.12", 2 * kCopies}};
  const Counts linkLocal = {{"fe80::11", kCopies}, {"fe80::12", kCopies}};
  const Counts v6 = {{"2001:db8::11", 2}, {"2001:db8::12", 2}, {"fe80::11", 2}, {"fe80::12", 2}};
  int row = 0;  // before, after: the client interface remembered, -1 none, 2 either
  for (const auto& [search, address, broadcast, callback, before, after, expected] :
       {std::tuple{agent, "255.255.255.255", true, true, -1, -1, v4},
        {agent, "255.255.255.255", false, true, -1, -1, {}},
        {agent, "192.0.2.11", false, true, -1, -1, {{"192.0.2.11", 2 * kCopies}}},
        {agent, "printer11", true, true, -1, -1, {}},
        {agent, "ff02::1", true, true, -1, 0, v6},
        {agentV6_, "fe80::11", false, false, -1, 0, {}},
        {agentV6_, "ff02::1", true, false, 1, 1, {}},
        {scan, "ff02::1", true, true, -1, 2, linkLocal},
        {scan, "ff02::1", true, true, 1, 1, linkLocal}}) {
    SCOPED_TRACE(row++);
    remember(before);
    Searcher io;
    Counts counts;
    EXPECT_TRUE((io.*search)(nullptr, address, kOidSysObjectId, callback ? record : nullptr,
                             &counts, broadcast));
    const std::string now = remembered();
    EXPECT_EQ(counts, expected);
    EXPECT_TRUE(now == interfaceText(after % 2) || (after == 2 && now == interfaceText(1))) << now;
  }
  for (auto read : {NetworkReadStatusV6, NetworkReadStatusV6SNMPv3, NetworkReadStatusSNMPv3}) {
    status = {};
    ASSERT_TRUE(read(kDefaultCommunity, "fe80::11", &status));
    EXPECT_EQ(status.tonerLevel & 127, kToner);
  }
}

// The default community; a bad identifier, a scoped IPv6 text or no address sends nothing.
TEST(V1Discovery, RequestCarriesTheDefaultCommunityOrIsNotSent) {
  const RawResponder local("::", [](const Bytes&) { return std::vector<Bytes>{}; });
  const std::string scoped = "fe80::16%" + std::string(kClientInterfaces[0]);
  const std::string request =  // v1, community "mirtal", GET sysObjectID.0
      "302602010004066d697274616ca019020100020100020100300e300c06082b060102010102000500";
  int row = 0;  // sent: to the raw responder, from each local IPv4 address
  for (auto [community, oid, address, result, sent] :
       {std::tuple{"", kOidSysObjectId, "192.0.2.16", true, 3 * kCopies},
        {nullptr, kOidSysObjectId, "192.0.2.16", true, 3 * kCopies},
        {nullptr, "1.3.6.x", "192.0.2.16", false, 0},
        {nullptr, kOidSysObjectId, scoped.c_str(), true, 0},
        {nullptr, kOidSysObjectId, nullptr, true, 0}}) {
    SCOPED_TRACE(row++);
    const std::size_t before = g_printers->hostile().requestCount();
    Searcher io;
    Counts counts;
    for (auto search : {agentV6_, scan, address ? agent : scan}) {  // agent needs an address
      EXPECT_EQ((io.*search)(community, address, oid, record, &counts, true), result);
    }
    EXPECT_TRUE(result || !io.FindSnmpAgent3Times(community, oid, record, &counts));
    EXPECT_TRUE(counts.empty());
    const auto requests = g_printers->hostile().requests();
    EXPECT_EQ(requests.size() - before, sent);
    for (std::size_t i = before; i < requests.size(); ++i) EXPECT_EQ(toHex(requests[i]), request);
  }
  EXPECT_EQ(local.requestCount(), 0u);
}

// The first call's probe of all-nodes consumes the answer ending it; the second sends three copies.
TEST(V1Discovery, ThreeTimesProbesOnceThenSendsAtOnce) {
  remember(-1);
  Searcher io;
  Counts first, second, expected = {{"192.0.2.11", kCopies}, {"192.0.2.12", kCopies}};
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &first));
  const unsigned probed11 = first["fe80::11"], probed12 = first["fe80::12"];  // none or one each
  EXPECT_TRUE(probed11 <= 1 && probed12 <= 1 && probed11 + probed12 >= 1);
  first.erase("fe80::11"), first.erase("fe80::12");
  EXPECT_EQ(first, expected);
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &second));
  expected.insert({{"fe80::11", kCopies}, {"fe80::12", kCopies}});
  EXPECT_EQ(second, expected);
}

// A peer answering each requester every millisecond, 2000 times, outlasts any silence wait.
TEST(V1Discovery, AnswersThatNeverStopEndTheirLoopAfter512) {
  int fd = -1;
  g_printers->addHost(17).enter([&] { fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0); });
  sockaddr_in any{AF_INET, htons(kSnmpPort), {}, {}};  // then each requester's address
  const auto address = [](sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); };
  ASSERT_EQ(bind(fd, address(any), sizeof any), 0);
  std::jthread flooder([&](std::stop_token stop) {
    const Bytes answer = sysObjectIdAnswer(encodedOid(kModelA));
    std::vector<std::pair<sockaddr_in, int>> requesters;  // address, answers sent
    for (socklen_t size = sizeof any; !stop.stop_requested(); usleep(1000), size = sizeof any) {
      if (recvfrom(fd, nullptr, 0, 0, address(any), &size) >= 0) requesters.emplace_back(any, 0);
      for (auto& [to, sent] : requesters) {
        if (sent++ < 2000) sendto(fd, answer.data(), answer.size(), 0, address(to), sizeof to);
      }
    }
    close(fd);
  });
  Searcher io;
  Counts counts;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, "192.0.2.17", kOidSysObjectId, record, &counts, false));
  EXPECT_EQ(counts, (Counts{{"192.0.2.17", 2 * 512}}));
}

// Target models once per client interface, not other engines nor genErr; one engine discovery.
TEST(V3Discovery, EachSearchReportsOnlyPrinterAgentsOfTheTargetModels) {
  for (const auto& [address, broadcast, expected, gets, discoveries] :
       {std::tuple{"255.255.255.255", true,
                   Counts{{"192.0.2.11", 2}, {"192.0.2.12", 2}, {"192.0.2.14", 2}}, 2u, 2u},
        {"192.0.2.16", false, {}, 2, 3},
        {"255.255.255.255", false, {}, 0, 0},
        {"printer11", true, {}, 0, 0},
        {"fe80::14", false, {{"2001:db8::14", 2}, {"fe80::14", 2}}, 0, 0}}) {
    SCOPED_TRACE(address);
    remember(-1);
    const std::size_t from = g_printers->hostile().requestCount();
    Searcher io;
    Counts counts;
    EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, address, nullptr, expected.empty() ? nullptr : record,
                                   &counts, broadcast));
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(remembered(), interfaceText(std::strchr(address, ':') ? 0 : -1));
    std::vector<Bytes> discovered, got;
    const auto all = g_printers->hostile().requests();
    for (std::size_t i = from; i < all.size(); ++i)
      ((all[i][v3Parts(all[i]).flags.content] & 0x01) ? got : discovered).push_back(all[i]);
    EXPECT_EQ(got.size(), gets);
    EXPECT_EQ(discovered,
              std::vector<Bytes>(discoveries, discoveries ? discovered.at(0) : Bytes{}));
  }
  Counts untargeted;  // before InitTargetOID no agent is one of the targets
  EXPECT_TRUE(CNetIO().FindSnmpV3Agent(nullptr, "192.0.2.14", nullptr, record, &untargeted, false));
  EXPECT_TRUE(untargeted.empty());
}

// v1 and SNMPv3 over both families from snmpd (host 11) and pysnmp (host 12); IPv6 reads take
// IPv6 addresses only.
TEST(RealAgents, ReadStatusAndValuesFromSnmpdAndPysnmp) {
  const AgentConfig served;  // what every agent serves
  for (const std::string address : {"192.0.2.11", "2001:db8::11", "192.0.2.12", "2001:db8::12"}) {
    const int v6Level = address.find(':') != std::string::npos ? kToner : -1;
    EXPECT_EQ(level(NetworkReadStatus, address), kToner) << address;
    EXPECT_EQ(level(NetworkReadStatusV6, address), v6Level) << address;
    EXPECT_EQ(level(NetworkReadStatusSNMPv3, address), kToner) << address;
    EXPECT_EQ(level(NetworkReadStatusV6SNMPv3, address), v6Level) << address;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetPrinterName, address), served.sysName) << address;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwVersion, address), served.fwVersion) << address;
    EXPECT_EQ(v1Value(&CNetIO::TavrenNetworkGetFwMCUVersion, address), served.mcuVersion)
        << address;
    EXPECT_EQ(v3Values(address), (Values{0, served.sysName, served.fwVersion, served.mcuVersion}))
        << address;
  }
}

// No address: both families, IPv4 first, each printer once; at most two targets of 32 octets.
TEST(DiscoverCli, PrintsEachAnsweringPrinterOnceOrRefusesTheUsage) {
  using S = std::string;
  const S kTry = "\nTry 'usbink-query --help' for more information.\n";
  const S v1 = "protocol: SNMPv1\n", other = "--target=1.3.6.1.4.1.9999.1 ",
          all = "address: 192.0.2.11\n" + v1 + "address: 2001:db8::11\n" + v1 +
                "address: fe80::11\n" + v1;
  S tooLong = "1.3";
  for (int i = 0; i < 40; ++i) tooLong += ".200";
  for (const auto& [args, exitCode, out, err] :
       {std::tuple<S, int, S, S>{"discover", 0, all, ""},
        {"--json discover --v3 " + other + "--target=" + kModelA + " 192.0.2.14", 0,
         "{\"address\":\"192.0.2.14\",\"protocol\":\"SNMPv3\"}\n", ""},
        {"discover " + other + "192.0.2.11", 1, "",
         "usbink-query: discover: no answer from 192.0.2.11\n"},
        {"discover --target=" + tooLong, 2, "",
         "usbink-query: bad object identifier '" + tooLong + "' for '--target'" + kTry},
        {"discover --target=1.3.6.1.4.1.1 --target=1.3.6.1.4.1.2 " + other, 2, "",
         "usbink-query: at most two --target options" + kTry}}) {
    SCOPED_TRACE(args.substr(0, 60));
    const auto r = run({"sh", "-c", USBINK_QUERY " " + args});
    EXPECT_EQ(std::tie(r.exitCode, r.out, r.err), std::tie(exitCode, out, err));
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  using namespace usbink::test;
  usePrivateHosts("127.0.0.1 localhost\n192.0.2.11 printer11\n");
  struct Printers : ::testing::Environment {
    void SetUp() override { g_printers = std::make_unique<DiscoveryPrinters>(); }
    void TearDown() override { g_printers.reset(); }
  };
  ::testing::AddGlobalTestEnvironment(new Printers);
  return runInPrivateNetwork(argc, argv);
}
