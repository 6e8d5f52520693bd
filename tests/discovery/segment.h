// A broadcast and multicast segment for discovery tests, built from network
// namespaces: a bridge in a switch namespace; the calling process's private
// namespace as the client, joined to the bridge by two veth pairs; and one
// namespace per printer host, each joined by a veth pair of its own. Only
// 192.0.2.0/24, 2001:db8::/64 and link-local addresses are used, and nothing
// routes out of the namespaces.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"

namespace usbink::test {

// The client's interfaces in the system's order; the second has a name of
// 15 characters, the longest Linux allows.
inline constexpr int kClientInterfaceCount = 2;
inline constexpr const char* kClientInterfaces[kClientInterfaceCount] = {"dsc-c0",
                                                                         "discovery-cl-15"};
inline constexpr const char* kClientAddresses4[kClientInterfaceCount] = {"192.0.2.100",
                                                                         "192.0.2.101"};
inline constexpr const char* kClientAddresses6[kClientInterfaceCount] = {"2001:db8::100",
                                                                         "2001:db8::101"};

// A host on the segment with host number N: its one interface "eth0" holds
// 192.0.2.N/24, 2001:db8::N/64 and fe80::N/64, its only link-local address.
class SegmentHost {
 public:
  SegmentHost(const std::string& switchNamespace, int number);
  int number() const { return m_number; }
  std::string address4() const;
  std::string address6() const;
  std::string linkLocal() const;
  // Runs `work` with this thread in the host's namespace (see NamedNamespace).
  void enter(const std::function<void()>& work) const { m_namespace.enter(work); }

 private:
  int m_number;
  NamedNamespace m_namespace;
};

class DiscoverySegment {
 public:
  // Brings the bridge and the client side up; throws std::runtime_error when
  // the caller's network is the machine's own or a command fails.
  DiscoverySegment();
  SegmentHost& addHost(int number);
  // The host added with `number`; throws std::out_of_range when there is none.
  const SegmentHost& host(int number) const;
  // The interface index of client interface `i`.
  static int clientIndex(int i) { return interfaceIndex(kClientInterfaces[i]); }
  // The index of the interface `name` (0 when there is none), and the name
  // of the interface with `index` ("" when there is none).
  static int interfaceIndex(const std::string& name);
  static std::string interfaceName(int index);

 private:
  NamedNamespace m_switch{"usbink-dsc-sw-"};
  std::vector<std::unique_ptr<SegmentHost>> m_hosts;
};

}  // namespace usbink::test
