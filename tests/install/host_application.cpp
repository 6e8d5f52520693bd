// A host application of the installed library alone (scripts/check-install): without arguments
// a status block decode, the DES vector and a v1 GET build; with an ADDRESS the level read there.
#include <usbink/base64.h>
#include <usbink/netio.h>
#include <usbink/oids.h>
#include <usbink/status.h>
#include <usbink/usm.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  PRINTER_STATUS status{};
  if (argc > 1) {
    CNetIO io;
    if (!io.NetworkReadStatus(kDefaultCommunity, argv[1], &status)) return 1;
    std::printf("host application: level %d at %s\n", status.tonerLevel & 0x7f, argv[1]);
    return 0;
  }
  status.tonerLevel = 57;
  char text[160] = {};
  const bool encoded = base64_encode(reinterpret_cast<unsigned char*>(&status), sizeof status, text,
                                     sizeof text) == 1;
  std::string deviceId = std::string("MFG:Acme;MDL:Laser;STS:") + text + ";";
  PRINTER_STATUS decoded{};
  const bool level = encoded && DecodStatusFromDeviceID(deviceId.data(), &decoded) == 0 &&
                     (decoded.tonerLevel & 0x7f) == 57;
  // FIPS 81 CBC example, through the library's DES (libavutil underneath).
  const unsigned char key[kDesBlockSize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  const unsigned char iv[kDesBlockSize] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
  char plain[] = "Now is the time for all ";
  const unsigned char expected[24] = {0xe5, 0xc7, 0xcd, 0xde, 0x87, 0x2b, 0xf2, 0x7c,
                                      0x43, 0xe9, 0x34, 0x00, 0x8c, 0x38, 0x9c, 0x0f,
                                      0x68, 0x37, 0x88, 0x49, 0x9a, 0x7c, 0x05, 0xf6};
  alignas(8) unsigned char cipher[24] = {};
  const bool des =
      DesEncryption(key, iv, reinterpret_cast<unsigned char*>(plain), 24, cipher, 24) == 24 &&
      std::memcmp(cipher, expected, 24) == 0;
  unsigned char request[512] = {};
  std::string oid = kOidDeviceId, community = kDefaultCommunity;
  const int length = CNetIO::BuildGetRequestFor(1, oid.data(), community.data(), request);
  std::printf("host application: status block level %s, DES %s, v1 GET of %d octets\n",
              level ? "57" : "WRONG", des ? "as FIPS 81" : "WRONG", length);
  return level && des && length > 0 ? 0 : 1;
}
