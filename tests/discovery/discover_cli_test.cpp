// usbink-query discover on the segment, as an administrator or a script
// runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/printers.h"
#include "support/process.h"

namespace usbink::test {
namespace {

ProcessResult query(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {USBINK_QUERY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

// Without an address both families are searched, the IPv4 broadcast first;
// each printer of the default model is printed once, the first time it
// answers, however often it is reported. Targets replace the default model.
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
