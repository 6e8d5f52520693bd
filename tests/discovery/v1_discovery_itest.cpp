// SNMP v1 discovery on a real segment: broadcast, multicast and unicast
// searches from a client with two interfaces, against snmpd and pysnmp
// printers and a raw responder with an over-long sysObjectID.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "discovery/discovery_test.h"
#include "snmp/v1_test_util.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

using Counts = std::map<std::string, int>;

// Every copy of a request sent from each of the client's two interfaces is
// answered once by each printer; IPv4 searches send three copies.
constexpr int kCopies = 3;

// A CNetIO whose targets are the two printer models.
struct Searcher : CNetIO {
  Searcher() { InitTargetOID(kModelA, kModelB); }
};

std::string clientName(int i) {
  return kClientInterfaces[i];
}

// The request every search sends: version 0, the community, and the GET of
// sysObjectID.0 with request-id 0.
std::string discoveryRequest(const std::string& community) {
  const auto length = [](std::size_t n) { return toHex({static_cast<unsigned char>(n)}); };
  return "30" + length(community.size() + 32) + "020100" + "04" + length(community.size()) +
         toHex(Bytes(community.begin(), community.end())) +
         toHex(Bytes(request_oid_pf, request_oid_pf + kRequestOidPfSize));
}

// A peer that, once asked, answers every requester with a matching answer
// each millisecond, up to kFloodLimit answers each: a search that only
// stopped at a silent second would never end while it lasts.
class Flooder {
 public:
  static constexpr int kFloodLimit = 2000;

  explicit Flooder(const SegmentHost& host) {
    host.enter([&] { m_fd = socket(AF_INET, SOCK_DGRAM, 0); });
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kSnmpPort);
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      throw std::runtime_error("flooder cannot bind");
    }
    m_thread = std::thread([this] { flood(); });
  }
  ~Flooder() {
    m_stop = true;
    m_thread.join();
    close(m_fd);
  }

 private:
  struct Requester {
    sockaddr_in address;
    int sent;
  };

  void flood() {
    Bytes model(kOidEncodedMax);
    model.resize(static_cast<std::size_t>(CNetIO::oidEncode(kModelA, model.data())));
    Bytes oid(kOidEncodedMax);
    oid.resize(static_cast<std::size_t>(CNetIO::oidEncode(kOidSysObjectId, oid.data())));
    const Bytes answer = v1Response(varbind(oid, kBerObjectId, model));
    std::vector<Requester> requesters;
    while (!m_stop) {
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, 1) > 0) {
        unsigned char request[512];
        Requester r{{}, 0};
        socklen_t length = sizeof r.address;
        if (recvfrom(m_fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&r.address),
                     &length) > 0) {
          requesters.push_back(r);
        }
      }
      for (auto& r : requesters) {
        if (r.sent >= kFloodLimit) continue;
        ++r.sent;
        sendto(m_fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&r.address),
               sizeof r.address);
      }
    }
  }

  int m_fd = -1;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// One node per interface, as `ip link` lists them, the 15-character name
// with its NUL; each is printed as it is added.
TEST(InterfaceTable, HoldsEveryInterfaceAsIpLinkShowsIt) {
  std::string expected;
  std::istringstream lines(runChecked({"ip", "-o", "link"}).out);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(": ");
    const auto nameEnd = line.find_first_of(":@", colon + 2);
    expected += "ifr_name: " + line.substr(colon + 2, nameEnd - colon - 2) +
                ", scope id: " + line.substr(0, colon) + "\n";
  }
  testing::internal::CaptureStdout();
  ifs_info* list = get_ifs_info(0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  std::string listed;
  for (const ifs_info* n = list; n != nullptr; n = n->next) {
    listed += "ifr_name: " + std::string(n->ifr_name) +
              ", scope id: " + std::to_string(n->ifscope_id) + "\n";
  }
  EXPECT_EQ(listed, expected);
  EXPECT_NE(expected.find("ifr_name: discovery-cl-15, scope id: " +
                          std::to_string(DiscoverySegment::clientIndex(1))),
            std::string::npos);
  free_ifs_info(list);
}

struct Ipv4Case {
  const char* address;
  bool broadcast;
  Counts expected;
};

