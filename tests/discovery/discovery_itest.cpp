// SNMP v1 and SNMPv3 discovery on the segment of printers.h: broadcast,
// multicast and unicast searches from a client with two interfaces, and
// usbink-query discover there as an administrator or a script runs it.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>
// net/if.h's macro would rename the member of the interface table.
#undef ifr_name

#include <atomic>
#include <cerrno>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "discovery/printers.h"
#include "support/process.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

// getifaddrs as the library sees it (linked with --wrap): the system's, or
// while set an empty list (0) or a failure (-1, ENOBUFS).
std::optional<int> g_getifaddrs;
extern "C" int __real_getifaddrs(ifaddrs** list);
extern "C" int __wrap_getifaddrs(ifaddrs** list) {
  if (!g_getifaddrs) return __real_getifaddrs(list);
  *list = nullptr;
  errno = ENOBUFS;
  return *g_getifaddrs;
}

namespace usbink::test {
namespace {

// Each printer answers every copy of a request from each client interface;
// IPv4 searches send three copies.
constexpr int kCopies = 3;
const std::string kForgotten = "0 %en0";
std::unique_ptr<DiscoveryPrinters> g_printers;

// How often a search reported each address, counted by record().
using Counts = std::map<std::string, int>;
bool record(char* address, char* info, void* user) {
  EXPECT_EQ(info, nullptr);
  ++(*static_cast<Counts*>(user))[address];
  return true;
}

struct Searcher : CNetIO {
  Searcher() { InitTargetOID(kModelA, kModelB); }
};

// Sets the interface a discovery remembers to client interface `i`, or
// forgets it as at process start (i < 0); both as "INDEX %NAME".
void rememberClient(int i) {
  scope_id = i < 0 ? 0 : static_cast<int>(if_nametoindex(kClientInterfaces[i]));
  std::snprintf(g_ifsName, kIfsNameSize, "%%%s", i < 0 ? "en0" : kClientInterfaces[i]);
}
std::string remembered() {
  return std::to_string(scope_id) + " " + g_ifsName;
}
std::string clientInterface(int i) {
  return std::to_string(if_nametoindex(kClientInterfaces[i])) + " %" + kClientInterfaces[i];
}

// One node per interface as `ip link` lists them, the 15-character name
// whole; look-ups match names exactly. Only a failed enumeration is
// reported; an empty list is no failure.
TEST(InterfaceTable, HoldsEveryInterfaceAsIpLinkShowsIt) {
  std::string expected, listed;
  std::istringstream lines(runChecked({"ip", "-o", "link"}).out);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(": "), nameEnd = line.find_first_of(":@", colon + 2);
    expected += line.substr(colon + 2, nameEnd - colon - 2) + " " + line.substr(0, colon) + "\n";
  }
  ifs_info* list = get_ifs_info(0, 0);
  for (const ifs_info* n = list; n != nullptr; n = n->next) {
    listed += std::string(n->ifr_name) + " " + std::to_string(n->ifscope_id) + "\n";
  }
  EXPECT_EQ(listed, expected);
  char longest[] = "discovery-cl-15", prefix[] = "discovery-cl-1", longer[] = "discovery-cl-150";
  EXPECT_EQ(find_ifscope_id(list, prefix), 4);
  EXPECT_EQ(find_ifscope_id(list, longer), 4);
  EXPECT_EQ(find_ifscope_id(nullptr, longest), 4);
  EXPECT_EQ(find_ifname(list, 999), nullptr);
  free_ifs_info(list);
  for (auto [result, out, err] :
       {std::tuple{0, "", ""},
        {-1, "ioctl error", "[ipv4 BC] getifaddrs Error! errno: No buffer space available\n"}}) {
    g_getifaddrs = result;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(get_ifs_info(0, 0), nullptr);
    EXPECT_TRUE(
        CNetIO().FindSnmpAgent(nullptr, "192.0.2.11", kOidSysObjectId, nullptr, nullptr, false));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), out);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), err);
  }
  g_getifaddrs.reset();
}

