// A host application of the installed library, built by scripts/check-install
// from the staged headers and library alone (pkg-config). Without arguments
// it checks a status block decode, the DES test vector and a v1 GET build;
// with an IPv4 ADDRESS it prints the toner level read there over SNMP v1.
#include <usbink/base64.h>
#include <usbink/netio.h>
#include <usbink/oids.h>
#include <usbink/status.h>
#include <usbink/usm.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kLevel = 57;
constexpr unsigned char kLevelMask = 0x7f;

// The level a device ID built around a status block of `level` decodes to.
int decodedLevel(unsigned char level) {
  PRINTER_STATUS block{};
  block.tonerLevel = level;
  std::array<char, 160> text{};
  if (base64_encode(reinterpret_cast<unsigned char*>(&block), sizeof block, text.data(),
                    text.size()) != 1)
    return -1;
  std::string deviceId = std::string("MFG:Acme;MDL:Laser;STS:") + text.data() + ";";
  PRINTER_STATUS decoded{};
  if (DecodStatusFromDeviceID(deviceId.data(), &decoded) != 0) return -1;
  return decoded.tonerLevel & kLevelMask;
}

// FIPS 81 CBC example, through the library's DES (libavutil underneath).
bool desMatchesFips81() {
  const unsigned char key[kDesBlockSize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  const unsigned char iv[kDesBlockSize] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
  char plain[] = "Now is the time for all ";
  const unsigned char expected[] = {0xe5, 0xc7, 0xcd, 0xde, 0x87, 0x2b, 0xf2, 0x7c,
                                    0x43, 0xe9, 0x34, 0x00, 0x8c, 0x38, 0x9c, 0x0f,
                                    0x68, 0x37, 0x88, 0x49, 0x9a, 0x7c, 0x05, 0xf6};
  alignas(8) std::array<unsigned char, sizeof expected> cipher{};
  const int n = DesEncryption(key, iv, reinterpret_cast<unsigned char*>(plain), sizeof expected,
                              cipher.data(), static_cast<int>(cipher.size()));
  return n == static_cast<int>(sizeof expected) &&
         std::memcmp(cipher.data(), expected, sizeof expected) == 0;
}

int offlineChecks() {
  const int level = decodedLevel(kLevel);
  const bool des = desMatchesFips81();
  std::array<unsigned char, 512> request{};
  std::string oid = kOidDeviceId;
  std::string community = kDefaultCommunity;
  const int requestLength =
      CNetIO::BuildGetRequestFor(1, oid.data(), community.data(), request.data());
  std::printf("host application: status block level %d, DES %s, v1 GET of %d octets\n", level,
              des ? "as FIPS 81" : "WRONG", requestLength);
  return level == kLevel && des && requestLength > 0 ? 0 : 1;
}

int readLevel(const char* address) {
  CNetIO io;
  PRINTER_STATUS status{};
  if (!io.NetworkReadStatus(kDefaultCommunity, address, &status)) {
    std::printf("host application: no status from %s\n", address);
    return 1;
  }
  std::printf("host application: level %d at %s\n", status.tonerLevel & kLevelMask, address);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return argc > 1 ? readLevel(argv[1]) : offlineChecks();
}