TEST(V1Discovery, Ipv4SearchReportsEachMatchingAgentPerInterfaceAndCopy) {
  const Counts both = {{"192.0.2.11", 2 * kCopies}, {"192.0.2.12", 2 * kCopies}};
  const Ipv4Case cases[] = {
      {"255.255.255.255", true, both},
      // The system refuses a broadcast on a socket without SO_BROADCAST.
      {"255.255.255.255", false, {}},
      {"192.0.2.11", false, {{"192.0.2.11", 2 * kCopies}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + (c.broadcast ? " broadcast" : " no broadcast"));
    Searcher io;
    Reports reports;
    EXPECT_TRUE(
        io.FindSnmpAgent(nullptr, c.address, kOidSysObjectId, record, &reports, c.broadcast));
    EXPECT_EQ(reports.counts(), c.expected);
  }
  // The raw responder's over-long sysObjectID (model A's and more) and the
  // other vendor's model were answered but never reported.
  EXPECT_GT(printers().hostile().requestCount(), 0u);
}

TEST(V1Discovery, RequestCarriesTheCommunityOrTheDefault) {
  const std::string longest(95, 'c');
  const struct {
    const char* community;
    std::string sent;
  } cases[] = {{nullptr, kDefaultCommunity}, {"", kDefaultCommunity}, {longest.c_str(), longest}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    const std::size_t before = printers().hostile().requestCount();
    Searcher io;
    EXPECT_TRUE(
        io.FindSnmpAgent(c.community, "192.0.2.16", kOidSysObjectId, nullptr, nullptr, false));
    const auto requests = printers().hostile().requests();
    ASSERT_GT(requests.size(), before);
    EXPECT_EQ((requests.size() - before) % kCopies, 0u);
    for (std::size_t i = before; i < requests.size(); ++i) {
      EXPECT_EQ(toHex(requests[i]), discoveryRequest(c.sent));
    }
  }
}

// A bad identifier, or a community whose message length would not fit its
// one octet, stops every search before anything is sent.
TEST(V1Discovery, BadRequestsSendNothing) {
  const std::string tooLong(96, 'c');
  const struct {
    const char* community;
    const char* oid;
  } cases[] = {{nullptr, "1.3.6.x"}, {nullptr, nullptr}, {tooLong.c_str(), kOidSysObjectId}};
  const std::size_t before = printers().hostile().requestCount();
  for (const auto& c : cases) {
    Searcher io;
    Reports reports;
    EXPECT_FALSE(io.FindSnmpAgent(c.community, "192.0.2.16", c.oid, record, &reports, false));
    EXPECT_FALSE(io.FindSnmpAgent(c.community, "ff02::1", c.oid, record, &reports, true));
    EXPECT_FALSE(io.FindSnmpAgentV6_(c.community, "fe80::16", c.oid, record, &reports, true));
    EXPECT_FALSE(io.FindSnmpAgentV6(c.community, "fe80::16", c.oid, record, &reports, true));
    EXPECT_FALSE(io.FindSnmpAgent3Times(c.community, c.oid, record, &reports));
    EXPECT_TRUE(reports.addresses.empty());
  }
  EXPECT_EQ(printers().hostile().requestCount(), before);
}

// A scoped IPv6 text (which getaddrinfo takes and inet_pton does not) or no
// address gives no destination: nothing is sent, neither to the printers
// nor to the unspecified address "::", which is this host.
TEST(V1Discovery, UnusableIpv6AddressesSendNothing) {
  const RawResponder local("::", [](const Bytes&) { return std::vector<Bytes>{}; });
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  Reports reports;
  const std::string scoped = "fe80::16%" + clientName(0);
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, scoped.c_str(), kOidSysObjectId, record, &reports, true));
  EXPECT_TRUE(
      io.FindSnmpAgentV6_(nullptr, scoped.c_str(), kOidSysObjectId, record, &reports, true));
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, scoped.c_str(), kOidSysObjectId, record, &reports, true));
  EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, nullptr, kOidSysObjectId, record, &reports, true));
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, nullptr, kOidSysObjectId, record, &reports, true));
  EXPECT_TRUE(reports.addresses.empty());
  EXPECT_EQ(printers().hostile().requestCount(), before);
  EXPECT_EQ(local.requestCount(), 0u);
}

// Both client interfaces reach every printer by its global and its
// link-local address; the first answer with a scope, on the first
// interface, is remembered.
TEST(V1Discovery, MulticastReportsPerInterfaceAndRemembersTheFirstAnsweringOne) {
  forgetInterface();
  Searcher io;
  Reports reports;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, "ff02::1", kOidSysObjectId, record, &reports, true));
  const Counts expected = {
      {"2001:db8::11", 2}, {"2001:db8::12", 2}, {"fe80::11", 2}, {"fe80::12", 2}};
  EXPECT_EQ(reports.counts(), expected);
  EXPECT_EQ(scope_id, DiscoverySegment::clientIndex(0));
  EXPECT_STREQ(g_ifsName, ("%" + clientName(0)).c_str());
}

