// SNMPv3 agent discovery: an engine-discovery request sent from every local
// address to a broadcast, multicast or unicast address; every printer agent
// (engine ID 80 00 02 A2 ...) that answers gets the authenticated, encrypted
// GET of sysObjectID, sysName and the device ID on a second socket, and is
// reported when its answer passes the agent test.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>

#include "discovery/search.h"
#include "snmp/udp.h"
#include "snmpv3/v3_exchange.h"
#include "usbink/agent_values.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

using usbink::UdpSocket;
using usbink::V3Buffer;
using namespace usbink::discovery;

// The pause after the IPv4 engine-discovery request, in microseconds.
constexpr useconds_t kSendPause = 30;
// The real GET asks for sysObjectID, sysName and the device ID.
constexpr int kObjectCount = 3;

// The engine-discovery request of one search, the same from every local
// address; building it advances both request counters.
class EngineRequest {
 public:
  EngineRequest() {
    m_length = CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID, m_bytes.data(),
                                                    usbink::kV3BufferSize);
    ++SNMPv3RequestID;
    ++SNMPv3MsgID;
  }
  std::span<const unsigned char> bytes() const {
    return {m_bytes.data(), static_cast<std::size_t>(std::max(m_length, 0))};
  }

 private:
  V3Buffer m_bytes{};
  int m_length = 0;
};

// The objects of the real GET, encoded into the agent value table where
// searchAgentProCallbackEx2 looks for them.
void encodeRequestedObjects() {
  CNetIO::oidEncode(kOidSysObjectId, _sysObjIdOid);
  CNetIO::oidEncode(kOidSysName, _sysNameOid);
  CNetIO::oidEncode(kOidDeviceId, _pvtDevIdOid);
}

// What a search from one local address needs besides its sockets. The
// search over IPv4 and over IPv6 differ only in their lines and in how a
// second socket that cannot be bound is reported.
struct Search {
  bool ipv6;
  HitReport report;
  // The agent test on the sysObjectID the last response filed.
  std::function<bool()> agentPasses;
};

// One response of the real GET: the parse files the sysObjectID (and
// sysName) in the agent value table; a clean one whose sysObjectID passes
// the agent test is reported with `sender`. The stored sysObjectID is
// forgotten first, so that a response without one is tested on nothing
// rather than on an earlier agent's.
template <typename Address>
void handleResponse(const Search& s, std::span<unsigned char> response, _SNMP_PARAM_V3& params,
                    const Address& sender) {
  params.valueCallback = searchAgentProCallbackEx2;
  _sysObjIdLen = 0;
  if (!s.ipv6) std::puts("parseSnmpV3Response begin");
  const bool clean = usbink::parsedClean(response, &params);
  if (!s.ipv6) std::puts(clean ? "parseSnmpV3Response end1" : "parseSnmpV3Response end");
  if (!clean || !s.agentPasses()) return;
  AddressText text = addressText(sender);
  s.report(text.data());
}

// Asks the agent whose engine-discovery answer is `answer` (sent from
// `agent`) for the three objects, on a second socket bound to `local`,
// and handles its responses until that socket has waited in vain.
template <typename Address>
void askAgent(const Search& s, std::span<unsigned char> answer, Address& agent,
              const Address& local) {
  _SNMP_PARAM_V3 params = usbink::freshParams();
  if (!usbink::parsedClean(answer, &params) || !usbink::isPrinterEngine(params)) return;
  UdpSocket socket(reinterpret_cast<const sockaddr*>(&local)->sa_family);
  if (!socket.valid()) return;
  socket.setReceiveTimeout(kAnswerWaitSeconds, 0);
  if (!socket.bindTo(reinterpret_cast<const sockaddr*>(&local), sizeof local)) {
    if (!s.ipv6) std::perror("nSendSock2 [ipv4 BC] ERROR on binding");
    return;
  }
  const char* objects[kObjectCount] = {kOidSysObjectId, kOidSysName, kOidDeviceId};
  V3Buffer request{};
  const int length = usbink::buildAgentRequest(params, kObjectCount, objects, request);
  if (s.ipv6) std::printf("snmpv3RequestPacketLen = %d", length);
  // A request that could not be built is not sent.
  if (length <= 0) return;
  const auto message = std::span(request).first(static_cast<std::size_t>(length));
  if (sendRequest(socket, message, agent) != length) return;
  const auto noteReceive = [&](ssize_t n) {
    if (!s.ipv6) {
      std::printf("recvfrom nRecv2 = %d, szAddr=%s\n", static_cast<int>(n),
                  addressText(agent).data());
    } else if (n > 0) {
      std::printf("szAddr=%s\n", addressText(agent).data());
    }
  };
  V3Buffer response{};
  receiveAnswers(socket, response, reinterpret_cast<sockaddr*>(&agent), sizeof agent, noteReceive,
                 [&](std::span<unsigned char> r) { handleResponse(s, r, params, agent); });
  if (!s.ipv6) std::puts("break");
}

}  // namespace

