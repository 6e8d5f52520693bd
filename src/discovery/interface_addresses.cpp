#include "discovery/interface_addresses.h"

#include <net/if.h>

namespace usbink::discovery {

unsigned int interfaceIndex(const char* name) {
  return ::if_nametoindex(name);
}

}  // namespace usbink::discovery
