// Messages of a table walk: GetNext (SNMP v1 and v2c) and GetBulk (v2c)
// requests for one object, and the answers they get, read with the same
// bounded cursor and varbind-list reader as every other SNMP answer.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "snmp/ber_back_writer.h"
#include "usbink/netio.h"

namespace usbink {

// An object identifier as its subidentifiers, the first one holding the
// first two arcs (40 X + Y) as on the wire. Compared subidentifier by
// subidentifier, which is the order of a MIB walk.
using Oid = std::vector<std::uint32_t>;

// The dotted text of `text` as an Oid; nullopt for anything but digits and
// single dots, an arc beyond 32 bits, or fewer than two arcs.
std::optional<Oid> oidFromText(const std::string& text);
// Dotted text of an Oid ("1.3.6..."), for messages.
std::string oidText(const Oid& oid);
// Content octets of an OBJECT IDENTIFIER to an Oid; nullopt for an empty
// encoding, a subidentifier beyond 32 bits, a padding octet 0x80 at the
// start of a subidentifier (not the minimal encoding, so two encodings
// would name one object), a last octet with bit 7 set, or more than
// kMaxOidSubidentifiers subidentifiers.
std::optional<Oid> oidFromBer(std::span<const unsigned char> content);
// True when `oid` lies strictly inside the subtree `root`.
bool inSubtree(const Oid& oid, const Oid& root);

// RFC 3416 limits an object identifier to 128 subidentifiers.
inline constexpr std::size_t kMaxOidSubidentifiers = 128;

// SNMP versions on the wire (the msgVersion / version INTEGER).
enum class SnmpVersion : std::uint8_t { kV1 = 0, kV2c = 1, kV3 = 3 };

// PDU tags and the v2c exceptions of a variable binding (RFC 3416).
inline constexpr unsigned char kPduGetNextRequest = 0xA1;
inline constexpr unsigned char kPduGetBulkRequest = 0xA5;
inline constexpr unsigned char kNoSuchObject = 0x80;
inline constexpr unsigned char kNoSuchInstance = 0x81;
inline constexpr unsigned char kEndOfMibView = 0x82;
// error-status noSuchName: a v1 agent's "end of the MIB" for a GetNext.
inline constexpr int kErrorNoSuchName = 2;

struct Varbind {
  Oid oid;
  unsigned char type = 0;
  std::vector<unsigned char> value;
};

// One answer to a walk request. requestId is the first content octet of
// the request-id (the walk keeps its own ids in 1..127, where that octet is
// the whole value); errorStatus and errorIndex likewise.
struct WalkAnswer {
  int requestId = -1;
  int errorStatus = 0;
  int errorIndex = 0;
  std::vector<Varbind> varbinds;
  bool malformedBinding = false;  // a binding whose OID did not decode
};

// Writes a GetNext (maxRepetitions 0) or GetBulk PDU (non-repeaters 0)
// asking for what follows `oid`. Lengths take the long form when needed.
void writeWalkPdu(BerBackWriter& writer, int requestId, const Oid& oid, int maxRepetitions);
// A whole v1 or v2c request (version and community in front of the PDU)
// into `out`; its size, or 0 when it does not fit.
int buildCommunityWalkRequest(SnmpVersion version, const std::string& community, int requestId,
                              const Oid& oid, int maxRepetitions, std::span<unsigned char> out);

// Reads a v1 or v2c answer of `version` from `datagram`: a GetResponse
// filling it exactly. nullopt for anything else (the datagram is read only,
// though the cursor takes it as mutable).
std::optional<WalkAnswer> readCommunityAnswer(std::span<unsigned char> datagram,
                                              SnmpVersion version);

// While it lives, the value callback collectorCallback() files every
// binding a parser hands it into `answer`. One collector at a time per
// thread: the callback type carries no user pointer.
class VarbindCollector {
 public:
  explicit VarbindCollector(WalkAnswer* answer);
  ~VarbindCollector();
  VarbindCollector(const VarbindCollector&) = delete;
  VarbindCollector& operator=(const VarbindCollector&) = delete;
  static SnmpValueCallback callback();
};

// A signed INTEGER value (Integer32: two's complement in 1 to 4 octets);
// nullopt for a value of another type or size.
std::optional<std::int32_t> integerValue(const Varbind& v);

}  // namespace usbink
