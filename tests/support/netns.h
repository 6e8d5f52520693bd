// Private network and name-lookup surroundings for a test process. Call
// these in main() or a test environment, before any thread starts; every
// process the test starts afterwards shares them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace usbink::test {

// A fresh network namespace for this process, loopback up with the given
// extra IPv6 addresses: nothing sent leaves the machine, and agents of
// different test binaries cannot collide.
void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses = {});
// main() of an integration test binary: root check, private network, tests.
int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6Addresses = {});
// Own /etc/hosts, and a resolv.conf naming only 127.0.0.1 (bind mounts in a
// private mount namespace).
void usePrivateHosts(const std::string& hostsContent);
bool isRoot();
// True when this thread's network namespace is not the machine's own.
bool inPrivateNetwork();
// Every IPv6 address usable at once, link-local ones included, in this
// thread's namespace or the named one.
void disableDuplicateAddressDetection(const std::string& namespaceName = "");

// A named network namespace (`ip netns`) "<prefix><PID>", deleted with the object.
class NamedNamespace {
 public:
  explicit NamedNamespace(const std::string& prefix);
  ~NamedNamespace();
  NamedNamespace(const NamedNamespace&) = delete;
  NamedNamespace& operator=(const NamedNamespace&) = delete;
  const std::string& name() const { return m_name; }
  // Runs `work` with this thread inside the namespace: the sockets it opens
  // and the processes it starts belong there.
  void enter(const std::function<void()>& work) const;

 private:
  std::string m_name;
};

}  // namespace usbink::test
