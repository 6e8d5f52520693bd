#include "tool/platform/cups_queue.h"

#include <cups/cups.h>

#include <memory>

namespace usbink::platform {
namespace {

constexpr char kDeviceUriAttribute[] = "device-uri";
constexpr std::size_t kUriPartSize = 1024;

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Http = std::unique_ptr<http_t, HttpClose>;
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

// Ends a wait on the scheduler once the reply time has passed.
int giveUp(http_t*, void*) { return 0; }

}  // namespace

// A direct IPP request rather than cupsGetNamedDest: for a queue that does
// not exist, the latter falls back to browsing the network for printers.
std::optional<std::string> deviceUriOfQueue(const std::string& queue) {
  char printerUri[kUriPartSize];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, printerUri, sizeof printerUri, "ipp", nullptr,
                       "localhost", 0, "/printers/%s", queue.c_str()) < HTTP_URI_STATUS_OK) {
    return std::nullopt;
  }
  Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                         kSchedulerConnectMillis, nullptr));
  if (!http) return std::nullopt;
  httpSetTimeout(http.get(), kSchedulerReplySeconds, giveUp, nullptr);

  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               kDeviceUriAttribute);
  Ipp response(cupsDoRequest(http.get(), request, "/"));  // takes `request`
  if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) return std::nullopt;
  ipp_attribute_t* uri = ippFindAttribute(response.get(), kDeviceUriAttribute, IPP_TAG_URI);
  const char* text = uri != nullptr ? ippGetString(uri, 0, nullptr) : nullptr;
  if (text == nullptr || *text == '\0') return std::nullopt;
  return std::string(text);
}

std::optional<UriParts> splitUri(const std::string& uri) {
  char scheme[kUriPartSize], user[kUriPartSize], host[kUriPartSize], resource[kUriPartSize];
  int port = 0;
  const http_uri_status_t status =
      httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource);
  if (status < HTTP_URI_STATUS_OK || scheme[0] == '\0') return std::nullopt;
  return UriParts{scheme, host};
}

}  // namespace usbink::platform
