// The sending side shared by the SNMP v1 status read and the single-value
// queries: a socket with broadcast off and a receive time-out, and a request
// that goes out as several copies at once rather than as retries.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <span>

#include "snmp/udp.h"

namespace usbink {

// Every request goes out this many times in a row.
inline constexpr int kRequestCopies = 3;

// A UDP socket of `family` with broadcast off and the receive time-out
// `seconds` + `microseconds`; check valid(). The option results are not
// examined: without them the exchange still works, only less bounded.
UdpSocket openSnmpSocket(int family, long seconds, long microseconds);

// The scope of IPv6 destinations: the interface agent discovery remembered
// in `scope_id`, or none (0) while it holds 0 or less.
unsigned int ipv6Scope();

// Sends `request` kRequestCopies times to `to`, sleeping `pause`
// microseconds after each copy when it is nonzero. Returns the last send's
// result, the only one the callers examine.
ssize_t sendCopies(UdpSocket& socket, std::span<const unsigned char> request, const sockaddr* to,
                   socklen_t toLength, useconds_t pause);

}  // namespace usbink
