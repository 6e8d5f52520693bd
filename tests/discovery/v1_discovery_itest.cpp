// SNMP v1 discovery on the segment of printers.h: broadcast, multicast and
// unicast searches from a client with two interfaces.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "discovery/printers.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

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

// Every search's request: version 0, the community, GET sysObjectID.0.
std::string discoveryRequest(const std::string& community) {
  const auto length = [](std::size_t n) { return toHex({static_cast<unsigned char>(n)}); };
  return "30" + length(community.size() + 32) + "020100" + "04" + length(community.size()) +
         toHex(Bytes(community.begin(), community.end())) +
         toHex(Bytes(request_oid_pf, request_oid_pf + kRequestOidPfSize));
}

// One node per interface as `ip link` lists them, the 15-character name
// whole. Look-ups match names exactly; no name gives index 4, no index null.
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
  const int index = find_ifscope_id(list, longest);
  EXPECT_EQ(clientInterface(1), std::to_string(index) + " %" + longest);
  EXPECT_STREQ(find_ifname(list, index)->ifr_name, longest);
  EXPECT_EQ(find_ifscope_id(list, prefix), 4);
  EXPECT_EQ(find_ifscope_id(list, longer), 4);
  EXPECT_EQ(find_ifscope_id(list, nullptr), 4);
  EXPECT_EQ(find_ifscope_id(nullptr, longest), 4);
  EXPECT_EQ(find_ifname(list, 999), nullptr);
  EXPECT_EQ(find_ifname(nullptr, 1), nullptr);
  free_ifs_info(list);
  free_ifs_info(nullptr);
  // Only a failed enumeration is reported; an empty list is no failure.
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
// model is reported; the system refuses a broadcast without SO_BROADCAST.
// A host name is no numeric address and searches nowhere.
TEST(V1Discovery, Ipv4SearchReportsEachMatchingAgentPerInterfaceAndCopy) {
  const Counts both = {{"192.0.2.11", 2 * kCopies}, {"192.0.2.12", 2 * kCopies}};
  const struct {
    const char* address;
    bool broadcast;
    Counts expected;
  } cases[] = {
      {"255.255.255.255", true, both},
      {"255.255.255.255", false, {}},
      {"192.0.2.11", false, {{"192.0.2.11", 2 * kCopies}}},
      {"printer11", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + (c.broadcast ? " broadcast" : " no broadcast"));
    Searcher io;
    Counts counts;
    EXPECT_TRUE(
        io.FindSnmpAgent(nullptr, c.address, kOidSysObjectId, record, &counts, c.broadcast));
    EXPECT_EQ(counts, c.expected);
  }
  EXPECT_GT(printers().hostile().requestCount(), 0u);
}

// A search without a callback still runs; a bad identifier, or a community
// too long for the one-octet message length, stops every search unsent.
TEST(V1Discovery, RequestCarriesTheCommunityOrTheDefaultOrIsNotSent) {
  const std::string longest(95, 'c'), tooLong(96, 'c');
  const struct {
    const char* community;
    const char* oid;
    const char* sent;  // the community on the wire; null: nothing is sent
  } cases[] = {
      {nullptr, kOidSysObjectId, kDefaultCommunity},
      {"", kOidSysObjectId, kDefaultCommunity},
      {longest.c_str(), kOidSysObjectId, longest.c_str()},
      {tooLong.c_str(), kOidSysObjectId, nullptr},
      {nullptr, "1.3.6.x", nullptr},
      {nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.community ? c.community : "(null)") + " " + (c.oid ? c.oid : ""));
    const std::size_t before = printers().hostile().requestCount();
    Searcher io;
    EXPECT_EQ(io.FindSnmpAgent(c.community, "192.0.2.16", c.oid, nullptr, nullptr, false),
              c.sent != nullptr);
    const auto requests = printers().hostile().requests();
    EXPECT_EQ(requests.size() > before, c.sent != nullptr);
    EXPECT_EQ((requests.size() - before) % kCopies, 0u);
    for (std::size_t i = before; i < requests.size(); ++i) {
      EXPECT_EQ(toHex(requests[i]), discoveryRequest(c.sent ? c.sent : ""));
    }
    if (c.sent != nullptr) continue;
    Counts counts;
    EXPECT_FALSE(io.FindSnmpAgent(c.community, "ff02::1", c.oid, record, &counts, true));
    EXPECT_FALSE(io.FindSnmpAgentV6_(c.community, "fe80::16", c.oid, record, &counts, true));
    EXPECT_FALSE(io.FindSnmpAgentV6(c.community, "fe80::16", c.oid, record, &counts, true));
    EXPECT_FALSE(io.FindSnmpAgent3Times(c.community, c.oid, record, &counts));
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(printers().hostile().requestCount(), before);
  }
}

