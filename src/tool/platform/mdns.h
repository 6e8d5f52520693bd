// Multicast-DNS resolution of a printer service instance.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

namespace usbink::platform {

// The wait budget of one resolution, and how many addresses end it early.
inline constexpr std::chrono::milliseconds kServiceWaitBudget{3000};
inline constexpr std::size_t kEnoughServiceAddresses = 2;

// Resolves the instance `instanceName` of type "_printer._tcp" in the
// "local" domain. Returns the socket addresses (IPv4 and IPv6) in the order
// they arrived; the wait ends as soon as kEnoughServiceAddresses have
// arrived or after kServiceWaitBudget. Every platform object is released
// before returning. No daemon, a daemon that dies, or an unknown name: an
// empty list, and nothing is written.
std::vector<sockaddr_storage> resolvePrinterService(const std::string& instanceName);

}  // namespace usbink::platform
