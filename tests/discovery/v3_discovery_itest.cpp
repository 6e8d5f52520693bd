// SNMPv3 discovery on the segment of printers.h, and usbink-query discover
// there as an administrator or a script runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/printers.h"
#include "support/process.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

// The raw responder's SNMPv3 requests during one search.
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
// interface; not the other vendor's model, the other enterprise's engine
// (never asked) nor the genErr answer. The responder is asked from both
// interfaces, callback or not, each sending the call's one engine
// discovery. The system refuses a broadcast without SO_BROADCAST; a host
// name is no numeric address and is searched nowhere.
TEST(V3Discovery, Ipv4SearchReportsOnlyPrinterAgentsOfTheTargetModels) {
  Counts counts;
  V3Requests seen = searchV3("255.255.255.255", true, &counts);
  EXPECT_EQ(counts, (Counts{{"192.0.2.11", 2}, {"192.0.2.12", 2}, {"192.0.2.14", 2}}));
  EXPECT_EQ(seen.gets, 2);
  ASSERT_EQ(seen.discoveries.size(), 2u);
  EXPECT_EQ(seen.discoveries[0], seen.discoveries[1]);

  EXPECT_EQ(searchV3("192.0.2.16", false, nullptr).gets, 2);
  Counts untargeted;  // before InitTargetOID no agent is one of the targets
  EXPECT_TRUE(CNetIO().FindSnmpV3Agent(nullptr, "192.0.2.14", nullptr, record, &untargeted, false));
  EXPECT_TRUE(untargeted.empty());

  for (auto [address, broadcast] : {std::pair{"255.255.255.255", false}, {"printer11", true}}) {
    counts = {};
    seen = searchV3(address, broadcast, &counts);
    EXPECT_TRUE(counts.empty()) << address;
    EXPECT_TRUE(seen.discoveries.empty() && seen.gets == 0) << address;
  }
}

// An IPv6 address asks the agent from every local address that reaches it
// and remembers the first interface answering with a scope.
TEST(V3Discovery, Ipv6SearchReportsPerLocalAddressAndRemembersTheInterface) {
  forgetInterface();
  Counts counts;
  searchV3("fe80::14", false, &counts);
  EXPECT_EQ(counts, (Counts{{"2001:db8::14", 2}, {"fe80::14", 2}}));
  EXPECT_EQ(rememberedInterface(), clientInterface(0));
}

ProcessResult query(std::vector<std::string> args) {
  args.insert(args.begin(), USBINK_QUERY);
  return run(args);
}

// Without an address both families are searched, the IPv4 broadcast first;
// each printer of the default model is printed once, however often it is
// reported. Targets replace the default model.
TEST(DiscoverCli, PrintsEachAnsweringPrinterOnce) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out, err;
  } cases[] = {
      {{"discover"},
       0,
       "address: 192.0.2.11\nprotocol: SNMPv1\naddress: 2001:db8::11\nprotocol: SNMPv1\n"
       "address: fe80::11\nprotocol: SNMPv1\n",
       ""},
      {{"--json", "discover", "--target=1.3.6.1.4.1.9999.1", std::string("--target=") + kModelA,
        "192.0.2.11"},
       0,
       "{\"address\":\"192.0.2.11\",\"protocol\":\"SNMPv1\"}\n",
       ""},
      {{"discover", "--v3", "192.0.2.14"}, 0, "address: 192.0.2.14\nprotocol: SNMPv3\n", ""},
      {{"discover", "--target=1.3.6.1.4.1.9999.1", "192.0.2.11"},
       1,
       "",
       "usbink-query: discover: no answer from 192.0.2.11\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto r = query(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

// A target must encode into 32 octets, and there are two at most.
TEST(DiscoverCli, RefusesWrongTargetsAndUsage) {
  std::string tooLong = "1.3";
  for (int i = 0; i < 40; ++i) tooLong += ".200";
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"discover", "--target=1.3.x"},
                                             {"discover", "--target=" + tooLong},
                                             {"discover", "--target=1.3.6.1.4.1.1",
                                              "--target=1.3.6.1.4.1.2", "--target=1.3.6.1.4.1.3"},
                                             {"discover", "192.0.2.11", "192.0.2.12"},
                                             {"discover", "--v1"}}) {
    const auto r = query(args);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.ends_with("Try 'usbink-query --help' for more information.\n")) << r.err;
  }
}

}  // namespace
}  // namespace usbink::test
