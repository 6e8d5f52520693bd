// Takes one received SNMPv3 datagram apart: structure, the agent's engine
// parameters, the authentication code, the privacy of the scoped PDU, the
// context engine ID, and the variable bindings for the value consumer.
//
// Every read goes through a BerCursor bounded by the datagram, so no length
// inside the message can move a read or a write past `length` octets; the
// kept elements are refused when they would not fit their areas.
#include <array>
#include <cstring>

#include "snmp/ber_cursor.h"
#include "snmp/varbind_list.h"
#include "snmpv3/usm_detail.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/usm.h"

namespace {

using usbink::BerCursor;
using usbink::kFlagAuth;
using usbink::kFlagPriv;

constexpr int kRejected = 0;
constexpr int kAccepted = 1;
// msgPrivacyParameters are kept in a zeroed area of this size; DES uses the
// first 8 octets (the salt) and shorter parameters leave the rest zero.
constexpr int kPrivParamsArea = 64;

// Skips an element of `tag` whose content lies inside the datagram.
bool skip(BerCursor& c, unsigned char tag) {
  unsigned char* content = nullptr;
  int length = 0;
  return c.readTlv(tag, &content, &length);
}

// Reads an INTEGER as an unsigned big-endian number (the last four octets
// of a longer one); an empty one reads as 0.
bool readUnsigned(BerCursor& c, std::uint32_t* out) {
  unsigned char* content = nullptr;
  int length = 0;
  if (!c.readTlv(kBerInteger, &content, &length)) return false;
  *out = static_cast<std::uint32_t>(readIntValue(content, length));
  return true;
}

// What the exchange's own request asked for decides what its answer must
// carry. Before keys exist (the engine-discovery Report) nothing is
// required. Once the request was authenticated, an answer without the
// authentication flag or with a code of another length than 12 octets
// (RFC 3414 6.3.2) could come from anyone who can send a datagram; once it
// was encrypted, a plaintext answer could too.
bool meetsRequestedSecurity(const _SNMP_PARAM_V3& params, unsigned char flags, int macLength) {
  const bool authRequested = !usbink::allZero(params.authKey, kUsmKeySize);
  const bool privRequested = !usbink::allZero(params.privKey, kUsmKeySize);
  if (authRequested && ((flags & kFlagAuth) == 0 || macLength != kUsmMacSize)) return false;
  if (privRequested && (flags & kFlagPriv) == 0) return false;
  return true;
}

// Verifies the code in msgAuthenticationParameters (`mac`, `macLength`
// octets inside `data`): the field is zeroed, the code of the whole datagram
// computed and compared. A code of more than 12 octets cannot be verified and
// is refused; a shorter one is compared over its own length, which only an
// exchange without keys gets to (see meetsRequestedSecurity).
bool verifyCode(unsigned char* data, int length, unsigned char* mac, int macLength,
                _SNMP_PARAM_V3& params) {
  if (macLength > kUsmMacSize) return false;
  std::array<unsigned char, kUsmMacSize> received{};
  std::memcpy(received.data(), mac, static_cast<std::size_t>(macLength));
  std::memset(mac, 0, static_cast<std::size_t>(macLength));
  std::array<unsigned char, kUsmPadSize> k1, k2;
  std::array<unsigned char, kUsmMacSize> computed;
  AuthKey2K1K2(params.authKey, k1.data(), k2.data());
  CalcuateAuthParams(data, static_cast<unsigned>(length), k1.data(), k2.data(), computed.data());
  return usbink::equalInConstantTime(received.data(), computed.data(),
                                     static_cast<std::size_t>(macLength));
}

}  // namespace

