#include "tool/address_resolution.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <memory>

#include "tool/platform/cups_queue.h"
#include "tool/platform/mdns.h"

std::vector<std::string> mDNSIP;
std::vector<std::string> mDNSType;

namespace {

// A size hint for the lists, not a limit.
constexpr std::size_t kAddressListHint = 255;
constexpr std::array kHostSchemes = {"socket", "ipp", "lpd"};
constexpr std::array kServiceSchemes = {"mdns", "dnssd"};

template <std::size_t N>
bool isOneOf(const std::string& scheme, const std::array<const char*, N>& names) {
  return std::any_of(names.begin(), names.end(),
                     [&](const char* name) { return strcasecmp(scheme.c_str(), name) == 0; });
}

void append(const char* type, const char* address) {
  mDNSType.emplace_back(type);
  mDNSIP.emplace_back(address);
}

// Text of the first address of `family` the resolver gives for `name`.
bool firstAddressText(const std::string& name, int family, char* text, socklen_t size) {
  addrinfo hints{};
  hints.ai_family = family;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
  const void* raw = family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
  return inet_ntop(family, raw, text, size) != nullptr;
}

// A name with both kinds of address yields its IPv6 address only.
void lookUpHost(std::string host) {
  for (char unwanted : {']', '[', ' '}) std::erase(host, unwanted);
  if (host.empty()) return;
  char text[256];
  if (firstAddressText(host, AF_INET6, text, sizeof text)) {
    append(kAddressTypeV6, text);
  } else if (firstAddressText(host, AF_INET, text, sizeof text)) {
    append(kAddressTypeV4, text);
  }
}

// The instance name is the host up to its first dot. A host without a dot
// is taken whole as the name: that is what the queue's author meant, and
// the resolver still only finds a service of that exact name.
void resolveService(const std::string& host) {
  const std::string name = host.substr(0, host.find('.'));
  if (name.empty()) return;
  char text[256];
  for (const sockaddr_storage& address : usbink::platform::resolvePrinterService(name)) {
    if (address.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
      if (inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text)) append(kAddressTypeV4, text);
    } else if (address.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
      if (inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text)) append(kAddressTypeV6, text);
    }
  }
}

}  // namespace

void getAddressFromURL(const std::string& deviceUri) {
  mDNSIP = {};
  mDNSType = {};
  mDNSIP.reserve(kAddressListHint);
  mDNSType.reserve(kAddressListHint);
  const auto parts = usbink::platform::splitUri(deviceUri);
  if (!parts) return;
  if (isOneOf(parts->scheme, kHostSchemes)) {
    lookUpHost(parts->host);
  } else if (isOneOf(parts->scheme, kServiceSchemes)) {
    resolveService(parts->host);
  }
}
