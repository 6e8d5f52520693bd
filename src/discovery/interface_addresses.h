// The host's interface addresses as getifaddrs lists them, released with
// the owning object.
#pragma once

#include <ifaddrs.h>

#include <memory>
#include <optional>

namespace usbink::discovery {

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using InterfaceAddresses = std::unique_ptr<ifaddrs, IfaddrsDeleter>;

// The list (null when it is empty), or nothing (errno set) when getifaddrs
// fails: an empty list is no failure and is not reported as one.
inline std::optional<InterfaceAddresses> interfaceAddresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  return InterfaceAddresses(list);
}

// The index of the interface named `name`, 0 when there is none. (Kept
// apart from <net/if.h>, whose ifr_name macro clashes with ifs_info.)
unsigned int interfaceIndex(const char* name);

}  // namespace usbink::discovery
