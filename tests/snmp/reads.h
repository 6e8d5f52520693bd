// Reads and queries as tests call them: level or -1, v1 value or none, SNMPv3 values.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "usbink/netio.h"

namespace usbink::test {

using StatusRead = bool (*)(const char*, const char*, PRINTER_STATUS*);
using Query = int (CNetIO::*)(const char*, unsigned char, char*, int);

inline int level(StatusRead read, const std::string& address,
                 const std::string& community = kDefaultCommunity) {
  PRINTER_STATUS status{};
  return read(community.c_str(), address.c_str(), &status) ? status.tonerLevel & 0x7F : -1;
}

inline std::optional<std::string> v1Value(Query query, const std::string& address) {
  std::array<char, 256> out{};
  if ((CNetIO().*query)(address.c_str(), 0, out.data(), 256) != 0) return {};
  return std::string(out.data());
}

struct Values {  // "untouched" where nothing was written
  int result;
  std::string name, fw, mcu;
  bool operator==(const Values&) const = default;
};

inline Values v3Values(const std::string& address) {
  std::array<char, 128> name{"untouched"}, fw{"untouched"}, mcu{"untouched"};
  const int result = CNetIO().TavrenNetworkGetNameAndFwAndMCUVersion(address.c_str(), name.data(),
                                                                     fw.data(), mcu.data(), 0);
  return {result, name.data(), fw.data(), mcu.data()};
}

}  // namespace usbink::test