// Neither the raw responder's over-long sysObjectID nor the other vendor's
// model is reported; the system refuses a broadcast without SO_BROADCAST and
// a host name is no numeric address. Both client interfaces reach every
// printer at both its addresses; the first interface answering with a scope
// is remembered (callback or not), and once set a search leaves it alone.
// The scope scan ends with the first answering pass; a remembered scope
// serves every pass. Later link-local status reads, v1 and SNMPv3, go out
// on the remembered interface, which loopback would not carry.
TEST(V1Discovery, EachSearchReportsTheMatchingAgentsAndRemembersAnInterface) {
  PRINTER_STATUS status{};
  scope_id = 1;  // loopback's index in every network namespace
  EXPECT_FALSE(NetworkReadStatusV6(kDefaultCommunity, "fe80::11", &status));
  EXPECT_FALSE(NetworkReadStatusV6SNMPv3(kDefaultCommunity, "fe80::11", &status));
  const Counts v4 = {{"192.0.2.11", 2 * kCopies}, {"192.0.2.12", 2 * kCopies}};
  const Counts linkLocal = {{"fe80::11", kCopies}, {"fe80::12", kCopies}};
  const Counts v6 = {{"2001:db8::11", 2}, {"2001:db8::12", 2}, {"fe80::11", 2}, {"fe80::12", 2}};
  const auto agent = &CNetIO::FindSnmpAgent, agentV6_ = &CNetIO::FindSnmpAgentV6_,
             scan = &CNetIO::FindSnmpAgentV6;
  const struct {
    decltype(agent) search;
    const char* address;
    bool broadcast, callback;
    int before, after;  // the client interface remembered, -1 none, 2 either
    Counts expected;
  } cases[] = {
      {agent, "255.255.255.255", true, true, -1, -1, v4},
      {agent, "255.255.255.255", false, true, -1, -1, {}},
      {agent, "192.0.2.11", false, true, -1, -1, {{"192.0.2.11", 2 * kCopies}}},
      {agent, "printer11", true, true, -1, -1, {}},
      {agent, "ff02::1", true, true, -1, 0, v6},
      {agentV6_, "fe80::11", false, false, -1, 0, {}},
      {agentV6_, "ff02::1", true, false, 1, 1, {}},
      {scan, "ff02::1", true, true, -1, 2, linkLocal},
      {scan, "ff02::1", true, true, 1, 1, linkLocal},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + std::to_string(&c - cases));
    rememberClient(c.before);
    const std::string scope = std::to_string(scope_id);
    Searcher io;
    Counts counts;
    testing::internal::CaptureStdout();
    EXPECT_TRUE((io.*c.search)(nullptr, c.address, kOidSysObjectId, c.callback ? record : nullptr,
                               &counts, c.broadcast));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(counts, c.expected);
    const std::string now = remembered();
    EXPECT_TRUE(c.after == 2 ? now == clientInterface(0) || now == clientInterface(1)
                             : now == (c.after < 0 ? kForgotten : clientInterface(c.after)))
        << now;
    if (c.search == scan && c.before >= 0) {
      EXPECT_NE(out.find("[if] scope_id=" + scope + "RecvAddr.sin6_scope_id=" + scope),
                std::string::npos);
    }
  }
  EXPECT_GT(g_printers->hostile().requestCount(), 0u);
  for (auto read : {NetworkReadStatusV6, NetworkReadStatusV6SNMPv3, NetworkReadStatusSNMPv3}) {
    status = {};
    ASSERT_TRUE(read(kDefaultCommunity, "fe80::11", &status));
    EXPECT_EQ(status.tonerLevel & 127, kToner);
  }
}

