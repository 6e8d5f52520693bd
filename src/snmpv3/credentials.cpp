#include "snmpv3/credentials.h"

#include <array>
#include <cstddef>

namespace usbink {
namespace {

constexpr unsigned char kMask = 0x5A;

// A text stored XOR-masked: the plain literal is used only while compiling.
template <std::size_t N>
struct Masked {
  std::array<unsigned char, N> bytes{};
  consteval explicit Masked(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) bytes[i] = static_cast<unsigned char>(text[i] ^ kMask);
  }
  template <std::size_t M>
  void unmaskInto(char (&out)[M]) const {
    static_assert(M == N, "credential length mismatch");
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<char>(bytes[i] ^ kMask);
  }
};

constexpr Masked kUserName("usbinkv3");
constexpr Masked kAuthPassword("Ink-Auth.7Kq2Zp9Wm4R");
constexpr Masked kPrivPassword("Ink-Priv.3Tx8Ld5Vn6H");

}  // namespace

UsmCredentials usmCredentials() {
  UsmCredentials c{};
  kUserName.unmaskInto(c.userName);
  kAuthPassword.unmaskInto(c.authPassword);
  kPrivPassword.unmaskInto(c.privPassword);
  return c;
}

}  // namespace usbink
