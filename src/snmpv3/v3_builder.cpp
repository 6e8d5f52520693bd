// SNMPv3 requests (RFC 3412 message, RFC 3414 USM, RFC 3416 PDU): the
// engine-discovery request and the authenticated, encrypted GET.
//
// Every building block writes back to front into its own 2048-byte work
// area and copies the finished bytes to the caller's buffer, which is 2048
// bytes too. An input that would not fit (a one-octet length above 127, an
// engine ID over 32 bytes, anything passing the work area) is refused
// before the caller's buffer is written.
#include <array>
#include <cstdio>
#include <cstring>

#include "snmp/ber_back_writer.h"
#include "snmpv3/usm_detail.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/usm.h"

std::uint16_t SNMPv3MsgID = 0;
std::uint16_t SNMPv3RequestID = 0;

namespace {

using usbink::BerBackWriter;

constexpr int kWorkAreaSize = usbink::kV3WorkAreaSize;
constexpr int kMsgMaxSize = 2048;
constexpr std::uint32_t kSnmpVersion3 = 3;
constexpr std::uint32_t kSecurityModelUsm = 3;
constexpr unsigned char kFlagReportable = 0x04;
constexpr int kFailed = -1;

using WorkArea = std::array<unsigned char, kWorkAreaSize>;

// A pass phrase switches its security service on when it is present and
// not empty.
bool given(const char* text) {
  return text != nullptr && text[0] != '\0';
}

// Characters of a C string, counted no further than a work area could hold.
std::size_t boundedLength(const char* text) {
  return text == nullptr ? 0 : strnlen(text, kWorkAreaSize + 1);
}

// Copies what `w` wrote to `out` and returns its size, or `failure` when
// the writer failed or there is no output.
int finish(const BerBackWriter& w, unsigned char* out, int failure) {
  if (!w.ok() || out == nullptr) return failure;
  std::memcpy(out, w.data(), static_cast<std::size_t>(w.size()));
  return w.size();
}

// One variable binding: 30, one-octet length; 06, one-octet length, the OID
// octets; the value element (05 00 for a GET).
bool writeBinding(BerBackWriter& w, const char* oid, bool set, const unsigned char* value,
                  int valueLength, unsigned char valueType) {
  const int mark = w.size();
  if (set) {
    if (valueLength < 0 || (value == nullptr && valueLength > 0)) return false;
    w.bytes(value, static_cast<std::size_t>(valueLength));
    w.berLength(static_cast<std::size_t>(valueLength));
    w.byte(valueType);
  } else {
    w.byte(0x00);
    w.byte(kBerNull);
  }
  std::array<unsigned char, kOidEncodedMax> encoded;
  const int oidLength = CNetIO::oidEncode(oid, encoded.data());
  if (oidLength < 1) return false;
  const int oidMark = w.size();
  w.bytes(encoded.data(), static_cast<std::size_t>(oidLength));
  w.wrapShort(kBerObjectId, oidMark);
  w.wrapShort(kBerSequence, mark);
  return w.ok();
}

// An engine ID field: empty for a null or empty ID, refused above 32 bytes
// (RFC 3411 limits snmpEngineID to 32 octets, and the parser keeps no more).
bool writeEngineId(BerBackWriter& w, const unsigned char* engineID, int engineIDLen) {
  if (engineID == nullptr || engineIDLen < 1) {
    w.shortOctetString(nullptr, 0);
    return true;
  }
  if (engineIDLen > kUsmMaxEngineIdSize) return false;
  w.shortOctetString(engineID, static_cast<std::size_t>(engineIDLen));
  return true;
}

}  // namespace

int CNetIO::BuildSnmpV3PDU(unsigned short requestId, int count, const char** oids,
                           const unsigned char** values, const char* valueLengths,
                           const unsigned char* valueTypes, unsigned char* out) {
  const bool set = values != nullptr;
  if (count > 0 && oids == nullptr) return kFailed;
  if (set && (valueLengths == nullptr || valueTypes == nullptr)) return kFailed;
  WorkArea area;
  BerBackWriter w(area);
  for (int i = count - 1; i >= 0; --i) {
    if (!writeBinding(w, oids[i], set, set ? values[i] : nullptr, set ? valueLengths[i] : 0,
                      set ? valueTypes[i] : 0)) {
      return kFailed;
    }
  }
  w.wrap(kBerSequence, 0);
  w.integer(0);  // error-index
  w.integer(0);  // error-status
  w.integer(requestId);
  w.wrap(set ? kPduSetRequest : kPduGetRequest, 0);
  return finish(w, out, kFailed);
}

