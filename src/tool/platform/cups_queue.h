// The print system's queue database (the CUPS scheduler, over IPP) and its
// URI rules.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace usbink::platform {

// How long the tool waits for the scheduler: to connect, and for the whole
// request and answer once connected. A scheduler that accepts and then
// hangs costs at most about these.
inline constexpr std::chrono::milliseconds kSchedulerConnectBudget{3000};
inline constexpr std::chrono::milliseconds kSchedulerReplyBudget{3000};

// The device URI of the queue `queue` on the scheduler that the usual
// client configuration names (CUPS_SERVER, client.conf, the default
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
