// Value consumer for the SNMPv3 parser targets: reads every octet it is
// handed, so that a binding pointing past the datagram shows up under ASan.
#pragma once

#include <cstdint>

inline volatile std::uint8_t g_fuzzSink;

inline bool touchEveryOctet(unsigned char* oid, int oidLength, unsigned char valueType,
                            unsigned char* value, int valueLength) {
  std::uint8_t sum = valueType;
  for (int i = 0; i < oidLength; ++i) sum = static_cast<std::uint8_t>(sum + oid[i]);
  for (int i = 0; i < valueLength; ++i) sum = static_cast<std::uint8_t>(sum + value[i]);
  g_fuzzSink = sum;
  return true;
}
