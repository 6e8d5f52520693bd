// The SNMP v1 status read: one GET of the private device-ID object, sent as
// three copies at once; the first answer within 50 ms is decoded into the
// caller's status record.
#include <netdb.h>

#include <array>
#include <cstdio>
#include <span>

#include "snmp/udp.h"
#include "snmp/v1_exchange.h"
#include "snmp/v1_message.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

constexpr std::size_t kRequestWorkSize = 256;
constexpr std::size_t kStatusAnswerSize = 4024;
constexpr long kStatusTimeoutMicroseconds = 50000;

// The request datagram: a GetRequest of the private device-ID object with
// version and community in front. The message length must fit one octet,
// which leaves room for a community of at most 84 characters (message length
// = community + 43); a longer one is refused and the result is empty.
std::span<const unsigned char> buildStatusRequest(
    const char* community, std::array<unsigned char, kRequestWorkSize>& work) {
  std::array<unsigned char, kOidEncodedMax> oid{};
  const int oidLength = CNetIO::oidEncode(kOidDeviceId, oid.data());
  usbink::BerBackWriter writer(work);
  usbink::writeGetRequestPdu(writer, {oid.data(), static_cast<std::size_t>(oidLength)}, 1);
  if (!usbink::prependV1Header(writer, community)) return {};
  return writer.written();
}

// Sends the request, waits for the first answer and decodes the device ID it
// carries into `status`. With `trace` the IPv6 read's lines go to standard
// output.
bool exchangeStatus(usbink::UdpSocket& socket, std::span<const unsigned char> request,
                    const sockaddr* to, socklen_t toLength, PRINTER_STATUS* status, bool trace) {
  const ssize_t sent = usbink::sendCopies(socket, request, to, toLength, 0);
  if (trace) {
    std::printf("Sendto nRet = %d, request_oid_len=%d\n", static_cast<int>(sent),
                static_cast<int>(request.size()));
  }
  if (sent <= 0) return false;
  std::array<unsigned char, kStatusAnswerSize> answer;
  const ssize_t received = socket.receiveFrom(answer.data(), answer.size(), nullptr, nullptr);
  if (trace) std::printf("recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  if (trace) std::puts("NetworkReadStatus response=");
  return CNetIO::parseForDeviceId(answer.data(), static_cast<int>(received), status);
}

}  // namespace

// Reads the status of the printer at `address` (read; numeric) with
// `community` (read; null for the default) into `status` (written); true
// when a status block was decoded. An address the resolver reports as IPv6
// is read over IPv6.
bool CNetIO::NetworkReadStatus(const char* community, const char* address, PRINTER_STATUS* status) {
  const int family = usbink::firstAddressFamilyOrReport(address);
  if (family < 0) return false;
  if (family == AF_INET6) return NetworkReadStatusV6(community, address, status);

  std::array<unsigned char, kRequestWorkSize> work{};
  const auto request = buildStatusRequest(community, work);
  if (request.empty()) return false;
  auto socket = usbink::openSnmpSocket(AF_INET, 0, kStatusTimeoutMicroseconds);
  if (!socket.valid()) return false;
  sockaddr_in to{};
  if (!usbink::snmpDestinationV4(address, &to)) return false;
  return exchangeStatus(socket, request, reinterpret_cast<const sockaddr*>(&to), sizeof to, status,
                        false);
}

// The same over IPv6, with the three lines on standard output. A null
// address or a text inet_pton does not accept leaves the destination
// undefined: the read then fails before anything is sent.
bool CNetIO::NetworkReadStatusV6(const char* community, const char* address,
                                 PRINTER_STATUS* status) {
  std::array<unsigned char, kRequestWorkSize> work{};
  const auto request = buildStatusRequest(community, work);
  if (request.empty()) return false;
  auto socket = usbink::openSnmpSocket(AF_INET6, 0, kStatusTimeoutMicroseconds);
  if (!socket.valid()) return false;
  sockaddr_in6 to{};
  if (!usbink::snmpDestinationV6(address, usbink::ipv6Scope(), &to)) return false;
  return exchangeStatus(socket, request, reinterpret_cast<const sockaddr*>(&to), sizeof to, status,
                        true);
}

extern "C" bool NetworkReadStatus(const char* community, const char* address,
                                  PRINTER_STATUS* status) {
  CNetIO net;
  return net.NetworkReadStatus(community, address, status);
}

extern "C" bool NetworkReadStatusV6(const char* community, const char* address,
                                    PRINTER_STATUS* status) {
  CNetIO net;
  return net.NetworkReadStatusV6(community, address, status);
}
