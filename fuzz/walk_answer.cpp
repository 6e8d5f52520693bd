// Answers to a table walk from the network: any bytes. The first byte picks
// the protocol (0 SNMP v1, 1 v2c, 2 SNMPv3 read without keys); then come
// datagrams, each behind a two-byte big-endian length, fed in order to one
// walk, whose values are joined into supplies and printed. Whatever
// arrives, the walk keeps only values inside its subtree, each after the one
// before, never more than its cap, and takes nothing once it has stopped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "query/supplies.h"
#include "snmp/table_walk.h"
#include "snmpv3/v3_walk.h"

namespace {

constexpr std::size_t kCap = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace usbink;
  if (size < 1) return 0;
  const int mode = data[0] % 3;
  const SnmpVersion version = mode == 0 ? SnmpVersion::kV1 : SnmpVersion::kV2c;
  SubtreeWalk walk(*oidFromText(query::kOidSuppliesEntry), kCap);
  std::size_t at = 1;
  while (at + 2 <= size) {
    const std::size_t length = std::min<std::size_t>((data[at] << 8) | data[at + 1], size - at - 2);
    std::vector<unsigned char> datagram(data + at + 2, data + at + 2 + length);
    at += 2 + length;
    std::optional<WalkAnswer> answer;
    if (mode == 2) {
      _SNMP_PARAM_V3 params{};
      int report = 0;
      answer = UsmRequester::readAnswer(datagram, params, &report);
    } else {
      answer = readCommunityAnswer(datagram, version);
    }
    if (!answer) continue;
    const bool wasRunning = walk.running();
    const std::size_t before = walk.values().size();
    walk.take(*answer, version);
    if (!wasRunning && walk.values().size() != before) std::abort();
  }
  const auto& values = walk.values();
  if (values.size() > kCap) std::abort();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!inSubtree(values[i].oid, walk.root())) std::abort();
    if (i > 0 && !(values[i - 1].oid < values[i].oid)) std::abort();
  }
  query::SuppliesReport report{"192.0.2.1", "SNMPv2c", query::joinSupplies(values, values),
                               walk.end() == WalkEnd::kComplete, walk.message()};
  const std::string text = query::suppliesTable(report) + query::suppliesJson(report);
  int state = 0;
  query::suppliesNagios(report, 20, 10, &state);
  return text.empty() ? 1 : 0;
}
