// Printer status record and its decoding from an IEEE 1284 device-ID string.
#pragma once

#include <cstddef>

// Size of the binary status block that follows "STS:" in a device ID.
inline constexpr std::size_t kPrinterStatusSize = 108;

// The decoded status block, byte for byte. Only the first byte has a meaning
// for this program: bits 0 to 6 are the black toner level in percent.
struct PRINTER_STATUS {
  unsigned char tonerLevel;
  unsigned char rest[kPrinterStatusSize - 1];
};
static_assert(sizeof(PRINTER_STATUS) == kPrinterStatusSize);

// Decoder of the status block inside a device-ID string. Has no state; the
// network code makes a temporary one around each decoding call.
class CTavrenCmd {
 public:
  CTavrenCmd() = default;
  ~CTavrenCmd() = default;

  // Decodes the Base64 status block after the first "STS:" of `deviceId`
  // (read) into `status` (written). Returns 0 when exactly 108 bytes were
  // decoded, -1 otherwise; on -1 `status` may hold a partial block.
  int DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status);
};

extern "C" {
// Same as CTavrenCmd::DecodStatusFromDeviceID.
int DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status);
}

// Reverses the four bytes at `p` (read and written) on a big-endian host;
// does nothing on a little-endian one.
void Big2LittleEndian(char* p);
