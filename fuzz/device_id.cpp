// Device-ID strings as the USB status program or an agent may deliver them:
// any bytes, decoded through the status-block search and the Base64 decoder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "usbink/base64.h"
#include "usbink/status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  PRINTER_STATUS status;
  DecodStatusFromDeviceID(text.data(), &status);
  unsigned char small[7];
  base64_decode(text.data(), small, sizeof small);
  return 0;
}
