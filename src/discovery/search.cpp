#include "discovery/search.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdio>

#include "discovery/interface_addresses.h"
#include "usbink/interfaces.h"

namespace usbink::discovery {
namespace {

// The text of an entry's netmask; empty when the entry has none.
template <typename Address>
AddressText netmaskText(const ifaddrs& entry) {
  if (entry.ifa_netmask == nullptr) return AddressText{};
  return addressText(*reinterpret_cast<const Address*>(entry.ifa_netmask));
}

// True when the entry carries an address of `family`.
bool hasFamily(const ifaddrs& entry, int family) {
  return entry.ifa_addr != nullptr && entry.ifa_addr->sa_family == family;
}

}  // namespace

bool destinationV6(const char* address, sockaddr_in6* out) {
  return snmpDestinationV6(address, 0, out);
}

bool forEachAddressEntry(int family, const std::function<bool(const ifaddrs&)>& visit) {
  const auto entries = interfaceAddresses();
  if (!entries) {
    std::perror(family == AF_INET6 ? "[ipv6 BC] getifaddrs Error! errno"
                                   : "[ipv4 BC] getifaddrs Error! errno");
    return true;
  }
  for (const ifaddrs* entry = entries->get(); entry != nullptr; entry = entry->ifa_next) {
    if (hasFamily(*entry, family) && !visit(*entry)) return false;
  }
  return true;
}

in_addr describeIpv4Entry(const ifaddrs& entry) {
  const auto& address = *reinterpret_cast<const sockaddr_in*>(entry.ifa_addr);
  std::fprintf(stderr, "[ipv4 BC] %s\n", entry.ifa_name);
  std::fprintf(stderr, "[ipv4 BC] IPv4   : %s\n", addressText(address).data());
  std::fprintf(stderr, "[ipv4 BC] netmask: %s\n", netmaskText<sockaddr_in>(entry).data());
  return address.sin_addr;
}

sockaddr_in6 describeIpv6Entry(const ifaddrs& entry) {
  sockaddr_in6 address = *reinterpret_cast<const sockaddr_in6*>(entry.ifa_addr);
  if (address.sin6_scope_id == 0) address.sin6_scope_id = interfaceIndex(entry.ifa_name);
  std::fprintf(stderr, "[ipv6 BC] %s\n", entry.ifa_name);
  std::fprintf(stderr, "[ipv6 BC] IPv6   : %s\n", addressText(address).data());
  std::fprintf(stderr, "[ipv6 BC] netmask: %s\n", netmaskText<sockaddr_in6>(entry).data());
  std::fprintf(stderr, "[ipv6 BC] sin6_scope_id: %d\n", static_cast<int>(address.sin6_scope_id));
  return address;
}

void setSearchOptions(UdpSocket& socket, bool broadcast) {
  socket.setBroadcast(broadcast);
  socket.setReceiveTimeout(kAnswerWaitSeconds, 0);
}

bool prepareIpv4Socket(UdpSocket& socket, in_addr local, bool broadcast) {
  setSearchOptions(socket, broadcast);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr = local;
  if (!socket.bindTo(reinterpret_cast<const sockaddr*>(&bound), sizeof bound)) {
    std::perror("[ipv4 BC] ERROR on binding");
    return false;
  }
  return true;
}

bool prepareIpv6Socket(UdpSocket& socket, const sockaddr_in6& local, const char* address,
                       bool broadcast) {
  sockaddr_in6 bound{};
  bound.sin6_family = AF_INET6;
  bound.sin6_addr = local.sin6_addr;
  bound.sin6_scope_id = local.sin6_scope_id;
  if (!socket.bindTo(reinterpret_cast<const sockaddr*>(&bound), sizeof bound)) {
    std::perror("[ipv6 BC] ERROR on binding");
    return false;
  }
  std::printf("tmpip=%s%%en0\n", address);
  setSearchOptions(socket, broadcast);
  return true;
}

EntrySocket openIpv6EntrySocket(const ifaddrs& entry, const char* address, bool broadcast,
                                UdpSocket* socket, sockaddr_in6* local) {
  *local = describeIpv6Entry(entry);
  *socket = UdpSocket(AF_INET6);
  if (!socket->valid()) {
    std::perror("[ipv6 BC] socket failed");
    return EntrySocket::kNone;
  }
  return prepareIpv6Socket(*socket, *local, address, broadcast) ? EntrySocket::kReady
                                                                : EntrySocket::kNotBound;
}

bool sendIpv6Request(UdpSocket& socket, std::span<const unsigned char> request,
                     const sockaddr_in6& to) {
  if (sendRequest(socket, request, to) > 0) return true;
  std::perror("[ipv6 BC] snedto failed");
  return false;
}

void receiveAnswers(UdpSocket& socket, std::span<unsigned char> buffer, sockaddr* from,
                    socklen_t fromSize, const std::function<void(ssize_t)>& afterReceive,
                    const std::function<void(std::span<unsigned char>)>& handle) {
  for (int count = 0; count < kMaxAnswersPerLoop; ++count) {
    socklen_t fromLength = fromSize;
    const ssize_t n = socket.receiveFrom(buffer.data(), buffer.size(), from, &fromLength);
    if (afterReceive) afterReceive(n);
    if (n <= 0) return;
    handle(buffer.first(static_cast<std::size_t>(n)));
  }
}

AddressText addressText(const sockaddr_in& address) {
  AddressText text{};
  ::inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size());
  return text;
}

AddressText addressText(const sockaddr_in6& address) {
  AddressText text{};
  ::inet_ntop(AF_INET6, &address.sin6_addr, text.data(), text.size());
  return text;
}

void rememberInterface(std::uint32_t scope, const char* interfaceName) {
  if (scope_id > 0) return;
  scope_id = static_cast<int>(scope);
  if (interfaceName != nullptr) std::snprintf(g_ifsName, kIfsNameSize, "%%%s", interfaceName);
}

void HitReport::operator()(char* address) const {
  if (callback == nullptr) return;
  if (announce != nullptr) std::printf("%s%s\n", announce, address);
  callback(address, nullptr, user);
}

// A sysObjectID longer than a target's 32 octets is no hit, and the
// comparison never reaches past a target (see parseForOID).
bool isDiscoveryHit(CNetIO& io, std::span<unsigned char> answer) {
  return io.parseForOID(answer.data(), static_cast<int>(answer.size()), nullptr, 0) == 1;
}

}  // namespace usbink::discovery
