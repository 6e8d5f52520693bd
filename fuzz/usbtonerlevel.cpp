// Input as the USB status program meets it: a device URI from the command
// line and a GET_DEVICE_ID reply from a printer. The bytes up to the first
// line end are the URI, the rest the reply; the URI is also matched against
// the printer the reply describes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "usbtonerlevel/device_id.h"
#include "usbtonerlevel/usb_uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const auto lineEnd = std::find(input.begin(), input.end(), std::uint8_t{'\n'});
  const std::string_view uriText(reinterpret_cast<const char*>(data),
                                 static_cast<std::size_t>(lineEnd - input.begin()));
  const std::span<const std::uint8_t> reply =
      lineEnd == input.end() ? input.last(0) : std::span(lineEnd + 1, input.end());

  const usbink::usb::DeviceIdReply id = usbink::usb::deviceIdFromReply(reply);
  const auto fields = usbink::usb::parseDeviceId(id.id);
  usbink::usb::cupsMakeAndModel(fields);
  usbink::usb::deviceIdSerial(fields);

  const auto uri = usbink::usb::parseUsbUri(uriText);
  if (uri) usbink::usb::matchUri(*uri, {id.id, "SERIAL", 0});
  return 0;
}
