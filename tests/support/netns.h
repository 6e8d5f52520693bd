// Private network and name-lookup surroundings for a test process. Call
// these first in main() or a test environment, before any thread starts;
// every process the test starts afterwards shares them.
#pragma once

#include <string>
#include <vector>

namespace usbink::test {

// Moves this process into a fresh network namespace with loopback up and
// the given extra IPv6 addresses on it (127.0.0.0/8 and ::1 are always
// there). Nothing the test sends can then leave the machine, and agents of
// different test binaries cannot collide.
// The host's own addresses in every private network.
inline constexpr char kPrivateNetworkIPv4[] = "198.18.0.1";
inline constexpr char kPrivateNetworkIPv6[] = "fd00:ffff::1";

void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses = {});

// Gives this process its own /etc/hosts and an /etc/resolv.conf naming only
// 127.0.0.1, by bind mounts in a private mount namespace.
void usePrivateHosts(const std::string& hostsContent);

// True when the test runs as root (needed for namespaces and port 161).
bool isRoot();

}  // namespace usbink::test

namespace usbink::test {

// main() of an integration test binary: enters a private network with the
// given IPv6 addresses on loopback, then runs every test.
int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6Addresses = {});

}  // namespace usbink::test
