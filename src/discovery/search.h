// What the SNMP v1 and SNMPv3 agent searches share: the walk over the host's
// interface addresses and the lines that describe each, the sockets bound to
// them, the collection of answers, the interface remembered for later IPv6
// requests, and the report of a printer found.
#pragma once

#include <ifaddrs.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "snmp/udp.h"
#include "usbink/netio.h"

namespace usbink::discovery {

// Every search socket waits this long for each answer.
inline constexpr long kAnswerWaitSeconds = 1;
// Room for an address text: at most 255 characters and the NUL.
inline constexpr std::size_t kAddressTextSize = 256;
using AddressText = std::array<char, kAddressTextSize>;

// The SNMP destination for the IPv6 `address` with scope 0; false for a
// null text or one inet_pton does not take.
bool destinationV6(const char* address, sockaddr_in6* out);

// Calls `visit` with every entry of the host's interface addresses that
// carries an address of `family` (AF_INET or AF_INET6), in the system's
// order, while it returns true. When the addresses cannot be listed, nothing
// is visited after "[ipv4 BC] getifaddrs Error! errno" (or "[ipv6 BC] ...")
// through perror; an empty list visits nothing without a message. False
// when `visit` ended the walk.
bool forEachAddressEntry(int family, const std::function<bool(const ifaddrs&)>& visit);

// Writes "[ipv4 BC] " lines with the entry's name, address and netmask to
// standard error and returns its address.
in_addr describeIpv4Entry(const ifaddrs& entry);
// Writes the "[ipv6 BC] " lines with the entry's name, address, netmask and
// scope to standard error and returns its address; a scope of 0 is replaced
// by the index of the entry's interface.
sockaddr_in6 describeIpv6Entry(const ifaddrs& entry);

// Sets SO_BROADCAST on `socket` to `broadcast`, and its receive time-out to
// the answer wait.
void setSearchOptions(UdpSocket& socket, bool broadcast);

// Binds `socket` to `local` (port 0) and sets the search options. False,
// after "[ipv4 BC] ERROR on binding" through perror, when the bind fails.
bool prepareIpv4Socket(UdpSocket& socket, in_addr local, bool broadcast);
// The same for IPv6: binds to `local` with its scope, writes
// "tmpip=<address>%en0" (a log line) to standard output, then sets the
// options. The bind failure is reported as "[ipv6 BC] ERROR on binding".
bool prepareIpv6Socket(UdpSocket& socket, const sockaddr_in6& local, const char* address,
                       bool broadcast);

// What became of the socket for one IPv6 entry.
enum class EntrySocket {
  kReady,     // bound and set up
  kNotBound,  // the bind failed (reported); the entry is passed over
  kNone,      // no socket could be created (reported as "[ipv6 BC] socket failed")
};
// Describes the IPv6 `entry` (describeIpv6Entry) into `*local` and opens
// `*socket` for it (prepareIpv6Socket).
EntrySocket openIpv6EntrySocket(const ifaddrs& entry, const char* address, bool broadcast,
                                UdpSocket* socket, sockaddr_in6* local);
// Sends `request` once to `to` (a sockaddr_in or sockaddr_in6); what
// sendto returned.
template <typename Address>
ssize_t sendRequest(UdpSocket& socket, std::span<const unsigned char> request, const Address& to) {
  return socket.sendTo(request.data(), request.size(), reinterpret_cast<const sockaddr*>(&to),
                       sizeof to);
}
// Sends `request` once to `to`; false, after "[ipv6 BC] snedto failed"
// through perror, when nothing was sent.
bool sendIpv6Request(UdpSocket& socket, std::span<const unsigned char> request,
                     const sockaddr_in6& to);

// Receives datagrams into `buffer` until a receive returns 0 or less (the
// answer wait passed, or an error), at most kMaxAnswersPerLoop of them. Each
// sender is stored in `from`. `afterReceive` (when set) sees the result of
// every receive, the last one included; `handle` sees every datagram.
void receiveAnswers(UdpSocket& socket, std::span<unsigned char> buffer, sockaddr* from,
                    socklen_t fromSize, const std::function<void(ssize_t)>& afterReceive,
                    const std::function<void(std::span<unsigned char>)>& handle);

// The sender's address as text, without a scope suffix.
AddressText addressText(const sockaddr_in& address);
AddressText addressText(const sockaddr_in6& address);

// While no interface is remembered (scope_id 0 or less): `scope` becomes
// scope_id and, when `interfaceName` is given, "%" followed by it becomes
// g_ifsName (cut to the buffer).
void rememberInterface(std::uint32_t scope, const char* interfaceName);

// The caller's callback for a printer found, and the line written to
// standard output just before each call: `announce` followed by the address
// (nothing when `announce` is null). Nothing happens without a callback.
struct HitReport {
  SnmpAgentCallback callback = nullptr;
  void* user = nullptr;
  const char* announce = nullptr;
  void operator()(char* address) const;
};

// The answer test of the v1 search: `answer` is a GetResponse whose
// sysObjectID equals the start of one of `io`'s targets (CNetIO::parseForOID).
bool isDiscoveryHit(CNetIO& io, std::span<unsigned char> answer);

}  // namespace usbink::discovery
