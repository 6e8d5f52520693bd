// Finds the status block of a device-ID string and decodes it into the
// 108-byte status record.
#include <bit>
#include <cstring>
#include <utility>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

constexpr char kStatusKey[] = "STS:";
constexpr std::size_t kStatusKeyLength = sizeof kStatusKey - 1;

}  // namespace

int CTavrenCmd::DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status) {
  if (deviceId == nullptr || status == nullptr) return -1;
  char* p = std::strstr(deviceId, kStatusKey);
  if (p == nullptr) return -1;
  const long decoded = base64_decode(p + kStatusKeyLength, reinterpret_cast<unsigned char*>(status),
                                     kPrinterStatusSize);
  return decoded == static_cast<long>(kPrinterStatusSize) ? 0 : -1;
}

extern "C" int DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status) {
  return CTavrenCmd().DecodStatusFromDeviceID(deviceId, status);
}

void Big2LittleEndian(char* p) {
  if constexpr (std::endian::native == std::endian::little) return;
  std::swap(p[0], p[3]);
  std::swap(p[1], p[2]);
}