// The agent test compares the sysObjectID the agent sent in its response
// with the two targets, as v1 discovery does, so that both report the same
// kind of printer: searchAgentProCallbackEx2 files it for the test, and an
// answer without a sysObjectID (or with one longer than a target) is no hit.
bool CNetIO::FindSnmpV3Agent(const char* community, const char* address, const char* oid,
                             SnmpAgentCallback callback, void* user, bool broadcast) {
  const int family = usbink::firstAddressFamilyOrReport(address);
  if (family == -1) return true;
  if (family == AF_INET6)
    return FindSnmpV3AgentV6_(community, address, oid, callback, user, broadcast);
  // A host name resolves but is no numeric address: nothing is sent.
  sockaddr_in target{};
  if (!usbink::snmpDestinationV4(address, &target)) return true;
  const EngineRequest request;
  encodeRequestedObjects();
  const auto agentPasses = [this] { return matchesTarget(_sysObjIdValue, _sysObjIdLen); };
  const Search search{false, {callback, user, "FindSnmpV3Agent szAddr="}, agentPasses};
  forEachAddressEntry(AF_INET, [&](const ifaddrs& entry) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = describeIpv4Entry(entry);
    UdpSocket socket(AF_INET);
    if (!socket.valid() || !prepareIpv4Socket(socket, local.sin_addr, broadcast)) return true;
    sockaddr_in to = target;
    std::printf("ipv4=%s\n", address);
    const ssize_t sent = sendRequest(socket, request.bytes(), to);
    std::printf("sendto: nRet=%d\n", static_cast<int>(sent));
    ::usleep(kSendPause);
    if (sent <= 0) return true;
    const auto noteReceive = [&](ssize_t n) {
      if (n > 0) {
        std::printf("recvfrom nRecv = %d, szAddr=%s\n", static_cast<int>(n),
                    addressText(to).data());
      }
    };
    V3Buffer answer{};
    receiveAnswers(socket, answer, reinterpret_cast<sockaddr*>(&to), sizeof to, noteReceive,
                   [&](std::span<unsigned char> a) { askAgent(search, a, to, local); });
    return true;
  });
  return true;
}

// An address that inet_pton does not take (or none) gives no destination:
// nothing is sent and the result is true, as in the v1 searches.
bool CNetIO::FindSnmpV3AgentV6_(const char*, const char* address, const char*,
                                SnmpAgentCallback callback, void* user, bool broadcast) {
  sockaddr_in6 target{};
  if (!destinationV6(address, &target)) return true;
  const EngineRequest request;
  encodeRequestedObjects();
  const auto agentPasses = [this] { return matchesTarget(_sysObjIdValue, _sysObjIdLen); };
  const Search search{true, {callback, user, "FindSnmpV3AgentV6_ szAddr="}, agentPasses};
  // An entry for which no socket can be created ends the search with false.
  return forEachAddressEntry(AF_INET6, [&](const ifaddrs& entry) {
    UdpSocket socket;
    sockaddr_in6 local{};
    const EntrySocket opened = openIpv6EntrySocket(entry, address, broadcast, &socket, &local);
    if (opened != EntrySocket::kReady) return opened == EntrySocket::kNotBound;
    sockaddr_in6 to = target;
    to.sin6_scope_id = local.sin6_scope_id;
    if (!sendIpv6Request(socket, request.bytes(), to)) return true;
    const auto noteReceive = [&](ssize_t n) {
      std::printf("szAddr=%s\n", addressText(to).data());
      std::fprintf(stderr, "[ipv6 BC] nRecv = %d", static_cast<int>(n));
    };
    V3Buffer answer{};
    receiveAnswers(socket, answer, reinterpret_cast<sockaddr*>(&to), sizeof to, noteReceive,
                   [&](std::span<unsigned char> a) {
                     rememberInterface(to.sin6_scope_id, entry.ifa_name);
                     askAgent(search, a, to, local);
                   });
    return true;
  });
}
