// scripts/check-install's user of the installed library: smoke calls, or the level at ADDRESS.
#include <usbink/base64.h>
#include <usbink/netio.h>
#include <usbink/status.h>
#include <usbink/usm.h>

#include <cstdio>
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
  // The library's DES (libavutil underneath) links and runs; its vectors are unit-tested.
  const unsigned char key[kDesBlockSize] = {1};
  alignas(8) unsigned char plain[24] = {}, cipher[24] = {};
  const bool des = DesEncryption(key, key, plain, 24, cipher, 24) == 24;
  std::printf("host application: status block level %s, DES %s\n", level ? "57" : "WRONG",
              des ? "runs" : "WRONG");
  return level && des ? 0 : 1;
}
