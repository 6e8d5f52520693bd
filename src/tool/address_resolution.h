// Turns a network queue's device URI into the numeric addresses to ask.
#pragma once

#include <string>
#include <vector>

#include "tool/platform/cups_queue.h"

// The numeric address texts found by the last call of getAddressFromURL, in
// the order found, and parallel to them their families, "IPv4" or "IPv6".
extern std::vector<std::string> mDNSIP;
extern std::vector<std::string> mDNSType;

inline constexpr char kAddressTypeV4[] = "IPv4";
inline constexpr char kAddressTypeV6[] = "IPv6";

// Empties and refills mDNSIP and mDNSType from the parts of a device URI:
// "socket", "ipp" and "lpd" URIs by looking up their host (one address,
// IPv6 first); "mdns" and "dnssd" URIs by resolving their printer service
// instance (every address that arrives). Any other scheme leaves both lists
// empty.
void getAddressFromURL(const usbink::platform::UriParts& deviceUri);