int CNetIO::parseSnmpV3Response(unsigned char* data, int length, int* version,
                                unsigned char* requestId, unsigned char* errorStatus,
                                unsigned char* errorIndex, _SNMP_PARAM_V3* params) {
  if (data == nullptr || length < 2 || params == nullptr) return kRejected;
  BerCursor c(data, data + length);

  // The message fills the datagram exactly.
  unsigned char versionOctet = 0;
  if (!c.expectTag(kBerSequence) || !c.lengthFillsRest() || !c.readIntegerOctet(&versionOctet)) {
    return kRejected;
  }
  if (version != nullptr) *version = versionOctet;

  // msgGlobalData: only msgFlags is kept; msgFlags is one octet (RFC 3412),
  // and an empty one is refused rather than read from the next element.
  unsigned char* flagsContent = nullptr;
  int flagsLength = 0;
  if (!c.enter(kBerSequence) || !skip(c, kBerInteger) || !skip(c, kBerInteger) ||
      !c.readTlv(kBerOctetString, &flagsContent, &flagsLength) || flagsLength < 1 ||
      !skip(c, kBerInteger)) {
    return kRejected;
  }
  const unsigned char flags = flagsContent[0];

  // The agent's engine parameters are stored before any later check, so a
  // caller learns them even from a message it rejects. An engine ID longer
  // than the 32-octet record field (the RFC 3411 maximum) is refused.
  unsigned char* engineId = nullptr;
  int engineIdLength = 0;
  std::uint32_t boots = 0;
  std::uint32_t time = 0;
  if (!c.enter(kBerOctetString) || !c.enter(kBerSequence) ||
      !c.readTlv(kBerOctetString, &engineId, &engineIdLength) ||
      engineIdLength > kUsmMaxEngineIdSize || !readUnsigned(c, &boots) || !readUnsigned(c, &time)) {
    return kRejected;
  }
  std::memcpy(params->engineID, engineId, static_cast<std::size_t>(engineIdLength));
  params->engineIDLen = engineIdLength;
  params->engineBoots = boots;
  params->engineTime = time;

  unsigned char* mac = nullptr;
  int macLength = 0;
  if (!skip(c, kBerOctetString) || !c.readTlv(kBerOctetString, &mac, &macLength)) return kRejected;
  if (!meetsRequestedSecurity(*params, flags, macLength)) return kRejected;
  if (macLength > 0 && !verifyCode(data, length, mac, macLength, *params)) return kRejected;

  // msgPrivacyParameters longer than their area are refused, not cut.
  unsigned char* privParams = nullptr;
  int privParamsLength = 0;
  if (!c.readTlv(kBerOctetString, &privParams, &privParamsLength) ||
      privParamsLength > kPrivParamsArea) {
    return kRejected;
  }
  std::array<unsigned char, kPrivParamsArea> salt{};
  std::memcpy(salt.data(), privParams, static_cast<std::size_t>(privParamsLength));

  // An encrypted scoped PDU is decrypted in place; parsing goes on at its
  // first plaintext octet, bounded by the end of the encryptedPDU: octets
  // after it were never decrypted and must not be read as plaintext.
  if (flags & kFlagPriv) {
    unsigned char* encrypted = nullptr;
    int encryptedLength = 0;
    if (!c.readTlv(kBerOctetString, &encrypted, &encryptedLength) ||
        DecryptMsgData(encrypted, static_cast<unsigned long>(encryptedLength), params->privKey,
                       salt.data()) == 0) {
      return kRejected;
    }
    c = BerCursor(encrypted, encrypted + encryptedLength);
  }

  unsigned char* contextEngineId = nullptr;
  int contextEngineIdLength = 0;
  if (!c.enter(kBerSequence) ||
      !c.readTlv(kBerOctetString, &contextEngineId, &contextEngineIdLength) ||
      contextEngineIdLength != engineIdLength ||
      std::memcmp(contextEngineId, params->engineID, static_cast<std::size_t>(engineIdLength)) !=
          0 ||
      !skip(c, kBerOctetString)) {
    return kRejected;
  }

  unsigned char pduTag = 0;
  int pduLength = 0;
  if (!c.readTag(&pduTag) ||
      (pduTag != kPduGetResponse && pduTag != kPduSetRequest && pduTag != kPduReport) ||
      !c.readLength(&pduLength) || pduLength > c.remaining()) {
    return kRejected;
  }
  if (!c.readIntegerOctet(requestId) || !c.readIntegerOctet(errorStatus) ||
      !c.readIntegerOctet(errorIndex)) {
    return kRejected;
  }
  return usbink::readVarbindList(c, params->valueCallback) ? kAccepted : kRejected;
}
