// usbink-query discover on the segment, as an administrator or a script
// runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/discovery_test.h"
#include "support/process.h"

namespace usbink::test {
namespace {

ProcessResult query(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {USBINK_QUERY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Without an address both families are searched, the IPv4 broadcast first;
// each printer of the default model is printed once, the first time it
// answers, however often it is reported.
TEST(DiscoverCli, FindsTheDefaultModelOnBothFamiliesOnce) {
  const auto r = query({"discover"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "address: 192.0.2.11\nprotocol: SNMPv1\n"
            "address: 2001:db8::11\nprotocol: SNMPv1\n"
            "address: fe80::11\nprotocol: SNMPv1\n");
  EXPECT_EQ(r.err, "");
}

TEST(DiscoverCli, PrintsJsonLinesForEveryTarget) {
  const auto r = query({"--json", "discover", std::string("--target=") + kModelA,
                        std::string("--target=") + kModelB, "255.255.255.255"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(sortedLines(r.out),
            (std::vector<std::string>{"{\"address\":\"192.0.2.11\",\"protocol\":\"SNMPv1\"}",
                                      "{\"address\":\"192.0.2.12\",\"protocol\":\"SNMPv1\"}"}));
}

TEST(DiscoverCli, FindsV3OnlyPrintersWithV3) {
  const auto r = query({"discover", "--v3", "192.0.2.14"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "address: 192.0.2.14\nprotocol: SNMPv3\n");
}

TEST(DiscoverCli, ReportsWhenNoPrinterAnswers) {
  const auto r = query({"discover", "--target=1.3.6.1.4.1.9999.1", "192.0.2.11"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "usbink-query: discover: no answer from 192.0.2.11\n");
}

// A target must encode into a CNetIO target (at most 32 octets), and there
// are two targets at most.
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
    EXPECT_EQ(r.err.rfind("usage: usbink-query", 0), 0u);
  }
}

}  // namespace
}  // namespace usbink::test
