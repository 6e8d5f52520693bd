// Device URIs of network queues turned into the addresses to ask, with the
// test's own /etc/hosts and no name server reachable.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/netns.h"
#include "tool/address_resolution.h"

namespace {

using Addresses = std::vector<std::pair<std::string, std::string>>;

Addresses resolve(const std::string& uri) {
  getAddressFromURL(uri);
  EXPECT_EQ(mDNSIP.size(), mDNSType.size());
  Addresses out;
  for (std::size_t i = 0; i < mDNSIP.size(); ++i) out.emplace_back(mDNSType[i], mDNSIP[i]);
  return out;
}

const Addresses kV4 = {{"IPv4", "127.0.0.5"}};

TEST(AddressResolution, HostSchemesInAnyCaseLookUpTheHost) {
  for (const char* uri : {"socket://127.0.0.5:9100", "SOCKET://127.0.0.5", "ipp://127.0.0.5/ipp/print",
                          "Ipp://127.0.0.5:631/printers/x", "lpd://127.0.0.5/queue", "LPD://127.0.0.5"}) {
    EXPECT_EQ(resolve(uri), kV4) << uri;
  }
}

TEST(AddressResolution, AnIPv6LiteralLosesItsBrackets) {
  EXPECT_EQ(resolve("ipp://[fd00:3::5]:631/ipp/print"), (Addresses{{"IPv6", "fd00:3::5"}}));
  EXPECT_EQ(resolve("socket://[0:0::1]"), (Addresses{{"IPv6", "::1"}}));
}

TEST(AddressResolution, ANameWithBothFamiliesGivesItsIPv6AddressOnly) {
  EXPECT_EQ(resolve("socket://dual.printers.test:9100"), (Addresses{{"IPv6", "fd00:3::7"}}));
  EXPECT_EQ(resolve("lpd://four.printers.test/q"), (Addresses{{"IPv4", "127.0.0.8"}}));
}

TEST(AddressResolution, GivesNothingForUnknownHostsAndOtherSchemes) {
  for (const char* uri : {"socket://nowhere.printers.test", "socket:///tmp/x", "usbx://Acme/Laser",
                          "usb://Acme/Laser", "http://127.0.0.5/", "socketx://127.0.0.5"}) {
    EXPECT_EQ(resolve(uri), Addresses{}) << uri;
  }
}

TEST(AddressResolution, EachCallReplacesTheLastOne) {
  EXPECT_EQ(resolve("socket://127.0.0.5"), kV4);
  EXPECT_EQ(resolve("socket://four.printers.test"), (Addresses{{"IPv4", "127.0.0.8"}}));
  EXPECT_EQ(resolve("usbx://x"), Addresses{});
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  usbink::test::enterPrivateNetwork({"fd00:3::5", "fd00:3::7"});
  usbink::test::usePrivateHosts(
      "127.0.0.1 localhost\n::1 localhost\nfd00:3::7 dual.printers.test\n"
      "127.0.0.7 dual.printers.test\n127.0.0.8 four.printers.test\n");
  return RUN_ALL_TESTS();
}
