// The host's interface addresses as getifaddrs lists them, released with
// the owning object.
#pragma once

#include <ifaddrs.h>

#include <memory>

namespace usbink::discovery {

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using InterfaceAddresses = std::unique_ptr<ifaddrs, IfaddrsDeleter>;

// The list, or null (errno set) when getifaddrs fails.
inline InterfaceAddresses interfaceAddresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return nullptr;
  return InterfaceAddresses(list);
}

// The index of the interface named `name`, 0 when there is none. (Kept
// apart from <net/if.h>, whose ifr_name macro clashes with ifs_info.)
unsigned int interfaceIndex(const char* name);

}  // namespace usbink::discovery