int CNetIO::BuildSnmpV3GetRequestPDU(unsigned short requestId, int count, const char** oids,
                                     unsigned char* out) {
  return BuildSnmpV3PDU(requestId, count, oids, nullptr, nullptr, nullptr, out);
}

int CNetIO::BuildSnmpV3msgData(const unsigned char* contextEngineID, int contextEngineIDLen,
                               const char* contextName, unsigned short requestId, int count,
                               const char** oids, const unsigned char** values,
                               const char* valueLengths, const unsigned char* valueTypes,
                               unsigned char* out) {
  if (out == nullptr) return kFailed;
  WorkArea pdu;
  const int pduLength =
      BuildSnmpV3PDU(requestId, count, oids, values, valueLengths, valueTypes, pdu.data());
  if (pduLength < 0) return kFailed;

  WorkArea area;
  BerBackWriter w(area);
  w.bytes(pdu.data(), static_cast<std::size_t>(pduLength));
  w.shortOctetString(reinterpret_cast<const unsigned char*>(contextName),
                     boundedLength(contextName));
  if (!writeEngineId(w, contextEngineID, contextEngineIDLen)) return kFailed;
  w.wrap(kBerSequence, 0);
  return finish(w, out, kFailed);
}

int CNetIO::BuildSnmpV3msgSecurityParameters(const unsigned char* engineID, int engineIDLen,
                                             int engineBoots, int engineTime, const char* userName,
                                             const char* authPassword,
                                             const unsigned char* privParams, int privParamsLen,
                                             unsigned char* out, unsigned long* authOffset) {
  WorkArea area;
  BerBackWriter w(area);
  if (privParamsLen >= 1) {
    if (privParams == nullptr) return kFailed;
    w.shortOctetString(privParams, static_cast<std::size_t>(privParamsLen));
  } else {
    w.shortOctetString(nullptr, 0);
  }
  const bool auth = given(authPassword);
  int placeholderFromEnd = 0;
  if (auth) {
    w.zeros(kUsmMacSize);
    placeholderFromEnd = w.size();
    w.shortLength(kUsmMacSize);
    w.byte(kBerOctetString);
  } else {
    w.shortOctetString(nullptr, 0);
  }
  const std::size_t userLength = boundedLength(userName);
  w.bytes(reinterpret_cast<const unsigned char*>(userName), userLength);
  w.berLength(userLength);
  w.byte(kBerOctetString);
  // Boots and time travel as the unsigned 32-bit values the agent sent.
  w.integer(static_cast<std::uint32_t>(engineTime));
  w.integer(static_cast<std::uint32_t>(engineBoots));
  if (!writeEngineId(w, engineID, engineIDLen)) return kFailed;
  w.wrap(kBerSequence, 0);
  w.wrap(kBerOctetString, 0);
  const int length = finish(w, out, kFailed);
  if (length > 0 && auth && authOffset != nullptr) {
    *authOffset = static_cast<unsigned long>(length - placeholderFromEnd);
  }
  return length;
}

int CNetIO::BuildSnmpV3msgGlobalDataUSM(int msgID, int msgMaxSize, int reportable, int priv,
                                        int auth, unsigned char* out) {
  std::fprintf(stderr, "msgMaxSize=%x, FLIPWORD((LOWORD(msgMaxSize)))=%x\n",
               static_cast<unsigned>(msgMaxSize),
               static_cast<unsigned>(FLIPWORD(static_cast<unsigned short>(msgMaxSize & 0xFFFF))));
  unsigned char flags = 0;
  if (reportable != 0) flags |= kFlagReportable;
  if (priv != 0) flags |= usbink::kFlagPriv;
  if (auth != 0) flags |= usbink::kFlagAuth;

  std::array<unsigned char, kWorkAreaSize> area;
  BerBackWriter w(area);
  w.integer(kSecurityModelUsm);
  w.shortOctetString(&flags, 1);
  w.integer(static_cast<std::uint32_t>(msgMaxSize));
  w.integer(static_cast<std::uint32_t>(msgID));
  w.wrap(kBerSequence, 0);
  return finish(w, out, kFailed);
}

