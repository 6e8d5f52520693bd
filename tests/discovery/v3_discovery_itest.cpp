// SNMPv3 discovery on a real segment: snmpd and pysnmp printers with the
// system's USM user, one whose engine belongs to another enterprise, one of
// another vendor's model, and a raw responder that answers the real GET
// with an error status.
#include <gtest/gtest.h>

#include <string>

#include "discovery/printers.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

// The SNMPv3 requests the raw responder received during one search: engine
// discoveries and secured GETs.
struct V3Requests {
  std::vector<Bytes> discoveries;
  int gets = 0;
};

V3Requests searchV3(const char* address, bool broadcast, Counts* counts) {
  const std::size_t from = printers().hostile().requestCount();
  Searcher io;
  EXPECT_TRUE(
      io.FindSnmpV3Agent(nullptr, address, nullptr, counts ? record : nullptr, counts, broadcast));
  V3Requests out;
  const auto all = printers().hostile().requests();
  for (std::size_t i = from; i < all.size(); ++i) {
    if (snmpVersion(all[i]) != 3) continue;
    if ((all[i][v3Parts(all[i]).flags.content] & 0x01) != 0) {
      ++out.gets;
    } else {
      out.discoveries.push_back(all[i]);
    }
  }
  return out;
}

// Each printer agent of a target model is reported once per client
// interface; the other vendor's model, the engine of another enterprise
// (never asked) and the genErr answer are not. The responder with the error
// status is asked from both interfaces, with or without a callback, and
// every interface sends the one engine-discovery request of the call.
TEST(V3Discovery, Ipv4SearchReportsOnlyPrinterAgentsOfTheTargetModels) {
  Counts counts;
  V3Requests seen = searchV3("255.255.255.255", true, &counts);
  EXPECT_EQ(counts, (Counts{{"192.0.2.11", 2}, {"192.0.2.12", 2}, {"192.0.2.14", 2}}));
  EXPECT_EQ(seen.gets, 2);
  ASSERT_EQ(seen.discoveries.size(), 2u);
  EXPECT_EQ(seen.discoveries[0], seen.discoveries[1]);

  EXPECT_EQ(searchV3("192.0.2.16", false, nullptr).gets, 2);

  // The system refuses a broadcast on a socket without SO_BROADCAST.
  counts = {};
  seen = searchV3("255.255.255.255", false, &counts);
  EXPECT_TRUE(counts.empty());
  EXPECT_TRUE(seen.discoveries.empty() && seen.gets == 0);
}

// An IPv6 address goes to the IPv6 search, which asks the agent from every
// local address that reaches it and remembers the first interface that
// answered with a scope.
TEST(V3Discovery, Ipv6SearchReportsPerLocalAddressAndRemembersTheInterface) {
  forgetInterface();
  Counts counts;
  searchV3("fe80::14", false, &counts);
  EXPECT_EQ(counts, (Counts{{"2001:db8::14", 2}, {"fe80::14", 2}}));
  EXPECT_EQ(rememberedInterface(), clientInterface(0));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runDiscoveryTests(argc, argv);
}
