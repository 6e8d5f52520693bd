// Finds the status block of a device-ID string and decodes it into the
// 108-byte status record.
#include <cstring>
#include <utility>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

constexpr char kStatusKey[] = "STS:";
constexpr std::size_t kStatusKeyLength = sizeof kStatusKey - 1;

// True when the text at `p` begins with the key. Compares character by
// character and stops at the first difference, so it never reads past the
// terminator of `p` (which differs from every character of the key).
bool keyAt(const char* p) {
  for (std::size_t i = 0; i < kStatusKeyLength; ++i) {
    if (p[i] != kStatusKey[i]) return false;
  }
  return true;
}

}  // namespace

int CTavrenCmd::DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status) {
  if (deviceId == nullptr || status == nullptr || deviceId[0] == '\0') return -1;
  char* p = deviceId;
  while (!keyAt(p)) {
    ++p;
    if (*p == '\0') return -1;
  }
  const long decoded = base64_decode(p + kStatusKeyLength, reinterpret_cast<unsigned char*>(status),
                                     kPrinterStatusSize);
  return decoded == static_cast<long>(kPrinterStatusSize) ? 0 : -1;
}

extern "C" int DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status) {
  return CTavrenCmd().DecodStatusFromDeviceID(deviceId, status);
}

void Big2LittleEndian(char* p) {
  const int probe = 1;
  char first = 0;
  std::memcpy(&first, &probe, 1);
  if (first == 1) return;
  std::swap(p[0], p[3]);
  std::swap(p[1], p[2]);
}
