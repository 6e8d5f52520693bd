// Multicast-DNS queues end to end: dnssd and mdns device URIs resolved by a
// real avahi-daemon pair (this process is the client side, the printers are
// published on the other side of a private link), and the tool run against a
// private cupsd whose printers are SNMP agents on the printer side.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "tool/address_resolution.h"
#include "tool/query_flow.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

// (type, address) entries of mDNSType and mDNSIP. The order of arrival of
// the two families is the daemon's, so sets are compared; a duplicate would
// show as a second entry.
using Entries = std::multiset<std::pair<std::string, std::string>>;

Entries resolve(const std::string& uri) {
  getAddressFromURL(uri);
  EXPECT_EQ(mDNSIP.size(), mDNSType.size()) << uri;
  Entries out;
  for (std::size_t i = 0; i < mDNSIP.size() && i < mDNSType.size(); ++i) {
    out.emplace(mDNSType[i], mDNSIP[i]);
  }
  return out;
}

Entries entriesOf(const PrinterService& printer) {
  Entries out;
  for (const auto& address : printer.addresses) {
    const bool v6 = address.find(':') != std::string::npos;
    out.emplace(v6 ? kAddressTypeV6 : kAddressTypeV4, address);
  }
  return out;
}

TEST(ServiceQueueAddresses, ListEveryAddressOfTheNamedInstance) {
  const struct {
    const char* uri;
    Entries want;
  } cases[] = {
      {"dnssd://Acme%20Laser._printer._tcp.local./?uuid=4ad8c9f2-55a1-3c1e-8d4b-2f1e9a6b7c30",
       entriesOf(kPrinterTwoFamilies)},
      {"MDNS://Acme%20Laser._printer._tcp.local./", entriesOf(kPrinterTwoFamilies)},
      // The name ends at the first dot, and the type is always _printer._tcp.
      {"dnssd://acme%20LASER.floor2.office._ipp._tcp.local./", entriesOf(kPrinterTwoFamilies)},
      // Without a dot the whole host is the name.
      {"mdns://Acme%20Laser", entriesOf(kPrinterTwoFamilies)},
      // fe80::30 is listed without zone.
      {"dnssd://Acme%20Link._printer._tcp.local./", entriesOf(kPrinterLinkLocal)},
      {"mdns://Acme%20Nope._printer._tcp.local./", {}},
  };
  // In this order, so that each call is seen to list only its own addresses.
  for (const auto& c : cases) EXPECT_EQ(resolve(c.uri), c.want) << c.uri;
}

// The lines the SNMP v1 read over IPv6 writes to standard output, before
// the report when an IPv6 address was asked.
std::string withoutIpv6ReadLines(std::string out) {
  for (const char* line : {"Sendto nRet = ", "recvfrom nRecv = ", "NetworkReadStatus response="}) {
    if (out.starts_with(line)) out.erase(0, out.find('\n') + 1);
  }
  return out;
}

constexpr int kLaserToner = 64;
constexpr int kLinkToner = 35;
constexpr int kV3OnlyToner = 73;

// "Acme Laser" answers SNMP v1 at both its addresses, "Acme Link" at its
// IPv4 address only: nothing answers at its link-local one, whose zone the
// address list does not keep.
struct Printers {
  Printers() {
    AvahiNetEnvironment::net().onPrinterSide([&] {
      laser = std::make_unique<SnmpdAgent>(AgentConfig{.address4 = kPrinterTwoFamilies.addresses[0],
                                                       .address6 = kPrinterTwoFamilies.addresses[1],
                                                       .toner = kLaserToner});
      link = std::make_unique<SnmpdAgent>(
          AgentConfig{.address4 = kPrinterLinkLocal.addresses[0], .toner = kLinkToner});
    });
    for (const auto& [queue, uri] : kQueues) cups.addQueue(queue, uri);
  }

  static constexpr std::pair<const char*, const char*> kQueues[] = {
      {"q_dnssd", "dnssd://Acme%20Laser._printer._tcp.local./"},
      {"q_mdns_caps", "MDNS://Acme%20Laser._printer._tcp.local./"},
      {"q_link", "dnssd://Acme%20Link._printer._tcp.local./"},
      {"q_unknown", "dnssd://Acme%20Nope._printer._tcp.local./"},
      {"q_mixed", "dnssd://Acme%20Mixed._printer._tcp.local./"},
  };
  std::unique_ptr<SnmpdAgent> laser, link;
  Cupsd cups;
};

class ServiceQueue : public PrintersSuite<Printers> {};

TEST_F(ServiceQueue, ReportsTheLevelOfThePrinterAnsweringSnmpV1) {
  const std::tuple<const char*, int, int> cases[] = {{"q_dnssd", kExitReported, kLaserToner},
                                                     {"q_mdns_caps", kExitReported, kLaserToner},
                                                     {"q_link", kExitReported, kLinkToner},
                                                     {"q_unknown", kExitNoAddress, 0}};
  for (auto [queue, exitCode, level] : cases) {
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, exitCode) << queue;
    EXPECT_EQ(withoutIpv6ReadLines(r.out), level ? expectedReport(level) : "") << queue;
  }
}

// Which family the daemon delivers first cannot be chosen, so the order is
// made: "Acme Mixed" has only its IPv6 address when the tool starts, and its
// IPv4 address is published while the tool waits for a second one. The IPv6
// address answers nothing, the IPv4 address only SNMPv3.
TEST_F(ServiceQueue, ASilentFirstAddressIsPassedForASecondAnsweringSnmpV3) {
  const std::string silentAddress = "2001:db8:100::60";
  const AgentConfig v3only{.address4 = "198.51.100.60", .v1 = false, .toner = kV3OnlyToner};
  std::unique_ptr<RawResponder> silent;
  std::unique_ptr<SnmpdAgent> snmpd;
  AvahiNet& net = AvahiNetEnvironment::net();
  net.onPrinterSide([&] {
    runChecked({"ip", "addr", "add", silentAddress + "/128", "dev", "lo", "nodad"});
    runChecked({"ip", "addr", "add", v3only.address4 + "/32", "dev", "lo"});
    silent = std::make_unique<RawResponder>(silentAddress,
                                            [](const Bytes&) { return std::vector<Bytes>{}; });
    snmpd = std::make_unique<SnmpdAgent>(v3only);
  });
  net.publish({{"-a", "-R", "mixed.local", silentAddress},
               {"-s", "-H", "mixed.local", "Acme Mixed", "_printer._tcp", "515"}});

  auto running = std::async(std::launch::async, [] { return tool("q_mixed"); });
  net.publish({{"-a", "-R", "mixed.local", v3only.address4}});
  const auto r = running.get();

  EXPECT_EQ(r.exitCode, kExitReported);
  EXPECT_EQ(withoutIpv6ReadLines(r.out), expectedReport(kV3OnlyToner));
  const auto requests = silent->requests();
  ASSERT_GE(requests.size(), 4u) << "the silent address was not asked first";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(requests[i][4], 0x00) << "SNMP v1 request " << i;
  EXPECT_EQ(requests[3][4], 0x03) << "SNMPv3 engine discovery";
}

TEST_F(ServiceQueue, EndsWithoutAddressWithoutTheDaemon) {
  AvahiNet& net = AvahiNetEnvironment::net();
  net.clientAvahi().stop();
  const auto r = tool("q_dnssd");
  net.restartClientAvahi();
  EXPECT_EQ(r.exitCode, kExitNoAddress);
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::AvahiNetEnvironment);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
