// The TCP connection operations of CNetIO: connect to a printer by address
// and port (IPv6 on the interface remembered by discovery), read, write and
// close, all on the object's cancellable CSocket.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "snmp/udp.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"

namespace {

// Room for the logged IPv6 address followed by g_ifsName, with its NUL.
constexpr int kScopedTextSize = 256;
// What the connect operations return when nothing was connected to.
constexpr int kNotConnected = -1;

std::uint16_t networkPort(int port) {
  return htons(static_cast<std::uint16_t>(port));
}

// False when inet_pton does not accept `server`: getaddrinfo also takes a
// host name, which inet_addr would turn into 255.255.255.255 instead of the
// address it resolved to, so a name connects to nothing.
bool streamDestinationV4(const char* server, int port, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = networkPort(port);
  return ::inet_pton(AF_INET, server, &out->sin_addr) == 1;
}

// False when inet_pton does not accept `server`, so that nothing connects to
// an undefined (or the unspecified, that is local) address. A scope of 0 or
// less means no interface has been chosen yet.
bool streamDestinationV6(const char* server, int port, sockaddr_in6* out) {
  *out = sockaddr_in6{};
  out->sin6_family = AF_INET6;
  out->sin6_port = networkPort(port);
  out->sin6_scope_id = scope_id > 0 ? static_cast<std::uint32_t>(scope_id) : 0;
  return ::inet_pton(AF_INET6, server, &out->sin6_addr) == 1;
}

// `server` followed by g_ifsName in `out`; false when that does not fit.
// g_ifsName is read within its bounds even should it lack its NUL.
bool formScopedText(const char* server, std::array<char, kScopedTextSize>& out) {
  const int nameLength = static_cast<int>(::strnlen(g_ifsName, kIfsNameSize));
  const int n = std::snprintf(out.data(), out.size(), "%s%.*s", server, nameLength, g_ifsName);
  return n >= 0 && n < static_cast<int>(out.size());
}

}  // namespace

// The log lines go to standard error, so that they never mix into a host
// application's standard output. A null `server` connects to nothing; so
// does a host name, refused before the current connection is replaced.
int CNetIO::NetworkConnect(char* server, int port) {
  if (server == nullptr) return kNotConnected;
  std::fprintf(stderr, "NetworkConnect server=%s\n", server);
  const int family = usbink::firstAddressFamilyOrReport(server);
  if (family == -1) return kNotConnected;
  if (family == AF_INET6) {
    const int result = NetworkConnectV6(server, port);
    std::fprintf(stderr, "nReturn = %x\n", static_cast<unsigned>(result));
    return result;
  }
  sockaddr_in to;
  if (!streamDestinationV4(server, port, &to)) return kNotConnected;
  if (m_stream.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP) != 0) return kNotConnected;
  return m_stream.Connect(reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// A scoped text that does not fit its buffer is refused, not cut, and an
// address that inet_pton rejects is refused before the current connection
// is replaced; both without a log line of their own.
int CNetIO::NetworkConnectV6(char* server, int port) {
  if (server == nullptr) return kNotConnected;
  std::array<char, kScopedTextSize> scoped{};
  if (!formScopedText(server, scoped)) return kNotConnected;
  std::fprintf(stderr, "NetworkConnectV6=%s\n", scoped.data());
  sockaddr_in6 to;
  if (!streamDestinationV6(server, port, &to)) return kNotConnected;
  if (m_stream.Open(AF_INET6, SOCK_STREAM, IPPROTO_TCP) != 0) return kNotConnected;
  const int result = m_stream.Connect(reinterpret_cast<const sockaddr*>(&to), sizeof to);
  std::fprintf(stderr, "nRet = %x\n", static_cast<unsigned>(result));
  return result;
}

// The error code of the transfer is dropped: a caller compares the count
// with `length`. On a closed socket `done` stays 0.
unsigned long CNetIO::NetworkWrite(int, void* buffer, unsigned long length) {
  unsigned long done = 0;
  m_stream.Write(buffer, length, &done);
  return done;
}

unsigned long CNetIO::NetworkRead(int, void* buffer, unsigned long length) {
  unsigned long done = 0;
  m_stream.Read(buffer, length, &done);
  return done;
}

void CNetIO::NetworkClose(int) {
  m_stream.Close();
}
