// SNMP v1 agent discovery: a GetRequest for sysObjectID sent to a
// broadcast, multicast or unicast address, from every local address or on
// a scanned IPv6 scope, and every answering agent whose sysObjectID names a
// target reported through the caller's callback. The IPv6 searches remember
// the interface of the first answer for later IPv6 requests.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>

#include "discovery/search.h"
#include "snmp/ber_back_writer.h"
#include "snmp/udp.h"
#include "snmp/v1_exchange.h"
#include "snmp/v1_message.h"
#include "usbink/ber.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"

namespace {

using usbink::UdpSocket;
using namespace usbink::discovery;

// Requests are built, and answers received, in buffers of this size.
constexpr std::size_t kSearchBufferSize = 256;
// The pause after each copy of a request, in microseconds.
constexpr useconds_t kCopyPause = 30;
// Scope identifiers the scans try: 0 up to this value (FindSnmpAgentV6),
// and 0 up to one less (the probe of FindSnmpAgent3Times).
constexpr int kLastScanScope = 65535;
constexpr char kLimitedBroadcast[] = "255.255.255.255";
constexpr char kAllNodes[] = "ff02::1";

// The discovery request: version 0, the community, then request_oid_pf.
// `oid` is only checked. The message length is one octet, so a community of
// more than 95 characters does not fit and is refused rather than cut.
class DiscoveryRequest {
 public:
  bool build(const char* community, const char* oid) {
    std::array<unsigned char, kOidEncodedMax> scratch{};
    if (oid == nullptr || CNetIO::oidEncode(oid, scratch.data()) < 1) return false;
    const bool useDefault = community == nullptr || *community == '\0';
    usbink::BerBackWriter writer(m_area);
    writer.bytes(request_oid_pf);
    if (!usbink::prependV1Header(writer, useDefault ? nullptr : community)) return false;
    m_message = writer.written();
    return true;
  }
  std::span<const unsigned char> bytes() const { return m_message; }

 private:
  std::array<unsigned char, kSearchBufferSize> m_area{};
  std::span<const unsigned char> m_message;
};

ssize_t sendCopies(UdpSocket& socket, const DiscoveryRequest& request, const auto& to) {
  return usbink::sendCopies(socket, request.bytes(), reinterpret_cast<const sockaddr*>(&to),
                            sizeof to, kCopyPause);
}

// Collects the answers on `socket` and reports each hit with the sender's
// address text. `beforeTest` (when set) runs for every datagram first.
template <typename Address>
void collectHits(CNetIO& io, UdpSocket& socket, Address& from, const HitReport& report,
                 const std::function<void(ssize_t)>& afterReceive = {},
                 const std::function<void()>& beforeTest = {}) {
  const auto handle = [&](std::span<unsigned char> answer) {
    if (beforeTest) beforeTest();
    if (!isDiscoveryHit(io, answer)) return;
    AddressText text = addressText(from);
    report(text.data());
  };
  std::array<unsigned char, kSearchBufferSize> buffer{};
  receiveAnswers(socket, buffer, reinterpret_cast<sockaddr*>(&from), sizeof from, afterReceive,
                 handle);
}

struct InterfaceListDeleter {
  void operator()(ifs_info* list) const { free_ifs_info(list); }
};
using InterfaceList = std::unique_ptr<ifs_info, InterfaceListDeleter>;

// The name of the first interface of `list` with index `scope`, or null.
const char* interfaceName(ifs_info* list, int scope) {
  const ifs_info* node = find_ifname(list, scope);
  return node != nullptr ? node->ifr_name : nullptr;
}

}  // namespace

bool CNetIO::FindSnmpAgent(const char* community, const char* address, const char* oid,
                           SnmpAgentCallback callback, void* user, bool broadcast) {
  const int family = usbink::firstAddressFamilyOrReport(address);
  if (family == -1) return true;
  if (family == AF_INET6)
    return FindSnmpAgentV6_(community, address, oid, callback, user, broadcast);
  DiscoveryRequest request;
  if (!request.build(community, oid)) return false;
  // A host name resolves but is no numeric address: nothing is sent, as in
  // FindSnmpAgentV6_.
  sockaddr_in target{};
  if (!usbink::snmpDestinationV4(address, &target)) return true;
  const HitReport report{callback, user};
  forEachAddressEntry(AF_INET, [&](const ifaddrs& entry) {
    const in_addr local = describeIpv4Entry(entry);
    UdpSocket socket(AF_INET);
    if (!socket.valid() || !prepareIpv4Socket(socket, local, broadcast)) return true;
    sockaddr_in to = target;
    if (sendCopies(socket, request, to) > 0) collectHits(*this, socket, to, report);
    return true;
  });
  return true;
}

// An address that inet_pton does not take (a scoped text such as
// "fe80::1%eth0", which getaddrinfo accepts, or none at all) gives no
// destination: nothing is sent and the result is true, as for a name that
// does not resolve.
bool CNetIO::FindSnmpAgentV6_(const char* community, const char* address, const char* oid,
                              SnmpAgentCallback callback, void* user, bool broadcast) {
  DiscoveryRequest request;
  if (!request.build(community, oid)) return false;
  sockaddr_in6 target{};
  if (!destinationV6(address, &target)) return true;
  const HitReport report{callback, user};
  forEachAddressEntry(AF_INET6, [&](const ifaddrs& entry) {
    UdpSocket socket;
    sockaddr_in6 local{};
    if (openIpv6EntrySocket(entry, address, broadcast, &socket, &local) != EntrySocket::kReady) {
      return true;
    }
    sockaddr_in6 to = target;
    to.sin6_scope_id = local.sin6_scope_id;
    if (!sendIpv6Request(socket, request.bytes(), to)) return true;
    const auto noteReceive = [](ssize_t n) {
      std::fprintf(stderr, "[ipv6 BC] nRecv = %d", static_cast<int>(n));
    };
    collectHits(*this, socket, to, report, noteReceive,
                [&] { rememberInterface(to.sin6_scope_id, entry.ifa_name); });
    return true;
  });
  return true;
}

