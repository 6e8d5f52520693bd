// SNMP v1 GetRequest building, GetResponse parsing, the value consumers that
// file received values into the process-wide buffers, and the wrappers that
// tie one parse to one consumer.
#include <algorithm>
#include <array>
#include <cstring>

#include "snmp/ber_cursor.h"
#include "snmp/v1_message.h"
#include "snmp/varbind_list.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/status.h"

char g_deviceid[kDeviceIdSize];
char g_RecvBuf[kRecvBufSize];
unsigned char sysObjId[kSysObjIdSize];
int sysObjIdLen = 0;

const unsigned char request_oid_pf[kRequestOidPfSize] = {
    0xA0, 0x19, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30,
    0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00, 0x05, 0x00};

namespace {

using usbink::BerCursor;

// Content octets of sysObjectID.0, the only variable outputOidValue takes.
constexpr unsigned char kSysObjectIdOid[] = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00};
// A sysObjectID of this many octets or fewer never counts as a target.
constexpr int kSysObjIdMinMatch = 4;

bool enterMessage(BerCursor& cursor) {
  return cursor.expectTag(kBerSequence) && cursor.lengthFillsRest();
}

// A GetResponse, or a PDU tagged like a SetRequest, which is read the same way.
bool enterPdu(BerCursor& cursor) {
  unsigned char tag = 0;
  return cursor.readTag(&tag) && (tag == kPduGetResponse || tag == kPduSetRequest) &&
         cursor.lengthFillsRest();
}

// Reads the community and copies it, with a zero octet, to `out` when given.
// The output has no size argument: it must hold kCommunityCapacity octets,
// and a longer community is refused rather than cut.
bool readCommunity(BerCursor& cursor, char* out) {
  unsigned char* content = nullptr;
  int length = 0;
  if (!cursor.readTlv(kBerOctetString, &content, &length)) return false;
  if (out == nullptr) return true;
  if (length >= kCommunityCapacity) return false;
  std::copy_n(content, length, out);
  out[length] = '\0';
  return true;
}

// Whether outputRecvBufValue refused the latest value of the parse that
// parseForRecvBuf runs (reset before each parse; single-threaded like the
// buffer it guards).
bool recvBufValueRefused = false;

bool fileRecvBufValue(unsigned char* oid, int oidLength, unsigned char valueType,
                      unsigned char* value, int valueLength) {
  recvBufValueRefused = !outputRecvBufValue(oid, oidLength, valueType, value, valueLength);
  return !recvBufValueRefused;
}

bool parseWithConsumer(unsigned char* data, int length, SnmpValueCallback consumer) {
  return CNetIO::parseGetResponse(data, length, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  consumer) == 1;
}

// Copies a value with a zero octet after it into `buffer` when both fit; a
// value that does not fit is refused and the buffer keeps its contents, so a
// consumer never holds a cut value.
bool storeTerminated(std::span<char> buffer, const unsigned char* value, int valueLength) {
  if (valueLength < 0 || static_cast<std::size_t>(valueLength) >= buffer.size()) return false;
  if (value == nullptr && valueLength > 0) return false;
  std::copy_n(value, valueLength, buffer.data());
  buffer[static_cast<std::size_t>(valueLength)] = '\0';
  return true;
}

}  // namespace

void Big2LittleEndian_(char* p) {
  Big2LittleEndian(p);
}

// Builds a GetRequest naming the identifier text `oid` (read) `count` times,
// each with a NULL value, for `community` (read; null for the default) into
// `out` (written); returns its size, or -1 with `out` untouched.
//
// Every length of the message is written in the one-octet form, and a
// message that would need a long-form length anywhere is refused with -1:
// the system's requests (one varbind, an OID of at most 20 octets, a short
// community) stay far below that.
int CNetIO::BuildGetRequestFor(int count, char* oid, char* community, unsigned char* out) {
  if (count < 1 || oid == nullptr || out == nullptr) return -1;
  std::array<unsigned char, kOidEncodedMax> encoded{};
  const int oidLength = oidEncode(oid, encoded.data());
  if (oidLength < 1) return -1;
  const std::span<const unsigned char> oidContent(encoded.data(),
                                                  static_cast<std::size_t>(oidLength));

  std::array<unsigned char, usbink::kShortMessageMax> work{};
  usbink::BerBackWriter writer(work);
  usbink::writeGetRequestPdu(writer, oidContent, count);
  if (!usbink::prependV1Header(writer, community)) return -1;
  std::ranges::copy(writer.written(), out);
  return writer.size();
}

// Parses the GetResponse in `data` (read, `length` octets): the outputs
// (written when given) receive the first octet of each INTEGER and the
// community; `callback` gets each variable. Returns 1 or 0 (rejected).
//
// A `length` below 2 cannot hold the message tag and its length octet and is
// rejected. Every length is read through a cursor bounded by `data` +
// `length`, so nothing past the received octets is ever read; length fields
// of more than four octets are refused (see BerCursor).
int CNetIO::parseGetResponse(unsigned char* data, int length, int* version, char* community,
                             unsigned char* requestId, unsigned char* errorStatus,
                             unsigned char* errorIndex, SnmpValueCallback callback) {
  if (data == nullptr || length < 2) return 0;
  BerCursor cursor(data, data + length);
  unsigned char versionOctet = 0;
  if (!enterMessage(cursor) || !cursor.readIntegerOctet(&versionOctet)) return 0;
  if (version != nullptr) *version = versionOctet;
  const bool accepted =
      readCommunity(cursor, community) && enterPdu(cursor) && cursor.readIntegerOctet(requestId) &&
      cursor.readIntegerOctet(errorStatus) && cursor.readIntegerOctet(errorIndex) &&
      usbink::readVarbindList(cursor, callback);
  return accepted ? 1 : 0;
}

