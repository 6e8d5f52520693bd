#include "snmp/walk_message.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "snmp/ber_cursor.h"
#include "snmp/varbind_list.h"
#include "usbink/ber.h"

namespace usbink {
namespace {

constexpr unsigned char kNullValue[] = {kBerNull, 0x00};
constexpr std::uint32_t kArcMultiplier = 40;
constexpr std::uint32_t kLastFirstArc = 2;
// A 32-bit subidentifier takes at most five base-128 octets.
constexpr int kMaxSubidentifierOctets = 5;

thread_local WalkAnswer* t_sink = nullptr;

bool collect(unsigned char* oid, int oidLength, unsigned char valueType, unsigned char* value,
             int valueLength) {
  if (t_sink == nullptr) return false;
  auto decoded = oidFromBer({oid, static_cast<std::size_t>(oidLength)});
  if (!decoded) {
    t_sink->malformedBinding = true;
    return false;
  }
  t_sink->varbinds.push_back(
      {std::move(*decoded), valueType, std::vector<unsigned char>(value, value + valueLength)});
  return true;
}

void writeSubidentifier(BerBackWriter& w, std::uint32_t value) {
  unsigned char octets[kMaxSubidentifierOctets];
  int n = 0;
  do {
    octets[kMaxSubidentifierOctets - 1 - n] = static_cast<unsigned char>((value & 0x7F) | (n ? 0x80 : 0));
    value >>= 7;
    ++n;
  } while (value != 0);
  w.bytes(octets + kMaxSubidentifierOctets - n, static_cast<std::size_t>(n));
}

}  // namespace

std::optional<Oid> oidFromText(const std::string& text) {
  std::vector<std::uint32_t> arcs;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    std::uint32_t arc = 0;
    const auto [next, error] = std::from_chars(p, end, arc);
    if (error != std::errc() || next == p) return std::nullopt;
    arcs.push_back(arc);
    p = next;
    if (p < end && (*p != '.' || ++p == end)) return std::nullopt;
  }
  if (arcs.size() < 2 || arcs[0] > kLastFirstArc || (arcs[0] < kLastFirstArc && arcs[1] >= kArcMultiplier) ||
      arcs[1] > UINT32_MAX - kArcMultiplier * kLastFirstArc || arcs.size() > kMaxOidSubidentifiers) {
    return std::nullopt;
  }
  Oid oid = {arcs[0] * kArcMultiplier + arcs[1]};
  oid.insert(oid.end(), arcs.begin() + 2, arcs.end());
  return oid;
}

std::string oidText(const Oid& oid) {
  if (oid.empty()) return "";
  const std::uint32_t first = std::min(oid[0] / kArcMultiplier, kLastFirstArc);
  std::string text = std::to_string(first) + "." + std::to_string(oid[0] - first * kArcMultiplier);
  for (std::size_t i = 1; i < oid.size(); ++i) text += "." + std::to_string(oid[i]);
  return text;
}

std::optional<Oid> oidFromBer(std::span<const unsigned char> content) {
  if (content.empty()) return std::nullopt;
  Oid oid;
  std::uint64_t value = 0;
  bool start = true;
  for (const unsigned char octet : content) {
    if (start && octet == 0x80) return std::nullopt;
    value = (value << 7) | (octet & 0x7F);
    if (value > UINT32_MAX) return std::nullopt;
    start = (octet & 0x80) == 0;
    if (start) {
      if (oid.size() == kMaxOidSubidentifiers) return std::nullopt;
      oid.push_back(static_cast<std::uint32_t>(value));
      value = 0;
    }
  }
  if (!start) return std::nullopt;
  return oid;
}

bool inSubtree(const Oid& oid, const Oid& root) {
  return oid.size() > root.size() && std::equal(root.begin(), root.end(), oid.begin());
}

void writeWalkPdu(BerBackWriter& w, int requestId, const Oid& oid, int maxRepetitions) {
  const int binding = w.size();
  w.bytes(kNullValue);
  const int oidStart = w.size();
  for (auto it = oid.rbegin(); it != oid.rend(); ++it) writeSubidentifier(w, *it);
  w.wrap(kBerObjectId, oidStart);
  w.wrap(kBerSequence, binding);
  w.wrap(kBerSequence, 0);
  // GetNext: error-index, error-status 0. GetBulk: max-repetitions and
  // non-repeaters 0 in the same places.
  w.integer(static_cast<std::uint32_t>(maxRepetitions));
  w.integer(0);
  w.integer(static_cast<std::uint32_t>(requestId));
  w.wrap(maxRepetitions > 0 ? kPduGetBulkRequest : kPduGetNextRequest, 0);
}

int buildCommunityWalkRequest(SnmpVersion version, const std::string& community, int requestId,
                              const Oid& oid, int maxRepetitions, std::span<unsigned char> out) {
  BerBackWriter w(out);
  writeWalkPdu(w, requestId, oid, version == SnmpVersion::kV1 ? 0 : maxRepetitions);
  w.bytes(reinterpret_cast<const unsigned char*>(community.data()), community.size());
  w.berLength(community.size());
  w.byte(kBerOctetString);
  w.integer(static_cast<std::uint32_t>(version));
  w.wrap(kBerSequence, 0);
  if (!w.ok()) return 0;
  // The writer filled `out` from its end; move the message to its start.
  const int size = w.size();
  std::memmove(out.data(), w.data(), static_cast<std::size_t>(size));
  return size;
}

std::optional<WalkAnswer> readCommunityAnswer(std::span<unsigned char> datagram,
                                              SnmpVersion version) {
  BerCursor c(datagram.data(), datagram.data() + datagram.size());
  unsigned char* community = nullptr;
  int communityLength = 0;
  unsigned char* versionContent = nullptr;
  int versionLength = 0;
  if (!c.expectTag(kBerSequence) || !c.lengthFillsRest() ||
      !c.readTlv(kBerInteger, &versionContent, &versionLength) || versionLength != 1 ||
      versionContent[0] != static_cast<unsigned char>(version) ||
      !c.readTlv(kBerOctetString, &community, &communityLength) ||
      !c.expectTag(kPduGetResponse) || !c.lengthFillsRest()) {
    return std::nullopt;
  }
  WalkAnswer answer;
  unsigned char requestId = 0, errorStatus = 0, errorIndex = 0;
  if (!c.readIntegerOctet(&requestId) || !c.readIntegerOctet(&errorStatus) ||
      !c.readIntegerOctet(&errorIndex)) {
    return std::nullopt;
  }
  answer.requestId = requestId;
  answer.errorStatus = errorStatus;
  answer.errorIndex = errorIndex;
  VarbindCollector collector(&answer);
  if (!readVarbindList(c, VarbindCollector::callback())) return std::nullopt;
  return answer;
}

VarbindCollector::VarbindCollector(WalkAnswer* answer) { t_sink = answer; }
VarbindCollector::~VarbindCollector() { t_sink = nullptr; }
SnmpValueCallback VarbindCollector::callback() { return collect; }

std::optional<std::int32_t> integerValue(const Varbind& v) {
  if (v.type != kBerInteger || v.value.empty() || v.value.size() > 4) return std::nullopt;
  std::uint32_t bits = (v.value[0] & 0x80) ? UINT32_MAX : 0;
  for (const unsigned char octet : v.value) bits = (bits << 8) | octet;
  return static_cast<std::int32_t>(bits);
}

}  // namespace usbink
