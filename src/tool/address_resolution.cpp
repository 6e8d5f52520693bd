#include "tool/address_resolution.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <memory>

#include "tool/platform/mdns.h"

std::vector<std::string> mDNSIP;
std::vector<std::string> mDNSType;

namespace {

constexpr std::array kHostSchemes = {"socket", "ipp", "lpd"};
constexpr std::array kServiceSchemes = {"mdns", "dnssd"};

template <std::size_t N>
bool isOneOf(const std::string& scheme, const std::array<const char*, N>& names) {
  return std::any_of(names.begin(), names.end(),
                     [&](const char* name) { return strcasecmp(scheme.c_str(), name) == 0; });
}

// Appends the text of an IPv4 or IPv6 socket address, with its family;
// false for another family or an address without text.
bool append(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN];
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    if (inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) == nullptr) return false;
    mDNSType.emplace_back(kAddressTypeV4);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) == nullptr) return false;
    mDNSType.emplace_back(kAddressTypeV6);
  } else {
    return false;
  }
  mDNSIP.emplace_back(text);
  return true;
}

// Appends the first address of `family` the resolver gives for `name`.
bool appendFirstAddress(const std::string& name, int family) {
  addrinfo hints{};
  hints.ai_family = family;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
  return append(found->ai_addr);
}

// A name with both kinds of address yields its IPv6 address only.
void lookUpHost(std::string host) {
  for (char unwanted : {']', '[', ' '}) std::erase(host, unwanted);
  if (host.empty()) return;
  if (!appendFirstAddress(host, AF_INET6)) appendFirstAddress(host, AF_INET);
}

// The instance name is the host up to its first dot. A host without a dot
// is taken whole as the name: that is what the queue's author meant, and
// the resolver still only finds a service of that exact name.
void resolveService(const std::string& host) {
  for (const sockaddr_storage& address :
       usbink::platform::resolvePrinterService(host.substr(0, host.find('.')))) {
    append(reinterpret_cast<const sockaddr*>(&address));
  }
}

}  // namespace

void getAddressFromURL(const usbink::platform::UriParts& deviceUri) {
  mDNSIP.clear();
  mDNSType.clear();
  if (isOneOf(deviceUri.scheme, kHostSchemes)) {
    lookUpHost(deviceUri.host);
  } else if (isOneOf(deviceUri.scheme, kServiceSchemes)) {
    resolveService(deviceUri.host);
  }
}