// Status reads to a link-local address leave through the remembered
// interface: loopback reaches no printer, the client interfaces do.
TEST(V1Discovery, RememberedInterfaceStaysAndCarriesLinkLocalStatusReads) {
  PRINTER_STATUS status{};
  scope_id = DiscoverySegment::interfaceIndex("lo");
  EXPECT_FALSE(NetworkReadStatusV6(kDefaultCommunity, "fe80::11", &status));

  forgetInterface();
  Searcher io;
  Reports reports;
  EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, "fe80::11", kOidSysObjectId, record, &reports, false));
  EXPECT_EQ(reports.counts(), (Counts{{"2001:db8::11", 2}, {"fe80::11", 2}}));
  EXPECT_EQ(scope_id, DiscoverySegment::clientIndex(0));
  EXPECT_STREQ(g_ifsName, ("%" + clientName(0)).c_str());
  ASSERT_TRUE(NetworkReadStatusV6(kDefaultCommunity, "fe80::11", &status));
  EXPECT_EQ(status.tonerLevel & 127, kToner);

  // Once set, a later search leaves it alone, answers or not.
  rememberClientInterface(1);
  EXPECT_TRUE(io.FindSnmpAgentV6_(nullptr, "ff02::1", kOidSysObjectId, nullptr, nullptr, true));
  EXPECT_EQ(scope_id, DiscoverySegment::clientIndex(1));
  EXPECT_STREQ(g_ifsName, ("%" + clientName(1)).c_str());
  status = PRINTER_STATUS{};
  ASSERT_TRUE(NetworkReadStatusV6(kDefaultCommunity, "fe80::12", &status));
  EXPECT_EQ(status.tonerLevel & 127, kToner);
}

// Pass 0 sends on scope 0, which the system routes through one of the
// client's interfaces; its answers end the scan and name the interface.
TEST(V1Discovery, ScopeScanEndsWithTheFirstAnsweringPass) {
  forgetInterface();
  Searcher io;
  Reports reports;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, "ff02::1", kOidSysObjectId, record, &reports, true));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(reports.counts(), (Counts{{"fe80::11", kCopies}, {"fe80::12", kCopies}})) << out;
  EXPECT_NE(out.find("RecvAddr.sin6_scope_id=0"), std::string::npos);
  EXPECT_EQ(out.find("RecvAddr.sin6_scope_id=1"), std::string::npos);
  ASSERT_GT(scope_id, 0);
  EXPECT_EQ("%" + DiscoverySegment::interfaceName(scope_id), g_ifsName);

  // A remembered scope serves every pass.
  rememberClientInterface(1);
  const std::string scope = std::to_string(scope_id);
  reports = {};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, "ff02::1", kOidSysObjectId, record, &reports, true));
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(reports.counts(), (Counts{{"fe80::11", kCopies}, {"fe80::12", kCopies}}));
  EXPECT_NE(out.find("[if] scope_id=" + scope + "RecvAddr.sin6_scope_id=" + scope),
            std::string::npos)
      << out;
  EXPECT_EQ(scope_id, DiscoverySegment::clientIndex(1));
}

// The first call of the process probes the all-nodes group and consumes
// the answer that ends the probe untested; the second sends its three
// copies at once.
TEST(V1Discovery, ThreeTimesProbesOnceThenSendsAtOnce) {
  forgetInterface();
  Searcher io;
  const auto ipv6 = [](const Reports& r) {
    Counts out;
    for (const auto& [a, n] : r.counts()) {
      if (a.find(':') != std::string::npos) out[a] = n;
    }
    return out;
  };
  const Counts ipv4 = {{"192.0.2.11", kCopies}, {"192.0.2.12", kCopies}};

  Reports first;
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &first));
  int probeHits = 0;
  for (const auto& [a, n] : ipv6(first)) {
    EXPECT_TRUE(a == "fe80::11" || a == "fe80::12") << a;
    EXPECT_EQ(n, 1) << a;
    probeHits += n;
  }
  EXPECT_GE(probeHits, 1);
  EXPECT_EQ(first.counts().size(), ipv4.size() + ipv6(first).size());
  for (const auto& [a, n] : ipv4) EXPECT_EQ(first.counts()[a], n) << a;

  Reports second;
  EXPECT_TRUE(io.FindSnmpAgent3Times(nullptr, kOidSysObjectId, record, &second));
  Counts expected = ipv4;
  expected.insert({{"fe80::11", kCopies}, {"fe80::12", kCopies}});
  EXPECT_EQ(second.counts(), expected);
}

TEST(V1Discovery, AnswersThatNeverStopEndTheirLoopAfter512) {
  const Flooder flooder(printers().segment().addHost(kFlooding));
  Searcher io;
  Reports reports;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, printers().host(kFlooding).address4().c_str(),
                               kOidSysObjectId, record, &reports, false));
  EXPECT_EQ(reports.counts(), (Counts{{"192.0.2.17", 2 * 512}}));
}

TEST(V1Discovery, WithoutCallbackTheSearchStillRuns) {
  forgetInterface();
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  EXPECT_TRUE(io.FindSnmpAgent(nullptr, "192.0.2.16", kOidSysObjectId, nullptr, nullptr, false));
  EXPECT_GE(printers().hostile().requestCount(), before + 2 * kCopies);
  EXPECT_TRUE(io.FindSnmpAgentV6(nullptr, "fe80::11", kOidSysObjectId, nullptr, nullptr, false));
  ASSERT_GT(scope_id, 0);
  EXPECT_EQ("%" + DiscoverySegment::interfaceName(scope_id), g_ifsName);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runDiscoveryTests(argc, argv);
}
