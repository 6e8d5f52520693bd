// BER length fields: CNetIO::parseLength (which trusts its caller to hold
// every length octet, so it gets the input followed by enough zero octets)
// against the bounded BerCursor::readLength on the bare input. Whatever the
// cursor accepts, both must read alike.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "snmp/ber_cursor.h"
#include "usbink/netio.h"

namespace {

// The most octets parseLength can read: the first and 127 more.
constexpr std::size_t kLongestField = 1 + 127;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::vector<unsigned char> padded(std::max(size, kLongestField), 0);
  std::copy(data, data + size, padded.begin());
  int unbounded = 0;
  const unsigned char* next = CNetIO::parseLength(padded.data(), &unbounded);

  std::vector<unsigned char> exact(data, data + size);
  usbink::BerCursor cursor(exact.data(), exact.data() + exact.size());
  int bounded = 0;
  if (!cursor.readLength(&bounded)) return 0;
  if (bounded < 0 || bounded != unbounded || cursor.pos() - exact.data() != next - padded.data()) {
    std::abort();
  }
  return 0;
}
