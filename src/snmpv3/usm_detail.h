// Pieces of the USM privacy and authentication steps that the SNMPv3
// message builder and parser share with the key operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace usbink {

inline constexpr int kUsmSaltSize = 8;

// msgFlags bits (RFC 3412) of the security services a message uses.
inline constexpr unsigned char kFlagAuth = 0x01;
inline constexpr unsigned char kFlagPriv = 0x02;

// Writes the next privacy salt to `salt` (8 bytes): `engineBoots` then
// salt_low, each most significant byte first, and advances salt_low.
void nextPrivacySalt(std::uint32_t engineBoots, unsigned char* salt);

// IV of a DES-CBC scoped PDU: the pre-IV (privKey bytes 8..15) XOR the salt.
void privacyIv(const unsigned char* privKey, const unsigned char* salt, unsigned char* iv);

// Compares `length` bytes in a time that does not depend on where they
// differ, so that a forger learns nothing from how fast a code is refused.
bool equalInConstantTime(const unsigned char* a, const unsigned char* b, std::size_t length);

// True when all `length` bytes at `bytes` are zero (a key slot left empty).
bool allZero(const unsigned char* bytes, std::size_t length);

}  // namespace usbink

namespace usbink {

// What CNetIO::BuildSnmpV3RequestPacket does once it has localised the
// keys: the request built, encrypted with `privKey` and authenticated with
// `authKey` (read, 16 bytes each; null for a service not asked for;
// `authPassword` only tells whether authentication is asked for). Returns
// the length written to `out`, or 0.
int buildRequestWithKeys(const unsigned char* engineID, int engineIDLen, unsigned long engineBoots,
                         unsigned long engineTime, int count, const char** oids,
                         const unsigned char** values, const char* valueLengths,
                         const unsigned char* valueTypes, const char* userName,
                         const char* authPassword, const unsigned char* authKey,
                         const unsigned char* privKey, unsigned char* out);

}  // namespace usbink

namespace usbink {

// The work area of every SNMPv3 building block.
inline constexpr int kV3WorkAreaSize = 2048;

// The second half of buildRequestWithKeys, for a scoped PDU built elsewhere
// (`scopedLength` octets at the start of `scoped`, the rest of the area
// zero): privacy with `privKey`, the security parameters and global data,
// the message, and the authentication code with `authKey`. Returns the
// length written to `out`, or 0. `scoped` is encrypted in place.
int secureScopedPdu(const unsigned char* engineID, int idLength, unsigned long engineBoots,
                    unsigned long engineTime, std::span<unsigned char, kV3WorkAreaSize> scoped,
                    int scopedLength, const char* userName, const char* authPassword,
                    const unsigned char* authKey, const unsigned char* privKey,
                    unsigned char* out);

}  // namespace usbink
