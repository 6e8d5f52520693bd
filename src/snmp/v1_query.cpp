// SNMP v1 single-value queries: the printer name and the two firmware
// versions, each read with one GET that waits up to a second for the answer.
#include <netdb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "snmp/udp.h"
#include "snmp/v1_exchange.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

constexpr long kQueryTimeoutSeconds = 1;
// Pause after each copy of a query's request.
constexpr useconds_t kCopyPauseMicroseconds = 30;
constexpr std::size_t kRequestWorkSize = 1024;
constexpr std::size_t kQueryAnswerSize = 256;
constexpr std::size_t kIdentifierAreaSize = 128;

// Copies the string `value` to `out`, cut to `size` - 1 characters and
// terminated, so a value never overruns the caller's buffer.
void copyCut(const char* value, char* out, int size) {
  const std::size_t n = ::strnlen(value, static_cast<std::size_t>(size) - 1);
  std::copy_n(value, n, out);
  out[n] = '\0';
}

// One GET on an open socket: build the request, send its copies, receive
// the first answer, parse it and copy its value to `out`. A failed send (or
// a request that cannot be built) is reported with `perror(sendErrorPrefix)`
// when a prefix is given.
bool exchangeGet(usbink::UdpSocket& socket, const sockaddr* to, socklen_t toLength, char* community,
                 char* oid, char* out, int size, const char* sendErrorPrefix) {
  std::array<unsigned char, kRequestWorkSize> work{};
  const int built = CNetIO::BuildGetRequestFor(1, oid, community, work.data());
  const ssize_t sent =
      built > 0 ? usbink::sendCopies(socket, {work.data(), static_cast<std::size_t>(built)}, to,
                                     toLength, kCopyPauseMicroseconds)
                : -1;
  if (sent <= 0) {
    if (sendErrorPrefix != nullptr) std::perror(sendErrorPrefix);
    return false;
  }
  std::array<unsigned char, kQueryAnswerSize> answer;
  const ssize_t received = socket.receiveFrom(answer.data(), answer.size(), nullptr, nullptr);
  std::printf("NetSnmpGetV4 recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  std::array<char, kRecvBufSize> value{};
  if (CNetIO::parseForRecvBuf(answer.data(), static_cast<int>(received), value.data()) == 0) {
    return false;
  }
  copyCut(value.data(), out, size);
  return true;
}

// Asks `address` for the object `oid` with the default community: once over
// IPv4, up to twice over IPv6. Returns 0 when the value is in `out`, else -1.
int queryValue(CNetIO& net, const char* entryLine, const char* oid, const char* address, char* out,
               int size) {
  std::array<char, kIdentifierAreaSize> identifier{};
  std::copy_n(oid, std::min(std::strlen(oid), identifier.size() - 1), identifier.begin());
  std::array<char, sizeof kDefaultCommunity> community{};
  std::ranges::copy(kDefaultCommunity, community.begin());
  std::puts(entryLine);

  const int family = usbink::firstAddressFamilyOrReport(address);
  if (family < 0) return -1;
  if (family == AF_INET6) {
    const bool read = net.NetSnmpGetV6(address, community.data(), identifier.data(), out, size) ||
                      net.NetSnmpGetV6(address, community.data(), identifier.data(), out, size);
    return read ? 0 : -1;
  }
  return net.NetSnmpGetV4(address, community.data(), identifier.data(), out, size) ? 0 : -1;
}

}  // namespace

// Each query reads one value from the printer at `address` (read; numeric)
// into `out` (written, `size` characters with the terminator); `reserved`
// is not used. Returns 0, or -1.
int CNetIO::TavrenNetworkGetPrinterName(const char* address, unsigned char, char* out, int size) {
  return queryValue(*this, "TavrenNetworkGetPrinterName enter", kOidSysName, address, out, size);
}

int CNetIO::TavrenNetworkGetFwVersion(const char* address, unsigned char, char* out, int size) {
  return queryValue(*this, "TavrenNetworkGetFwVersion enter", kOidFwVersion, address, out, size);
}

int CNetIO::TavrenNetworkGetFwMCUVersion(const char* address, unsigned char, char* out, int size) {
  return queryValue(*this, "TavrenNetworkGetFwMCUVersion enter", kOidMcuVersion, address, out,
                    size);
}

// One GET of the identifier text `oid` (read) with `community` (read) from
// the IPv4 `address` (read; numeric, a host name fails before anything is
// sent); the value goes to `out` (written).
//
// `size` bounds the copy to `out`: a longer value is cut to `size` - 1
// characters. Without room for even the terminator (null `out`, `size`
// below 1) the GET fails before anything is sent.
bool CNetIO::NetSnmpGetV4(const char* address, char* community, char* oid, char* out, int size) {
  if (address == nullptr || out == nullptr || size < 1) return false;
  auto socket = usbink::openSnmpSocket(AF_INET, kQueryTimeoutSeconds, 0);
  if (!socket.valid()) return false;
  sockaddr_in to{};
  if (!usbink::snmpDestinationV4(address, &to)) return false;
  return exchangeGet(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to, community, oid, out,
                     size, nullptr);
}

// As NetSnmpGetV4; in addition a text inet_pton does not accept (a host
// name) fails before anything is sent, as the destination would be undefined.
bool CNetIO::NetSnmpGetV6(const char* address, char* community, char* oid, char* out, int size) {
  if (address == nullptr || out == nullptr || size < 1) return false;
  auto socket = usbink::openSnmpSocket(AF_INET6, kQueryTimeoutSeconds, 0);
  if (!socket.valid()) return false;
  sockaddr_in6 to{};
  if (!usbink::snmpDestinationV6(address, usbink::ipv6Scope(), &to)) return false;
  std::printf("scope id=%d", static_cast<int>(to.sin6_scope_id));
  return exchangeGet(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to, community, oid, out,
                     size, "getv6 nRet");
}
