// Byte-order and integer helpers shared by all SNMP code.
#pragma once

#include <cstdint>

// `value` in network byte order.
unsigned short FLIPWORD(unsigned short value);
std::uint32_t FLIPDWORD(unsigned long value);

// Unsigned big-endian value of `length` content octets at `data` (read); 0 for
// a length below 1; with more than four octets only the last four remain.
int readIntValue(unsigned char* data, int length);

// The larger of `a` and `b`.
int max(int a, int b);

// BER tags the SNMP code writes and checks.
inline constexpr unsigned char kBerInteger = 0x02;
inline constexpr unsigned char kBerOctetString = 0x04;
inline constexpr unsigned char kBerNull = 0x05;
inline constexpr unsigned char kBerObjectId = 0x06;
inline constexpr unsigned char kBerSequence = 0x30;
inline constexpr unsigned char kPduGetRequest = 0xA0;
inline constexpr unsigned char kPduGetResponse = 0xA2;
inline constexpr unsigned char kPduSetRequest = 0xA3;
inline constexpr unsigned char kPduReport = 0xA8;

// Longest dotted identifier oidEncode accepts, and the most content octets it
// can produce from one (at most one octet per two characters of text).
inline constexpr int kOidTextMax = 127;
inline constexpr int kOidEncodedMax = 64;