// Files any value in `g_RecvBuf`.
bool outputRecvBufValue(unsigned char*, int, unsigned char, unsigned char* value, int valueLength) {
  return storeTerminated(g_RecvBuf, value, valueLength);
}

// Files an OCTET STRING value in `g_deviceid`.
bool outputDeviceIdValue(unsigned char*, int, unsigned char valueType, unsigned char* value,
                         int valueLength) {
  if (valueType != kBerOctetString) return false;
  return storeTerminated(g_deviceid, value, valueLength);
}

// Files the value of sysObjectID.0 in `sysObjId` and `sysObjIdLen`.
//
// An OID shorter than the eight octets of sysObjectID.0 is not compared (and
// does not match); a longer one that begins with them does. A value longer
// than `sysObjId` is refused and nothing is stored.
bool outputOidValue(unsigned char* oid, int oidLength, unsigned char valueType,
                    unsigned char* value, int valueLength) {
  if (oid == nullptr || oidLength < static_cast<int>(sizeof kSysObjectIdOid)) return false;
  if (std::memcmp(oid, kSysObjectIdOid, sizeof kSysObjectIdOid) != 0) return false;
  if (valueType != kBerObjectId || valueLength < 0 || valueLength > kSysObjIdSize) return false;
  if (value == nullptr && valueLength > 0) return false;
  std::copy_n(value, valueLength, sysObjId);
  sysObjIdLen = valueLength;
  return true;
}

// Parses `data` (read) and copies its last value as a string to `out`
// (written). `out` must hold kRecvBufSize characters: the value in
// `g_RecvBuf` is at most kRecvBufSize - 1 characters and always terminated.
//
// The last value is the result: when it does not fit `g_RecvBuf` (kRecvBufSize
// octets or more) the consumer refuses it and the parse fails with 0, rather
// than handing out an earlier value or an empty string as if it were read.
int CNetIO::parseForRecvBuf(unsigned char* data, int length, char* out) {
  std::ranges::fill(g_RecvBuf, '\0');
  recvBufValueRefused = false;
  if (!parseWithConsumer(data, length, fileRecvBufValue) || recvBufValueRefused) return 0;
  if (out != nullptr) std::strcpy(out, g_RecvBuf);
  return 1;
}

// Parses `data` (read) and decodes the status block of its device ID into
// `status` (written); true when both succeed.
//
// `g_deviceid` is cleared first, so only a device ID carried by this very
// response is decoded: an answer without one (noSuchName, say) fails instead
// of decoding the device ID of whatever printer answered before.
bool CNetIO::parseForDeviceId(unsigned char* data, int length, PRINTER_STATUS* status) {
  std::ranges::fill(g_deviceid, '\0');
  if (!parseWithConsumer(data, length, outputDeviceIdValue)) return false;
  return CTavrenCmd().DecodStatusFromDeviceID(g_deviceid, status) == 0;
}

// Parses `data` (read); 1 when its sysObjectID begins one of the targets.
//
// A sysObjectID longer than a target cannot equal one and is no hit; the
// comparison never reaches past the kTargetOidSize octets of a target.
bool CNetIO::matchesTarget(const unsigned char* objectId, int length) const {
  if (length <= kSysObjIdMinMatch || length > kTargetOidSize) return false;
  const auto n = static_cast<std::size_t>(length);
  return std::memcmp(objectId, targetOid1, n) == 0 || std::memcmp(objectId, targetOid2, n) == 0;
}

int CNetIO::parseForOID(unsigned char* data, int length, unsigned char*, int) {
  sysObjIdLen = 0;
  if (!parseWithConsumer(data, length, outputOidValue)) return 0;
  return matchesTarget(sysObjId, sysObjIdLen) ? 1 : 0;
}

namespace {

// Encodes `text` into a scratch area and copies it to `target` when it fits.
// An identifier of more than kTargetOidSize octets leaves the target zero
// and yields -1, the encoder's value for an identifier outside its limits.
int encodeTarget(const char* text, unsigned char (&target)[kTargetOidSize]) {
  std::array<unsigned char, kOidEncodedMax> scratch{};
  const int n = CNetIO::oidEncode(text, scratch.data());
  if (n > kTargetOidSize) return -1;
  if (n > 0) std::copy_n(scratch.begin(), n, target);
  return n;
}

}  // namespace

// Sets the targets from the identifier texts `oid1` and `oid2` (read);
// returns the encoding result of `oid2`.
int CNetIO::InitTargetOID(const char* oid1, const char* oid2) {
  std::ranges::fill(targetOid1, 0);
  std::ranges::fill(targetOid2, 0);
  encodeTarget(oid1, targetOid1);
  return encodeTarget(oid2, targetOid2);
}