// The default community when none is given; a bad identifier stops every
// search unsent. A scoped IPv6 text (getaddrinfo takes it, inet_pton not) or
// no address sends nothing: not to the printers, nor to "::", this host.
TEST(V1Discovery, RequestCarriesTheDefaultCommunityOrIsNotSent) {
  const RawResponder local("::", [](const Bytes&) { return std::vector<Bytes>{}; });
  const std::string scoped = "fe80::16%" + std::string(kClientInterfaces[0]);
  const struct {
    const char* community;
    const char* oid;
    const char* address;
    bool result;
    std::size_t sent;  // to the raw responder, from each local IPv4 address
  } cases[] = {
      {nullptr, kOidSysObjectId, "192.0.2.16", true, 3 * kCopies},
      {"", kOidSysObjectId, "192.0.2.16", true, 3 * kCopies},
      {nullptr, "1.3.6.x", "192.0.2.16", false, 0},
      {nullptr, kOidSysObjectId, scoped.c_str(), true, 0},
      {nullptr, kOidSysObjectId, nullptr, true, 0},
  };
  // Version 0, the default community "mirtal", GET sysObjectID.0.
  const std::string request =
      "302602010004066d697274616ca019020100020100020100300e300c06082b060102010102000500";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    const std::size_t before = g_printers->hostile().requestCount();
    Searcher io;
    Counts counts;
    for (auto search :
         {&CNetIO::FindSnmpAgent, &CNetIO::FindSnmpAgentV6_, &CNetIO::FindSnmpAgentV6}) {
      if (c.address == nullptr && search == &CNetIO::FindSnmpAgent) continue;
      EXPECT_EQ((io.*search)(c.community, c.address, c.oid, record, &counts, true), c.result);
    }
    EXPECT_TRUE(c.result || !io.FindSnmpAgent3Times(c.community, c.oid, record, &counts));
    EXPECT_TRUE(counts.empty());
    const auto requests = g_printers->hostile().requests();
    EXPECT_EQ(requests.size() - before, c.sent);
    for (std::size_t i = before; i < requests.size(); ++i) EXPECT_EQ(toHex(requests[i]), request);
  }
  EXPECT_EQ(local.requestCount(), 0u);
}

// The process's first call probes the all-nodes group, consuming the answer
// that ends the probe untested; the second sends three copies at once.
TEST(V1Discovery, ThreeTimesProbesOnceThenSendsAtOnce) {
  rememberClient(-1);
  Searcher io;
  Counts first, second;
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &first));
  int probeHits = 0;
  for (const char* probed : {"fe80::11", "fe80::12"}) {
    const auto hit = first.extract(probed);
    EXPECT_TRUE(hit.empty() || hit.mapped() == 1) << probed;
    probeHits += !hit.empty();
  }
  EXPECT_GE(probeHits, 1);
  Counts expected = {{"192.0.2.11", kCopies}, {"192.0.2.12", kCopies}};
  EXPECT_EQ(first, expected);
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &second));
  expected.insert({{"fe80::11", kCopies}, {"fe80::12", kCopies}});
  EXPECT_EQ(second, expected);
}

// A peer answering every requester each millisecond, 2000 times: a search
// that stopped only at a silent second would not end while it lasts.
TEST(V1Discovery, AnswersThatNeverStopEndTheirLoopAfter512) {
  int fd = -1;
  g_printers->addHost(17).enter([&] { fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0); });
  sockaddr_in any{
      .sin_family = AF_INET, .sin_port = htons(kSnmpPort), .sin_addr = {}, .sin_zero = {}};
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  std::atomic<bool> stop = false;
  std::thread flooder([&] {
    const Bytes answer = sysObjectIdAnswer(encodedOid(kModelA));
    std::vector<std::pair<sockaddr_in, int>> requesters;  // address, answers sent
    for (; !stop; usleep(1000)) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      if (recvfrom(fd, nullptr, 0, 0, reinterpret_cast<sockaddr*>(&from), &length) >= 0) {
        requesters.emplace_back(from, 0);
      }
      for (auto& [to, sent] : requesters) {
        if (sent++ < 2000)
          sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
    }
  });
  Searcher io;
  Counts counts;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, "192.0.2.17", kOidSysObjectId, record, &counts, false));
  stop = true;
  flooder.join();
  close(fd);
  EXPECT_EQ(counts, (Counts{{"192.0.2.17", 2 * 512}}));
}

