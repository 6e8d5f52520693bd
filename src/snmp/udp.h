// A UDP socket that closes itself, and the few socket calls every SNMP
// exchange makes, each retried on EINTR.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace usbink {

// A receive loop ends after this many datagrams even while answers keep
// arriving, so that a peer that never stops sending cannot hold an exchange
// or a search forever; the printers of a segment stay far below it.
inline constexpr int kMaxAnswersPerLoop = 512;

class UdpSocket {
 public:
  UdpSocket() = default;
  // Opens a UDP socket of `family` (AF_INET or AF_INET6); check valid().
  explicit UdpSocket(int family);
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool valid() const { return m_fd >= 0; }
  int fd() const { return m_fd; }

  // Option setters; their results are returned but callers may ignore them.
  bool setBroadcast(bool on);
  bool setReceiveTimeout(long seconds, long microseconds);

  bool bindTo(const sockaddr* address, socklen_t length);
  // sendto/recvfrom with flags 0; -1 on error (errno kept).
  ssize_t sendTo(const void* data, size_t length, const sockaddr* to, socklen_t toLength);
  ssize_t receiveFrom(void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength);

 private:
  int m_fd = -1;
};

// The family of the first address getaddrinfo gives for `address` (no
// service, no hints), or -1 with the getaddrinfo error in `*error`. The
// resolver's list is released before returning.
int firstAddressFamily(const char* address, int* error);
// The same, writing "error in getaddrinfo: ..." on standard error when
// there is no address.
int firstAddressFamilyOrReport(const char* address);

// Destination on UDP port 161 from inet_pton: an IPv4 one, and an IPv6 one
// with the given scope. False for a null address or a text inet_pton does
// not accept: getaddrinfo also takes host names, and inet_addr would turn
// such a name into 255.255.255.255, so that a search would cover the whole
// segment and a read would go to the broadcast address; nothing is sent to
// such an address. "255.255.255.255" itself is a valid destination. Only
// the dotted-decimal form is taken: the shorthand forms inet_addr also read
// ("127.1", octal or hexadecimal parts) are refused, as a mistyped address
// should not reach some other host.
bool snmpDestinationV4(const char* address, sockaddr_in* out);
bool snmpDestinationV6(const char* address, unsigned int scope, sockaddr_in6* out);

}  // namespace usbink
