// main() of the SNMP v1 integration tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/netns.h"
#include "support/process.h"

namespace usbink::test {

// glibc's getaddrinfo without hints (AI_ADDRCONFIG) reports a dotted IPv4
// text as a v4-mapped IPv6 address while the host has IPv6 addresses but no
// IPv4 one beyond 127.0.0.1. A real host that reaches an IPv4 printer has
// one, so the private network gets one too.
class HostIpv4Address : public ::testing::Environment {
 public:
  void SetUp() override { runChecked({"ip", "addr", "add", "192.0.2.1/32", "dev", "lo"}); }
};

// Runs every test in a private network with `ipv6Addresses` on loopback,
// the host address above and the name table `hosts`.
inline int runV1Tests(int argc, char** argv, const std::string& hosts,
                      const std::vector<std::string>& ipv6Addresses) {
  usePrivateHosts(hosts);
  ::testing::AddGlobalTestEnvironment(new HostIpv4Address);
  return runInPrivateNetwork(argc, argv, ipv6Addresses);
}

}  // namespace usbink::test