// Each printer agent of a target model is reported once per client
// interface; not the other vendor's model, the other enterprise's engine
// nor the genErr answer. The raw responder is asked from both interfaces,
// callback or not, each sending the call's one engine discovery. The system
// refuses a broadcast without SO_BROADCAST; a host name is no numeric address.
// An IPv6 address is asked from every local address that reaches it, and
// the first interface answering with a scope is remembered.
TEST(V3Discovery, EachSearchReportsOnlyPrinterAgentsOfTheTargetModels) {
  const struct {
    const char* address;
    bool broadcast;
    Counts expected;                // an empty one: searched without a callback
    std::size_t gets, discoveries;  // the raw responder's; loopback's socket asks it too
  } cases[] = {
      {"255.255.255.255", true, {{"192.0.2.11", 2}, {"192.0.2.12", 2}, {"192.0.2.14", 2}}, 2, 2},
      {"192.0.2.16", false, {}, 2, 3},
      {"255.255.255.255", false, {}, 0, 0},
      {"printer11", true, {}, 0, 0},
      {"fe80::14", false, {{"2001:db8::14", 2}, {"fe80::14", 2}}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    rememberClient(-1);
    const std::size_t from = g_printers->hostile().requestCount();
    Searcher io;
    Counts counts;
    EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, c.address, nullptr,
                                   c.expected.empty() ? nullptr : record, &counts, c.broadcast));
    EXPECT_EQ(counts, c.expected);
    EXPECT_EQ(remembered(), std::string(c.address).find(':') != std::string::npos
                                ? clientInterface(0)
                                : kForgotten);
    std::vector<Bytes> discoveries, gets;
    const auto all = g_printers->hostile().requests();
    for (std::size_t i = from; i < all.size(); ++i) {
      const bool get = (all[i][v3Parts(all[i]).flags.content] & 0x01) != 0;
      (get ? gets : discoveries).push_back(all[i]);
    }
    EXPECT_EQ(gets.size(), c.gets);
    EXPECT_EQ(discoveries,
              std::vector<Bytes>(c.discoveries, c.discoveries ? discoveries.at(0) : Bytes{}));
  }
  Counts untargeted;  // before InitTargetOID no agent is one of the targets
  EXPECT_TRUE(CNetIO().FindSnmpV3Agent(nullptr, "192.0.2.14", nullptr, record, &untargeted, false));
  EXPECT_TRUE(untargeted.empty());
}

// Without an address both families are searched, the IPv4 broadcast first;
// each printer of the default model is printed once, however often it is
// reported. Targets replace the default model; a target must encode into 32
// octets, and there are two at most.
TEST(DiscoverCli, PrintsEachAnsweringPrinterOnceOrRefusesTheUsage) {
  const std::string kTry = "Try 'usbink-query --help' for more information.\n",
                    v1 = "protocol: SNMPv1\n";
  std::string tooLong = "1.3";
  for (int i = 0; i < 40; ++i) tooLong += ".200";
  const struct {
    std::string args;
    int exitCode;
    std::string out, err;
  } cases[] = {
      {"discover", 0,
       "address: 192.0.2.11\n" + v1 + "address: 2001:db8::11\n" + v1 + "address: fe80::11\n" + v1,
       ""},
      {"--json discover --target=1.3.6.1.4.1.9999.1 --target=" + std::string(kModelA) +
           " 192.0.2.11",
       0, "{\"address\":\"192.0.2.11\",\"protocol\":\"SNMPv1\"}\n", ""},
      {"discover --v3 192.0.2.14", 0, "address: 192.0.2.14\nprotocol: SNMPv3\n", ""},
      {"discover --target=1.3.6.1.4.1.9999.1 192.0.2.11", 1, "",
       "usbink-query: discover: no answer from 192.0.2.11\n"},
      {"discover --target=" + tooLong, 2, "",
       "usbink-query: bad object identifier '" + tooLong + "' for '--target'\n" + kTry},
      {"discover --target=1.3.6.1.4.1.1 --target=1.3.6.1.4.1.2 --target=1.3.6.1.4.1.3", 2, "",
       "usbink-query: at most two --target options\n" + kTry},
      {"discover 192.0.2.11 192.0.2.12", 2, "",
       "usbink-query: 'discover' takes one address, not also '192.0.2.12'\n" + kTry},
      {"discover --v1", 2, "", "usbink-query: unrecognized option '--v1' for 'discover'\n" + kTry},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.substr(0, 60));
    std::vector<std::string> args = {USBINK_QUERY};
    std::istringstream words(c.args);
    for (std::string word; words >> word;) args.push_back(word);
    const auto r = run(args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace usbink::test

// The binary's printers are up from before its first test to after its last.
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
