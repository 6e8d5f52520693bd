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
    const std::size_t from = printers().hostile().requestCount();
    Searcher io;
    Counts counts;
    EXPECT_TRUE(io.FindSnmpV3Agent(nullptr, c.address, nullptr,
                                   c.expected.empty() ? nullptr : record, &counts, c.broadcast));
    EXPECT_EQ(counts, c.expected);
    EXPECT_EQ(remembered(), std::string(c.address).find(':') != std::string::npos
                                ? clientInterface(0)
                                : "0 %en0");
    std::vector<Bytes> discoveries, gets;
    const auto all = printers().hostile().requests();
    for (std::size_t i = from; i < all.size(); ++i) {
      if (snmpVersion(all[i]) != 3) continue;
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
  const std::string kTry = "Try 'usbink-query --help' for more information.\n";
  std::string tooLong = "1.3";
  for (int i = 0; i < 40; ++i) tooLong += ".200";
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
      {{"discover", "--target=" + tooLong},
       2,
       "",
       "usbink-query: bad object identifier '" + tooLong + "' for '--target'\n" + kTry},
      {{"discover", "--target=1.3.6.1.4.1.1", "--target=1.3.6.1.4.1.2", "--target=1.3.6.1.4.1.3"},
       2,
       "",
       "usbink-query: at most two --target options\n" + kTry},
      {{"discover", "192.0.2.11", "192.0.2.12"},
       2,
       "",
       "usbink-query: 'discover' takes one address, not also '192.0.2.12'\n" + kTry},
      {{"discover", "--v1"},
       2,
       "",
       "usbink-query: unrecognized option '--v1' for 'discover'\n" + kTry},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.args.back().substr(0, 30));
    c.args.insert(c.args.begin(), USBINK_QUERY);
    const auto r = run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace usbink::test
