// Private network and name-lookup surroundings for a test process. Call
// these first in main() or a test environment, before any thread starts;
// every process the test starts afterwards shares them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace usbink::test {

// Moves this process into a fresh network namespace with loopback up and
// the given extra IPv6 addresses on it (127.0.0.0/8 and ::1 are always
// there). Nothing the test sends can then leave the machine, and agents of
// different test binaries cannot collide.
void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses = {});

// main() of an integration test binary: enters a private network with the
// given IPv6 addresses on loopback, then runs every test.
int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6Addresses = {});

// Gives this process its own /etc/hosts and an /etc/resolv.conf naming only
// 127.0.0.1, by bind mounts in a private mount namespace.
void usePrivateHosts(const std::string& hostsContent);

// True when the test runs as root (needed for namespaces and port 161).
bool isRoot();

// True when this thread's network namespace is not the machine's own, so
// that a test may reconfigure it.
bool inPrivateNetwork();

// Turns off IPv6 duplicate address detection in this thread's network
// namespace (or, with a name, in that named one), so that every address,
// the link-local ones included, is usable at once.
void disableDuplicateAddressDetection(const std::string& namespaceName = "");

// A named network namespace (`ip netns`), deleted with the object. Its name
// is `prefix` followed by the process ID, unique among parallel tests.
class NamedNamespace {
 public:
  explicit NamedNamespace(const std::string& prefix);
  ~NamedNamespace();
  NamedNamespace(const NamedNamespace&) = delete;
  NamedNamespace& operator=(const NamedNamespace&) = delete;
  const std::string& name() const { return m_name; }

  // Runs `work` with this thread inside the namespace, and returns to the
  // thread's own afterwards: sockets opened and processes started by `work`
  // belong to the namespace.
  void enter(const std::function<void()>& work) const;

 private:
  std::string m_name;
};

}  // namespace usbink::test
