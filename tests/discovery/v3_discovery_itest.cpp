// SNMPv3 discovery on a real segment: snmpd and pysnmp printers with the
// system's USM user, one whose engine belongs to another enterprise, one of
// another vendor's model, and a raw responder that answers the real GET
// with an error status.
#include <gtest/gtest.h>

#include <string>

#include "discovery/discovery_test.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

using Counts = std::map<std::string, int>;

// A CNetIO whose targets are the two printer models.
struct Searcher : CNetIO {
  Searcher() { InitTargetOID(kModelA, kModelB); }
};

// The SNMPv3 requests the raw responder received from index `from` on:
// engine discoveries and secured GETs.
struct V3Requests {
  std::vector<Bytes> discoveries;
  int gets = 0;
};
V3Requests v3RequestsSince(std::size_t from) {
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
// (never asked) and the genErr answer are not.
TEST(V3Discovery, BroadcastReportsPrinterAgentsOfTheTargetModels) {
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  Reports reports;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, "255.255.255.255", nullptr, record, &reports, true));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(reports.counts(), (Counts{{"192.0.2.11", 2}, {"192.0.2.12", 2}, {"192.0.2.14", 2}}));
  EXPECT_NE(out.find("FindSnmpV3Agent szAddr=192.0.2.14\n"), std::string::npos);

  // The responder with the error status was asked, from both interfaces,
  // and every interface sent the one engine-discovery request of the call.
  const V3Requests seen = v3RequestsSince(before);
  EXPECT_EQ(seen.gets, 2);
  ASSERT_EQ(seen.discoveries.size(), 2u);
  EXPECT_EQ(seen.discoveries[0], seen.discoveries[1]);
}

TEST(V3Discovery, BroadcastRefusedWithoutSoBroadcastFindsNothing) {
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  Reports reports;
  EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, "255.255.255.255", nullptr, record, &reports, false));
  EXPECT_TRUE(reports.addresses.empty());
  EXPECT_EQ(printers().hostile().requestCount(), before);
}

// An IPv6 address goes to the IPv6 search, which asks the agent from every
// local address that reaches it and remembers the first interface that
// answered with a scope.
TEST(V3Discovery, Ipv6SearchReportsPerLocalAddressAndRemembersTheInterface) {
  forgetInterface();
  Searcher io;
  Reports reports;
  EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, "fe80::14", nullptr, record, &reports, false));
  EXPECT_EQ(reports.counts(), (Counts{{"2001:db8::14", 2}, {"fe80::14", 2}}));
  EXPECT_EQ(scope_id, DiscoverySegment::clientIndex(0));
  EXPECT_STREQ(g_ifsName, ("%" + std::string(kClientInterfaces[0])).c_str());
}

TEST(V3Discovery, WithoutCallbackTheExchangesStillRun) {
  const std::size_t before = printers().hostile().requestCount();
  Searcher io;
  EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, "192.0.2.16", nullptr, nullptr, nullptr, false));
  EXPECT_EQ(v3RequestsSince(before).gets, 2);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runDiscoveryTests(argc, argv);
}
