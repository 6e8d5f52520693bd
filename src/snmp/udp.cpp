#include "snmp/udp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "usbink/netio.h"

namespace usbink {

UdpSocket::UdpSocket(int family) : m_fd(::socket(family, SOCK_DGRAM, IPPROTO_UDP)) {}

UdpSocket::~UdpSocket() {
  if (m_fd >= 0) ::close(m_fd);
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

bool UdpSocket::setBroadcast(bool on) {
  const int value = on ? 1 : 0;
  return ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

bool UdpSocket::setReceiveTimeout(long seconds, long microseconds) {
  const timeval limit{seconds, microseconds};
  return ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool UdpSocket::bindTo(const sockaddr* address, socklen_t length) {
  return ::bind(m_fd, address, length) == 0;
}

ssize_t UdpSocket::sendTo(const void* data, size_t length, const sockaddr* to, socklen_t toLength) {
  ssize_t n;
  do {
    n = ::sendto(m_fd, data, length, 0, to, toLength);
  } while (n < 0 && errno == EINTR);
  return n;
}

// A receive time-out set with SO_RCVTIMEO ends the wait with EAGAIN, which
// is returned; only an interruption by a signal is retried.
ssize_t UdpSocket::receiveFrom(void* buffer, size_t capacity, sockaddr* from,
                               socklen_t* fromLength) {
  ssize_t n;
  do {
    n = ::recvfrom(m_fd, buffer, capacity, 0, from, fromLength);
  } while (n < 0 && errno == EINTR);
  return n;
}

int firstAddressFamily(const char* address, int* error) {
  addrinfo* list = nullptr;
  *error = ::getaddrinfo(address, nullptr, nullptr, &list);
  if (*error != 0) return -1;
  const int family = list->ai_family;
  ::freeaddrinfo(list);
  return family;
}

int firstAddressFamilyOrReport(const char* address) {
  int error = 0;
  const int family = firstAddressFamily(address, &error);
  if (family == -1) std::fprintf(stderr, "error in getaddrinfo: %s\n", ::gai_strerror(error));
  return family;
}

bool snmpDestinationV4(const char* address, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(kSnmpPort);
  return address != nullptr && ::inet_pton(AF_INET, address, &out->sin_addr) == 1;
}

bool snmpDestinationV6(const char* address, unsigned int scope, sockaddr_in6* out) {
  *out = sockaddr_in6{};
  out->sin6_family = AF_INET6;
  out->sin6_port = htons(kSnmpPort);
  out->sin6_scope_id = scope;
  return address != nullptr && ::inet_pton(AF_INET6, address, &out->sin6_addr) == 1;
}

}  // namespace usbink
