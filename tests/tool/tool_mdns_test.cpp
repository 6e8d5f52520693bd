// dnssd and mdns queues end to end: the tool against a private cupsd, its
// URIs resolved by a real avahi-daemon pair (mdns_avahi_test.cpp, in the
// same binary, tests the resolution itself), the printers SNMP agents on
// the far side.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "tool/query_flow.h"
#include "tool/tool_runner.h"

namespace usbink::test {
namespace {

// Without the lines the v1 read over IPv6 writes before the report.
std::string withoutIpv6ReadLines(std::string out) {
  for (const char* line : {"Sendto nRet = ", "recvfrom nRecv = ", "NetworkReadStatus response="}) {
    if (out.starts_with(line)) out.erase(0, out.find('\n') + 1);
  }
  return out;
}

constexpr int kLaserToner = 64;
constexpr int kLinkToner = 35;
constexpr int kV3OnlyToner = 73;

// Each queue and the status and level the tool gives (status -1: another
// test's). The name ends at the first dot, the type is always _printer._tcp.
constexpr std::tuple<const char*, const char*, int, int> kQueues[] = {
    {"q_dnssd", "dnssd://Acme%20Laser._printer._tcp.local./", kExitReported, kLaserToner},
    {"q_mdns_caps", "MDNS://Acme%20Laser._printer._tcp.local./", kExitReported, kLaserToner},
    {"q_other_type", "dnssd://acme%20LASER.floor2.office._ipp._tcp.local./?uuid=4ad8c9f2",
     kExitReported, kLaserToner},
    {"q_no_dot", "mdns://Acme%20Laser", kExitReported, kLaserToner},
    {"q_link", "dnssd://Acme%20Link._printer._tcp.local./", kExitReported, kLinkToner},
    {"q_unknown", "dnssd://Acme%20Nope._printer._tcp.local./", kExitNoAddress, 0},
    {"q_mixed", "dnssd://Acme%20Mixed._printer._tcp.local./", -1, 0},
};

// "Acme Laser" answers SNMP v1 at both its addresses, "Acme Link" at its
// IPv4 address only (its link-local one is listed without its zone).
struct Printers {
  Printers() {
    AvahiNetEnvironment::net().onPrinterSide([&] {
      laser = std::make_unique<SnmpdAgent>(AgentConfig{.address4 = kPrinterTwoFamilies.addresses[0],
                                                       .address6 = kPrinterTwoFamilies.addresses[1],
                                                       .toner = kLaserToner});
      link = std::make_unique<SnmpdAgent>(
          AgentConfig{.address4 = kPrinterLinkLocal.addresses[0], .toner = kLinkToner});
    });
    for (const auto& [queue, uri, exitCode, level] : kQueues) cups.addQueue(queue, uri);
  }
  std::unique_ptr<SnmpdAgent> laser, link;
  Cupsd cups;
};

class ServiceQueue : public PrintersSuite<Printers> {};

TEST_F(ServiceQueue, ReportsTheLevelOfThePrinterAnsweringSnmpV1) {
  for (auto [queue, uri, exitCode, level] : kQueues) {
    if (exitCode < 0) continue;
    const auto r = tool(queue);
    EXPECT_EQ(r.exitCode, exitCode) << queue;
    EXPECT_EQ(withoutIpv6ReadLines(r.out), level ? expectedReport(level) : "") << queue;
  }
}

// "Acme Mixed" has only its silent IPv6 address when the tool starts; its
// IPv4 address, answering SNMPv3 only, is published while the tool waits.
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

}  // namespace
}  // namespace usbink::test
