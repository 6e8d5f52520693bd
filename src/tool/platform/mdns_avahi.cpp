#include "tool/platform/mdns.h"

namespace usbink::platform {

std::vector<sockaddr_storage> resolvePrinterService(const std::string&) { return {}; }

}  // namespace usbink::platform
