#include "snmp/v1_exchange.h"

#include "usbink/interfaces.h"

namespace usbink {

unsigned int ipv6Scope() {
  return scope_id > 0 ? static_cast<unsigned int>(scope_id) : 0;
}

UdpSocket openSnmpSocket(int family, long seconds, long microseconds) {
  UdpSocket socket(family);
  if (socket.valid()) {
    socket.setBroadcast(false);
    socket.setReceiveTimeout(seconds, microseconds);
  }
  return socket;
}

ssize_t sendCopies(UdpSocket& socket, std::span<const unsigned char> request, const sockaddr* to,
                   socklen_t toLength, useconds_t pause) {
  ssize_t sent = -1;
  for (int copy = 0; copy < kRequestCopies; ++copy) {
    sent = socket.sendTo(request.data(), request.size(), to, toLength);
    if (pause != 0) ::usleep(pause);
  }
  return sent;
}

}  // namespace usbink
