#include "snmpv3/v3_exchange.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "snmp/udp.h"
#include "snmp/v1_exchange.h"
#include "snmpv3/credentials.h"

namespace usbink {
namespace {

constexpr long kReceiveTimeoutSeconds = 1;
// Printer agents have engine IDs in the RFC 3411 format with this
// enterprise: the high bit, then the enterprise number 674.
constexpr std::array<unsigned char, 4> kPrinterEnginePrefix = {0x80, 0x00, 0x02, 0xA2};

sockaddr* asAddress(sockaddr_storage* s) {
  return reinterpret_cast<sockaddr*>(s);
}

void traceDiscoveryReceive(const V3Exchange& x, ssize_t received) {
  if (x.trace == V3Trace::kIpv6)
    std::fprintf(stderr, "[ipv6 BC] nRecv = %d", static_cast<int>(received));
  if (x.trace == V3Trace::kIpv4Query && received > 0) {
    const auto* from = reinterpret_cast<const sockaddr_in*>(&x.destination);
    std::printf("recvfrom nRecv = %d, szAddr=%s\n", static_cast<int>(received),
                inet_ntoa(from->sin_addr));
  }
}

// Sends the real request for the agent that answered the discovery and
// listens to its responses until the second socket has been silent for a
// second (or kMaxAnswersPerLoop of them arrived). True when any response
// delivered what the caller wanted.
bool askAgent(V3Exchange& x, _SNMP_PARAM_V3& params) {
  UdpSocket socket(x.family);
  if (!socket.valid()) return false;
  socket.setReceiveTimeout(kReceiveTimeoutSeconds, 0);
  V3Buffer request{};
  const int length = buildAgentRequest(params, x.oidCount, x.oids, request);
  // A request that could not be built is not sent (an empty datagram would
  // count as "sent in full").
  if (length <= 0 || socket.sendTo(request.data(), static_cast<size_t>(length),
                                   asAddress(&x.destination), x.destinationLength) != length) {
    return false;
  }
  bool delivered = false;
  V3Buffer response;
  for (int count = 0; count < kMaxAnswersPerLoop; ++count) {
    socklen_t fromLength = x.destinationLength;
    const ssize_t received = socket.receiveFrom(response.data(), response.size(),
                                                asAddress(&x.destination), &fromLength);
    if (received <= 0) return delivered;
    params.valueCallback = x.consumer;
    if (x.beforeResponseParse) x.beforeResponseParse();
    const std::span<unsigned char> message(response.data(), static_cast<std::size_t>(received));
    if (parsedClean(message, &params) && x.onResponse()) delivered = true;
  }
  return delivered;
}

}  // namespace

_SNMP_PARAM_V3 freshParams() {
  _SNMP_PARAM_V3 params{};
  const UsmCredentials c = usmCredentials();
  std::memcpy(params.userName, c.userName, sizeof c.userName);
  std::memcpy(params.authPassword, c.authPassword, sizeof c.authPassword);
  std::memcpy(params.privPassword, c.privPassword, sizeof c.privPassword);
  return params;
}

bool parsedClean(std::span<unsigned char> message, _SNMP_PARAM_V3* params) {
  unsigned char errorStatus = 0;
  unsigned char errorIndex = 0;
  return CNetIO::parseSnmpV3Response(message.data(), static_cast<int>(message.size()), nullptr,
                                     nullptr, &errorStatus, &errorIndex, params) != 0 &&
         errorStatus == 0;
}

bool isPrinterEngine(const _SNMP_PARAM_V3& params) {
  return params.engineIDLen >= static_cast<int>(kPrinterEnginePrefix.size()) &&
         std::memcmp(params.engineID, kPrinterEnginePrefix.data(), kPrinterEnginePrefix.size()) ==
             0;
}

int buildAgentRequest(_SNMP_PARAM_V3& params, int oidCount, const char** oids, V3Buffer& out) {
  return CNetIO::BuildSnmpV3RequestPacket(
      params.engineID, params.engineIDLen, params.engineBoots, params.engineTime, oidCount, oids,
      nullptr, nullptr, nullptr, params.userName, params.authPassword, params.privPassword,
      params.authKey, params.privKey, out.data());
}

V3Exchange v3ExchangeV4(const char* address, V3Trace trace) {
  V3Exchange x{};
  x.address = address;
  x.family = AF_INET;
  x.destinationLength = sizeof(sockaddr_in);
  // Without a numeric address the exchange sends nothing.
  sockaddr_in to{};
  x.destinationValid = snmpDestinationV4(address, &to);
  std::memcpy(&x.destination, &to, sizeof to);
  x.trace = trace;
  return x;
}

V3Exchange v3ExchangeV6(const char* address) {
  V3Exchange x{};
  x.address = address;
  x.family = AF_INET6;
  sockaddr_in6 to{};
  x.destinationValid = snmpDestinationV6(address, ipv6Scope(), &to);
  std::memcpy(&x.destination, &to, sizeof to);
  x.destinationLength = sizeof to;
  x.trace = V3Trace::kIpv6;
  return x;
}

bool runV3Exchange(V3Exchange& x) {
  V3Buffer discovery{};
  const int discoveryLength = CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID,
                                                                   discovery.data(), kV3BufferSize);
  ++SNMPv3RequestID;
  ++SNMPv3MsgID;
  UdpSocket socket = openSnmpSocket(x.family, kReceiveTimeoutSeconds, 0);
  if (!socket.valid() || !x.destinationValid) return false;
  if (x.trace == V3Trace::kIpv4Query) std::printf("ipv4=%s\n", x.address);

  const ssize_t sent = socket.sendTo(discovery.data(), static_cast<size_t>(discoveryLength),
                                     asAddress(&x.destination), x.destinationLength);
  if (x.trace == V3Trace::kIpv4Query) std::printf("sendto: nRet=%d\n", static_cast<int>(sent));
  if (sent <= 0) {
    if (x.trace == V3Trace::kIpv6) std::perror("[ipv6 BC] snedto failed");
    return false;
  }

  bool found = false;
  V3Buffer answer;
  for (int count = 0; count < kMaxAnswersPerLoop; ++count) {
    socklen_t fromLength = x.destinationLength;
    const ssize_t received =
        socket.receiveFrom(answer.data(), answer.size(), asAddress(&x.destination), &fromLength);
    traceDiscoveryReceive(x, received);
    if (received <= 0) return found;
    if (x.beforeDiscoveryParse) x.beforeDiscoveryParse();
    _SNMP_PARAM_V3 params = freshParams();
    const std::span<unsigned char> message(answer.data(), static_cast<std::size_t>(received));
    if (!parsedClean(message, &params) || !isPrinterEngine(params)) continue;
    if (askAgent(x, params)) found = true;
  }
  return found;
}

}  // namespace usbink
