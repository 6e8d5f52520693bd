// main() of the SNMP v1 integration tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/netns.h"

namespace usbink::test {

// Runs every test in a private network with `ipv6Addresses` on loopback
// and the name table `hosts`.
inline int runV1Tests(int argc, char** argv, const std::string& hosts,
                      const std::vector<std::string>& ipv6Addresses) {
  usePrivateHosts(hosts);
  return runInPrivateNetwork(argc, argv, ipv6Addresses);
}

}  // namespace usbink::test
