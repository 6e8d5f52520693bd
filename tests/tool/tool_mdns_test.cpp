// dnssd and mdns queues: the tool's URIs resolved by a real avahi-daemon pair.
#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>
#include <tuple>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "tool/query_flow.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

// Each queue and its level (0: no address; -1: another test's); names end at the first dot.
constexpr std::tuple<const char*, const char*, int> kQueues[] = {
    {"q_dnssd", "dnssd://Acme%20Laser._printer._tcp.local./", 64},
    {"q_other_type", "dnssd://acme%20LASER.floor2.office._ipp._tcp.local./?uuid=4ad8c9f2", 64},
    {"q_no_dot", "mdns://Acme%20Laser", 64},
    {"q_link", "dnssd://Acme%20Link._printer._tcp.local./", 35},
    {"q_unknown", "dnssd://Acme%20Nope._printer._tcp.local./", 0},
    {"q_mixed", "dnssd://Acme%20Mixed._printer._tcp.local./", -1},
};

// "Acme Link" answers at IPv4 only (its link-local address comes without its zone).
struct Printers {
  Printers() {
    const auto& two = kPrinterTwoFamilies.addresses;
    AvahiNetEnvironment::net().onPrinterSide([&] {
      laser.emplace(AgentConfig{.address4 = two[0], .address6 = two[1], .toner = 64});
      link.emplace(AgentConfig{.address4 = kPrinterLinkLocal.addresses[0], .toner = 35});
    });
    for (const auto& [queue, uri, level] : kQueues) cups.addQueue(queue, uri);
  }
  std::optional<SnmpdAgent> laser, link;
  Cupsd cups;
};

class ServiceQueue : public PrintersSuite<Printers> {};

// A report may follow the lines a v1 read over IPv6 writes.
TEST_F(ServiceQueue, ReportsTheLevelOfThePrinterAnsweringSnmpV1) {
  for (auto [queue, uri, level] : kQueues) {
    if (level < 0) continue;
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, level ? kExitReported : kExitNoAddress) << queue;
    EXPECT_TRUE(level ? r.out.ends_with(expectedReport(level)) : r.out.empty()) << queue << r.out;
  }
}

// "Acme Mixed" has a silent IPv6 address; its SNMPv3-only IPv4 one comes while the tool waits.
TEST_F(ServiceQueue, ASilentFirstAddressIsPassedForASecondAnsweringSnmpV3) {
  std::optional<RawResponder> silent;
  std::optional<SnmpdAgent> snmpd;
  AvahiNet& net = AvahiNetEnvironment::net();
  net.onPrinterSide([&] {
    runChecked({"ip", "addr", "add", "2001:db8:100::60/128", "dev", "lo", "nodad"});
    runChecked({"ip", "addr", "add", "198.51.100.60/32", "dev", "lo"});
    silent.emplace("2001:db8:100::60", [](const Bytes&) { return std::vector<Bytes>{}; });
    snmpd.emplace(AgentConfig{.address4 = "198.51.100.60", .v1 = false, .toner = 73});
  });
  net.publish({{"-a", "-R", "mixed.local", "2001:db8:100::60"},
               {"-s", "-H", "mixed.local", "Acme Mixed", "_printer._tcp", "515"}});
  auto running = std::async(std::launch::async, [] { return tool("q_mixed"); });
  net.publish({{"-a", "-R", "mixed.local", "198.51.100.60"}});
  const auto r = running.get();
  EXPECT_EQ(r.exitCode, kExitReported);
  EXPECT_TRUE(r.out.ends_with(expectedReport(73))) << r.out;
  const auto requests = silent->requests();  // 3 v1 requests, then the SNMPv3 discovery
  ASSERT_GE(requests.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(requests[i][4], i < 3 ? 0x00 : 0x03) << i;
}

}  // namespace
}  // namespace usbink::test