int CNetIO::BuildSnmpV3Packet(unsigned char* globalData, int globalDataLen,
                              unsigned char* securityParameters, int securityParametersLen,
                              unsigned char* msgData, int msgDataLen, unsigned long* authOffset,
                              unsigned char* out) {
  if (globalData == nullptr || securityParameters == nullptr || msgData == nullptr) return kFailed;
  if (globalDataLen < 0 || securityParametersLen < 0 || msgDataLen < 0) return kFailed;
  WorkArea area;
  BerBackWriter w(area);
  w.bytes(msgData, static_cast<std::size_t>(msgDataLen));
  w.bytes(securityParameters, static_cast<std::size_t>(securityParametersLen));
  w.bytes(globalData, static_cast<std::size_t>(globalDataLen));
  w.integer(kSnmpVersion3);
  w.wrap(kBerSequence, 0);
  const int length = finish(w, out, kFailed);
  if (length > 0 && authOffset != nullptr) {
    const int header = length - globalDataLen - securityParametersLen - msgDataLen;
    *authOffset += static_cast<unsigned long>(globalDataLen + header);
  }
  return length;
}

// The caller passes a 2048-byte buffer and its size; a request that would
// not fit the size given is refused with 0.
int CNetIO::BuildSnmpV3GetEngineIdPacket(unsigned short requestId, unsigned short msgID,
                                         unsigned char* out, int outSize) {
  WorkArea scoped, security, global, packet;
  const int scopedLength = BuildSnmpV3msgData(nullptr, 0, nullptr, requestId, 0, nullptr, nullptr,
                                              nullptr, nullptr, scoped.data());
  const int securityLength = BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, nullptr, nullptr,
                                                              nullptr, 0, security.data(), nullptr);
  const int globalLength = BuildSnmpV3msgGlobalDataUSM(msgID, kMsgMaxSize, 1, 0, 0, global.data());
  const int length = BuildSnmpV3Packet(global.data(), globalLength, security.data(), securityLength,
                                       scoped.data(), scopedLength, nullptr, packet.data());
  if (length <= 0 || out == nullptr || length > outSize) return 0;
  std::memcpy(out, packet.data(), static_cast<std::size_t>(length));
  return length;
}

// Builds the request with the keys already localised to the agent's
// engine (`authKey`, `privKey` read, 16 bytes each, null for a service not
// used); the pass phrase only says whether authentication is asked for.
int usbink::buildRequestWithKeys(const unsigned char* engineID, int engineIDLen,
                                 unsigned long engineBoots, unsigned long engineTime, int count,
                                 const char** oids, const unsigned char** values,
                                 const char* valueLengths, const unsigned char* valueTypes,
                                 const char* userName, const char* authPassword,
                                 const unsigned char* authKey, const unsigned char* privKey,
                                 unsigned char* out) {
  const bool auth = given(authPassword) && authKey != nullptr;
  const bool priv = privKey != nullptr;
  if (out == nullptr || (priv && !auth)) return 0;
  const int idLength = engineID == nullptr || engineIDLen < 0 ? 0 : engineIDLen;

  WorkArea scoped{};  // zero, so that the bytes after the scoped PDU pad it
  const int scopedLength =
      CNetIO::BuildSnmpV3msgData(engineID, idLength, nullptr, SNMPv3RequestID, count, oids, values,
                                 valueLengths, valueTypes, scoped.data());
  ++SNMPv3RequestID;
  if (scopedLength < 0) return 0;
  return usbink::secureScopedPdu(engineID, idLength, engineBoots, engineTime, scoped,
                                 scopedLength, userName, authPassword, authKey, privKey, out);
}

