// The print system's queue database and URI rules, through libcups.
#pragma once

#include <optional>
#include <string>

namespace usbink::platform {

// How long the tool waits for the scheduler: to connect, and for each
// exchange on the connection. A scheduler that accepts and then hangs
// costs at most about these, never the library's default minute.
inline constexpr int kSchedulerConnectMillis = 3000;
inline constexpr double kSchedulerReplySeconds = 3.0;

// The device URI of the queue `queue` on the scheduler that the usual
// libcups configuration names (CUPS_SERVER, client.conf, the default
// socket), by one IPP Get-Printer-Attributes request. Nothing when there is
// no such queue, no URI, or no scheduler answering in time.
std::optional<std::string> deviceUriOfQueue(const std::string& queue);

struct UriParts {
  std::string scheme;
  std::string host;  // decoded; "" when the URI has none
};

// Splits a URI the way the print system does. Nothing when it has no scheme.
std::optional<UriParts> splitUri(const std::string& uri);

}  // namespace usbink::platform
