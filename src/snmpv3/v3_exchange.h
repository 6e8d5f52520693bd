// The two-step SNMPv3 exchange that the status read and the single-value
// queries share: an engine-discovery request on one socket, and for every
// printer agent that answers it an authenticated, encrypted GET on a second
// socket, whose responses go to a value consumer.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <array>
#include <functional>
#include <span>

#include "usbink/netio.h"

namespace usbink {

// Requests and answers of an SNMPv3 exchange are built and received in
// buffers of this size.
inline constexpr int kV3BufferSize = 2048;
using V3Buffer = std::array<unsigned char, kV3BufferSize>;

// A record for one discovery answer: zeroed, with the fixed USM user.
_SNMP_PARAM_V3 freshParams();
// Parses `message` into `params` (the parser zeroes the authentication code
// and decrypts in place); true when it is accepted with error status 0, the
// only answers an exchange acts on.
bool parsedClean(std::span<unsigned char> message, _SNMP_PARAM_V3* params);
// True when the engine ID in `params` is a printer agent's (80 00 02 A2 ...).
bool isPrinterEngine(const _SNMP_PARAM_V3& params);
// Builds into `out` the authenticated, encrypted GET of `oidCount` `oids`
// for the agent whose engine parameters `params` holds, leaving the keys in
// `params` for the response; returns its length, 0 or less when it cannot
// be built.
int buildAgentRequest(_SNMP_PARAM_V3& params, int oidCount, const char** oids, V3Buffer& out);

// Which diagnostic lines an exchange writes as it goes.
enum class V3Trace {
  kSilent,     // the IPv4 status read
  kIpv4Query,  // "ipv4=", "sendto: nRet=", "recvfrom nRecv = ", "parseSnmpV3Response begin"
  kIpv6,       // "[ipv6 BC] nRecv = " after each discovery receive, perror on a failed send
};

struct V3Exchange {
  const char* address;  // numeric address text, for the diagnostic lines
  int family;           // AF_INET or AF_INET6
  sockaddr_storage destination;
  socklen_t destinationLength;  // 16 or 28, used for every send and receive
  bool destinationValid;        // false: null, or a text that named no address
  V3Trace trace;

  int oidCount;
  const char** oids;
  SnmpValueCallback consumer;  // installed for the parse of every response
  // Runs before each discovery answer is parsed (may be empty).
  std::function<void()> beforeDiscoveryParse;
  // Runs before each response is parsed (may be empty).
  std::function<void()> beforeResponseParse;
  // Runs after a response was accepted with error status 0; true when it
  // delivered what the caller wanted.
  std::function<bool()> onResponse;
};

// The exchange for an IPv4 address (inet_pton, port 161); a null address or
// a text inet_pton does not accept (a host name) gives an exchange without a
// valid destination.
V3Exchange v3ExchangeV4(const char* address, V3Trace trace);
// The exchange for an IPv6 address (inet_pton, port 161, the current
// scope_id).
V3Exchange v3ExchangeV6(const char* address);

// Builds the discovery request and advances both request counters, then
// runs the exchange until the discovery socket has been silent for a
// second. Returns whether any onResponse returned true; false at once when
// the first socket cannot be opened, the destination is not valid or the
// discovery request cannot be sent.
bool runV3Exchange(V3Exchange& x);

}  // namespace usbink
