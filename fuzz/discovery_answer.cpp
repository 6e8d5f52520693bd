// The v1 discovery's answer test on any datagram: nothing is read past the
// datagram or a target, and a hit is only ever a sysObjectID of 5 to 32
// octets equal to the start of one of the targets.
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/search.h"
#include "usbink/ber.h"
#include "usbink/netio.h"

namespace {

constexpr char kTarget1[] = "1.3.6.1.4.1.26266.886.1.1";
constexpr char kTarget2[] = "1.3.6.1.4.1.26266.886.1.2";
constexpr int kMinHitLength = 5;

struct Target {
  std::array<unsigned char, kTargetOidSize> bytes{};
  explicit Target(const char* text) {
    std::array<unsigned char, kOidEncodedMax> scratch{};
    const int n = CNetIO::oidEncode(text, scratch.data());
    std::memcpy(bytes.data(), scratch.data(), static_cast<std::size_t>(n));
  }
  bool startsWith(const unsigned char* id, int length) const {
    return std::memcmp(bytes.data(), id, static_cast<std::size_t>(length)) == 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CNetIO io;
  static const int initialised = io.InitTargetOID(kTarget1, kTarget2);
  (void)initialised;
  static const Target target1(kTarget1), target2(kTarget2);
  // An exact-size copy, so that any read past the datagram is caught.
  std::vector<unsigned char> answer(data, data + size);
  if (!usbink::discovery::isDiscoveryHit(io, answer)) return 0;
  if (sysObjIdLen < kMinHitLength || sysObjIdLen > kTargetOidSize) __builtin_trap();
  if (!target1.startsWith(sysObjId, sysObjIdLen) && !target2.startsWith(sysObjId, sysObjIdLen)) {
    __builtin_trap();
  }
  return 0;
}