// The scan ends with the first pass in which any datagram arrived. Passes
// whose send fails end at once; a pass that sends waits for answers, so a
// scan without answers on a remembered scope lasts its 65536 passes. An
// address that inet_pton does not take is refused as in FindSnmpAgentV6_.
bool CNetIO::FindSnmpAgentV6(const char* community, const char* address, const char* oid,
                             SnmpAgentCallback callback, void* user, bool broadcast) {
  DiscoveryRequest request;
  if (!request.build(community, oid)) return false;
  sockaddr_in6 target{};
  if (!destinationV6(address, &target)) return true;
  std::printf("ipv6=%s%%en0\n", address);
  const InterfaceList interfaces(get_ifs_info(0, 0));
  const HitReport report{callback, user, "szAddr="};
  ssize_t received = 0;
  const auto noteReceive = [&received](ssize_t n) {
    std::printf(" nRecv = %d", static_cast<int>(n));
    if (n > 0) received = n;
  };
  for (int pass = 0; pass <= kLastScanScope && received == 0; ++pass) {
    std::printf("\nfound=%d \n", static_cast<int>(received));
    UdpSocket socket(AF_INET6);
    if (!socket.valid()) {
      std::perror("socket failed");
      return false;
    }
    setSearchOptions(socket, broadcast);
    int scope = pass;
    if (scope_id > 0) {
      std::printf("[if] scope_id=%d", scope_id);
      scope = scope_id;
    }
    sockaddr_in6 to = target;
    to.sin6_scope_id = static_cast<std::uint32_t>(scope);
    const ssize_t sent = sendCopies(socket, request, to);
    std::printf("RecvAddr.sin6_scope_id=%d", scope);
    if (sent < 1) {
      std::perror("sendto failed");
      std::printf(" index = %d", pass);
      continue;
    }
    collectHits(*this, socket, to, report, noteReceive, [&] {
      const std::uint32_t sender = to.sin6_scope_id;
      rememberInterface(sender, interfaceName(interfaces.get(), static_cast<int>(sender)));
      std::printf("[find] scope id=%d", scope_id);
    });
    std::perror("nRecv failed");
  }
  return true;
}

namespace {

// FindSnmpAgent3Times's IPv4 half: the request sent to the limited
// broadcast from an unbound socket; an invalid socket when sending failed.
UdpSocket broadcastUnbound(const DiscoveryRequest& request, sockaddr_in* to) {
  usbink::snmpDestinationV4(kLimitedBroadcast, to);
  UdpSocket socket(AF_INET);
  if (!socket.valid()) return socket;
  setSearchOptions(socket, true);
  if (sendCopies(socket, request, *to) <= 0) return UdpSocket();
  return socket;
}

// FindSnmpAgent3Times's IPv6 half: the socket that sent to the all-nodes
// group on the scope that answers. While `*index` is -1 each pass probes
// with one request and waits for one answer, which it consumes untested;
// the answering pass is stored in `*index`, and later calls send their three
// copies at once. An invalid socket when no pass succeeded.
UdpSocket probeAllNodes(const DiscoveryRequest& request, int* index, sockaddr_in6* to) {
  for (int pass = 0; pass < kLastScanScope; ++pass) {
    UdpSocket probe(AF_INET6);
    if (!probe.valid()) {
      std::perror("socket failed");
      return probe;
    }
    setSearchOptions(probe, true);
    usbink::snmpDestinationV6(kAllNodes, static_cast<unsigned>(scope_id > 0 ? scope_id : pass), to);
    if (*index != -1) {
      sendCopies(probe, request, *to);
      return probe;
    }
    if (sendRequest(probe, request.bytes(), *to) <= 0) {
      std::perror("sendto failed");
      continue;
    }
    std::array<unsigned char, kSearchBufferSize> answer{};
    socklen_t fromLength = sizeof *to;
    if (probe.receiveFrom(answer.data(), answer.size(), reinterpret_cast<sockaddr*>(to),
                          &fromLength) > 0) {
      *index = pass;
      return probe;
    }
  }
  return UdpSocket();
}

}  // namespace

// IPv4 answers are collected first, then IPv6 ones, which wait in their
// socket meanwhile.
bool CNetIO::FindSnmpAgent3Times(const char* community, const char* oid, SnmpAgentCallback callback,
                                 void* user) {
  static int index = -1;
  DiscoveryRequest request;
  if (!request.build(community, oid)) return false;
  const HitReport report{callback, user};
  sockaddr_in to4{};
  UdpSocket socket4 = broadcastUnbound(request, &to4);
  sockaddr_in6 to6{};
  UdpSocket socket6 = probeAllNodes(request, &index, &to6);

  if (socket4.valid()) collectHits(*this, socket4, to4, report);
  if (socket6.valid()) {
    const InterfaceList interfaces(get_ifs_info(0, 0));
    collectHits(*this, socket6, to6, report, {}, [&] {
      rememberInterface(static_cast<std::uint32_t>(index), interfaceName(interfaces.get(), index));
    });
    std::perror("nRecv failed");
  }
  return true;
}