// Encrypts (with `privKey`) and authenticates (with `authKey`) the scoped
// PDU at the start of `scoped`, whose bytes after it are zero, and wraps it
// in the message with the security parameters and the global data.
int usbink::secureScopedPdu(const unsigned char* engineID, int idLength,
                            unsigned long engineBoots, unsigned long engineTime,
                            std::span<unsigned char, kV3WorkAreaSize> scoped, int scopedLength,
                            const char* userName, const char* authPassword,
                            const unsigned char* authKey, const unsigned char* privKey,
                            unsigned char* out) {
  const bool auth = given(authPassword) && authKey != nullptr;
  const bool priv = privKey != nullptr;
  if (out == nullptr || (priv && !auth) || scopedLength < 0) return 0;

  // msgData: the plaintext scoped PDU, or the encryptedPDU wrapping its
  // padded ciphertext.
  WorkArea encrypted;
  unsigned char* msgData = scoped.data();
  int msgDataLength = scopedLength;
  std::array<unsigned char, usbink::kUsmSaltSize> salt{};
  if (priv) {
    usbink::nextPrivacySalt(static_cast<std::uint32_t>(engineBoots), salt.data());
    alignas(8) std::array<unsigned char, kDesBlockSize> iv;
    usbink::privacyIv(privKey, salt.data(), iv.data());
    const int padded = (scopedLength + kDesBlockSize - 1) / kDesBlockSize * kDesBlockSize;
    if (padded > kWorkAreaSize) return 0;
    DesEncryption(privKey, iv.data(), scoped.data(), static_cast<unsigned long>(padded),
                  scoped.data(), kWorkAreaSize);
    BerBackWriter w(encrypted);
    w.bytes(scoped.data(), static_cast<std::size_t>(padded));
    w.berLength(static_cast<std::size_t>(padded));
    w.byte(kBerOctetString);
    if (!w.ok()) return 0;
    msgData = w.data();
    msgDataLength = w.size();
  }

  WorkArea security, global;
  unsigned long authOffset = 0;
  const int securityLength = CNetIO::BuildSnmpV3msgSecurityParameters(
      engineID, idLength, static_cast<int>(engineBoots), static_cast<int>(engineTime), userName,
      auth ? authPassword : nullptr, priv ? salt.data() : nullptr, priv ? usbink::kUsmSaltSize : 0,
      security.data(), auth ? &authOffset : nullptr);
  if (securityLength < 0) return 0;
  const int globalLength =
      CNetIO::BuildSnmpV3msgGlobalDataUSM(SNMPv3MsgID, kMsgMaxSize, 1, priv, auth, global.data());
  ++SNMPv3MsgID;
  const int length =
      CNetIO::BuildSnmpV3Packet(global.data(), globalLength, security.data(), securityLength,
                                msgData, msgDataLength, auth ? &authOffset : nullptr, out);
  if (length < 0) return 0;

  if (auth) {
    std::array<unsigned char, kUsmKeySize> key;
    std::memcpy(key.data(), authKey, key.size());
    std::array<unsigned char, kUsmPadSize> k1, k2;
    std::array<unsigned char, kUsmMacSize> mac;
    AuthKey2K1K2(key.data(), k1.data(), k2.data());
    CalcuateAuthParams(out, static_cast<unsigned>(length), k1.data(), k2.data(), mac.data());
    std::memcpy(out + authOffset, mac.data(), mac.size());
  }
  return length;
}

// Privacy without authentication is no valid security level (RFC 3412
// msgFlags), and no caller asks for it: such a request is refused before any
// counter moves. Both key outputs are zeroed first, and again when the
// request cannot be built, so that a refused request never leaves keys for
// the response check.
int CNetIO::BuildSnmpV3RequestPacket(const unsigned char* engineID, int engineIDLen,
                                     unsigned long engineBoots, unsigned long engineTime, int count,
                                     const char** oids, const unsigned char** values,
                                     const char* valueLengths, const unsigned char* valueTypes,
                                     const char* userName, const char* authPassword,
                                     const char* privPassword, unsigned char* authKey,
                                     unsigned char* privKey, unsigned char* out) {
  const bool auth = given(authPassword);
  const bool priv = given(privPassword);
  if (out == nullptr || authKey == nullptr || privKey == nullptr || (priv && !auth)) return 0;
  std::memset(authKey, 0, kUsmKeySize);
  std::memset(privKey, 0, kUsmKeySize);
  const auto idLength =
      static_cast<unsigned>(engineID == nullptr || engineIDLen < 0 ? 0 : engineIDLen);
  const auto localise = [&](const char* passPhrase, unsigned char* key) {
    Password_to_Key_md5(reinterpret_cast<const unsigned char*>(passPhrase),
                        static_cast<unsigned>(std::strlen(passPhrase)), engineID, idLength, key);
  };
  if (priv) localise(privPassword, privKey);
  if (auth) localise(authPassword, authKey);
  const int length = usbink::buildRequestWithKeys(
      engineID, engineIDLen, engineBoots, engineTime, count, oids, values, valueLengths, valueTypes,
      userName, authPassword, auth ? authKey : nullptr, priv ? privKey : nullptr, out);
  if (length == 0) {
    std::memset(authKey, 0, kUsmKeySize);
    std::memset(privKey, 0, kUsmKeySize);
  }
  return length;
}