// A scoped IPv6 text (getaddrinfo takes it, inet_pton not) or no address
// sends nothing: not to the printers, nor to "::", which is this host.
TEST(V1Discovery, UnusableIpv6AddressesSendNothing) {
  const RawResponder local("::", [](const Bytes&) { return std::vector<Bytes>{}; });
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  Counts counts;
  const std::string scoped = "fe80::16%" + std::string(kClientInterfaces[0]);
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, scoped.c_str(), kOidSysObjectId, record, &counts, true));
  for (const char* address : {scoped.c_str(), static_cast<const char*>(nullptr)}) {
    EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, address, kOidSysObjectId, record, &counts, true));
    EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, address, kOidSysObjectId, record, &counts, true));
  }
  EXPECT_TRUE(counts.empty());
  EXPECT_EQ(printers().hostile().requestCount(), before);
  EXPECT_EQ(local.requestCount(), 0u);
}

// Both client interfaces reach every printer at both its addresses. The
// first interface answering with a scope is remembered (callback or not)
// and carries later link-local status reads, v1 and SNMPv3, which loopback
// would not; once set, a later search leaves it alone.
TEST(V1Discovery, Ipv6SearchRemembersTheFirstAnsweringInterfaceForStatusReads) {
  PRINTER_STATUS status{};
  scope_id = 1;  // loopback's index in every network namespace
  EXPECT_FALSE(NetworkReadStatusV6(kDefaultCommunity, "fe80::11", &status));
  EXPECT_FALSE(NetworkReadStatusV6SNMPv3(kDefaultCommunity, "fe80::11", &status));

  forgetInterface();
  Searcher io;
  Counts counts;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, "ff02::1", kOidSysObjectId, record, &counts, true));
  EXPECT_EQ(counts,
            (Counts{{"2001:db8::11", 2}, {"2001:db8::12", 2}, {"fe80::11", 2}, {"fe80::12", 2}}));
  EXPECT_EQ(rememberedInterface(), clientInterface(0));
  for (auto read : {NetworkReadStatusV6, NetworkReadStatusV6SNMPv3, NetworkReadStatusSNMPv3}) {
    status = {};
    ASSERT_TRUE(read(kDefaultCommunity, "fe80::11", &status));
    EXPECT_EQ(status.tonerLevel & 127, kToner);
  }

  forgetInterface();
  EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, "fe80::11", kOidSysObjectId, nullptr, nullptr, false));
  EXPECT_EQ(rememberedInterface(), clientInterface(0));

  rememberClientInterface(1);
  EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, "ff02::1", kOidSysObjectId, nullptr, nullptr, true));
  EXPECT_EQ(rememberedInterface(), clientInterface(1));
  ASSERT_TRUE(NetworkReadStatusV6(kDefaultCommunity, "fe80::12", &status));
  EXPECT_EQ(status.tonerLevel & 127, kToner);
}

// Pass 0 sends on scope 0, routed through one client interface; its
// answers end the scan and name it. A remembered scope serves every pass.
TEST(V1Discovery, ScopeScanEndsWithTheFirstAnsweringPass) {
  const Counts linkLocal = {{"fe80::11", kCopies}, {"fe80::12", kCopies}};
  forgetInterface();
  Searcher io;
  Counts counts;
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, "ff02::1", kOidSysObjectId, record, &counts, true));
  EXPECT_EQ(counts, linkLocal);
  const std::string remembered = rememberedInterface();
  EXPECT_TRUE(remembered == clientInterface(0) || remembered == clientInterface(1)) << remembered;

  rememberClientInterface(1);
  const std::string scope = std::to_string(scope_id);
  counts = {};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, "ff02::1", kOidSysObjectId, record, &counts, true));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(counts, linkLocal);
  EXPECT_NE(out.find("[if] scope_id=" + scope + "RecvAddr.sin6_scope_id=" + scope),
            std::string::npos)
      << out;
  EXPECT_EQ(rememberedInterface(), clientInterface(1));
}

// The process's first call probes the all-nodes group, consuming the
// answer that ends the probe untested; the second sends three copies at once.
TEST(V1Discovery, ThreeTimesProbesOnceThenSendsAtOnce) {
  forgetInterface();
  Searcher io;
  Counts first;
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

  Counts second;
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &second));
  expected.insert({{"fe80::11", kCopies}, {"fe80::12", kCopies}});
  EXPECT_EQ(second, expected);
}

// A peer answering every requester each millisecond, 2000 times: a search
// that stopped only at a silent second would not end while it lasts.
TEST(V1Discovery, AnswersThatNeverStopEndTheirLoopAfter512) {
  const NamedNamespace& host = printers().addHost(kFlooding);
  const std::string address = "192.0.2." + std::to_string(kFlooding);
  int fd = -1;
  host.enter([&] { fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0); });
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kSnmpPort);
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
        if (sent++ >= 2000) continue;
        sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
    }
  });
  Searcher io;
  Counts counts;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, address.c_str(), kOidSysObjectId, record, &counts, false));
  stop = true;
  flooder.join();
  close(fd);
  EXPECT_EQ(counts, (Counts{{address, 2 * 512}}));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runDiscoveryTests(argc, argv);
}
