#include "discovery/segment.h"

#include <net/if.h>

#include <stdexcept>

#include "support/process.h"

namespace usbink::test {
namespace {

constexpr const char* kBridge = "br0";
constexpr const char* kHostInterface = "eth0";

void joinBridge(const std::string& port, const std::string& switchNamespace) {
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "master", kBridge});
  runChecked({"ip", "-n", switchNamespace, "link", "set", port, "up"});
}

}  // namespace

SegmentHost::SegmentHost(const std::string& switchNamespace, int number)
    : m_number(number), m_namespace("usbink-dsc-h" + std::to_string(number) + "-") {
  const std::string& ns = m_namespace.name();
  const std::string port = "h" + std::to_string(number);
  disableDuplicateAddressDetection(ns);
  runChecked({"ip", "-n", ns, "link", "set", "lo", "up"});
  runChecked({"ip", "-n", switchNamespace, "link", "add", port, "type", "veth", "peer", "name",
              kHostInterface, "netns", ns});
  joinBridge(port, switchNamespace);
  // No link-local address derived from the MAC: fe80::N is the only one, so
  // that answers come from a known address.
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "addrgenmode", "none"});
  runChecked({"ip", "-n", ns, "addr", "add", address4() + "/24", "dev", kHostInterface});
  for (const auto& a : {address6(), linkLocal()}) {
    runChecked({"ip", "-n", ns, "addr", "add", a + "/64", "dev", kHostInterface, "nodad"});
  }
  runChecked({"ip", "-n", ns, "link", "set", kHostInterface, "up"});
}

std::string SegmentHost::address4() const {
  return "192.0.2." + std::to_string(m_number);
}
std::string SegmentHost::address6() const {
  return "2001:db8::" + std::to_string(m_number);
}
std::string SegmentHost::linkLocal() const {
  return "fe80::" + std::to_string(m_number);
}

DiscoverySegment::DiscoverySegment() {
  if (!inPrivateNetwork()) {
    throw std::runtime_error(
        "DiscoverySegment reconfigures its caller's network: use a private one");
  }
  const std::string& sw = m_switch.name();
  runChecked({"ip", "-n", sw, "link", "add", kBridge, "type", "bridge", "mcast_snooping", "0"});
  runChecked({"ip", "-n", sw, "link", "set", kBridge, "up"});
  disableDuplicateAddressDetection();
  for (int i = 0; i < kClientInterfaceCount; ++i) {
    const std::string port = "c" + std::to_string(i);
    runChecked({"ip", "link", "add", kClientInterfaces[i], "type", "veth", "peer", "name", port,
                "netns", sw});
    joinBridge(port, sw);
    runChecked({"ip", "addr", "add", std::string(kClientAddresses4[i]) + "/24", "dev",
                kClientInterfaces[i]});
    runChecked({"ip", "addr", "add", std::string(kClientAddresses6[i]) + "/64", "dev",
                kClientInterfaces[i], "nodad"});
    runChecked({"ip", "link", "set", kClientInterfaces[i], "up"});
  }
  // A limited broadcast from a socket bound to no address needs a route to
  // leave by; inside the private namespace it still reaches only the bridge.
  runChecked({"ip", "route", "add", "default", "dev", kClientInterfaces[0]});
}

SegmentHost& DiscoverySegment::addHost(int number) {
  m_hosts.push_back(std::make_unique<SegmentHost>(m_switch.name(), number));
  return *m_hosts.back();
}

const SegmentHost& DiscoverySegment::host(int number) const {
  for (const auto& h : m_hosts) {
    if (h->number() == number) return *h;
  }
  throw std::out_of_range("no host " + std::to_string(number) + " on the segment");
}

int DiscoverySegment::interfaceIndex(const std::string& name) {
  return static_cast<int>(if_nametoindex(name.c_str()));
}

std::string DiscoverySegment::interfaceName(int index) {
  char name[IF_NAMESIZE] = {};
  return if_indextoname(static_cast<unsigned>(index), name) != nullptr ? name : "";
}

}  // namespace usbink::test
