#include "query/supplies.h"

#include <algorithm>
#include <map>

#include "query/monitoring.h"
#include "query/output.h"
#include "usbink/ber.h"

namespace usbink::query {
namespace {

// Columns of prtMarkerSuppliesEntry.
enum Column : std::uint32_t {
  kColorantIndexColumn = 3,
  kClassColumn = 4,
  kTypeColumn = 5,
  kDescriptionColumn = 6,
  kUnitColumn = 7,
  kMaxCapacityColumn = 8,
  kLevelColumn = 9,
};
// Both tables are indexed by hrDeviceIndex and one index of their own.
constexpr std::size_t kIndexArcs = 2;
constexpr long long kHundred = 100;

// PrtMarkerSuppliesTypeTC (RFC 3805), from 1.
constexpr const char* kTypeNames[] = {
    "other",         "unknown",         "toner",          "wasteToner",     "ink",
    "inkCartridge",  "inkRibbon",       "wasteInk",       "opc",            "developer",
    "fuserOil",      "solidWax",        "ribbonWax",      "wasteWax",       "fuser",
    "coronaWire",    "fuserOilWick",    "cleanerUnit",    "fuserCleaningPad",
    "transferUnit",  "tonerCartridge",  "fuserOiler",     "water",          "wasteWater",
    "glueWaterAdditive", "wastePaper",  "bindingSupply",  "bandingSupply",  "stitchingWire",
    "shrinkWrap",    "paperWrap",       "staples",        "inserts",        "covers"};

std::string octets(const Varbind& v) {
  return v.type == kBerOctetString ? std::string(v.value.begin(), v.value.end()) : std::string();
}

// The oid's index after `root` and one column arc, when it has the two arcs
// both tables use.
std::optional<std::pair<std::uint32_t, std::uint32_t>> rowIndex(const Oid& oid, std::size_t at) {
  if (oid.size() != at + kIndexArcs) return std::nullopt;
  return std::pair{oid[at], oid[at + 1]};
}

std::string indexText(const Supply& s) {
  return std::to_string(s.device) + "." + std::to_string(s.index);
}

std::string jsonNumber(std::optional<long long> n) {
  return n ? std::to_string(*n) : "null";
}

// Width of `text` on a terminal, counting each UTF-8 sequence once.
std::size_t columns(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::vector<Supply> joinSupplies(const std::vector<Varbind>& entries,
                                 const std::vector<Varbind>& colorants) {
  const Oid entryRoot = *oidFromText(kOidSuppliesEntry);
  const Oid colorantRoot = *oidFromText(kOidColorantValue);
  std::map<std::pair<std::uint32_t, std::uint32_t>, Supply> rows;
  for (const Varbind& v : entries) {
    if (!inSubtree(v.oid, entryRoot)) continue;
    const auto index = rowIndex(v.oid, entryRoot.size() + 1);
    if (!index) continue;
    Supply& s = rows[*index];
    s.device = index->first;
    s.index = index->second;
    const auto number = integerValue(v);
    switch (v.oid[entryRoot.size()]) {
      case kColorantIndexColumn: s.colorantIndex = number; break;
      case kClassColumn: s.supplyClass = number; break;
      case kTypeColumn: s.type = number; break;
      case kDescriptionColumn: s.description = octets(v); break;
      case kUnitColumn: s.unit = number; break;
      case kMaxCapacityColumn: s.maxCapacity = number; break;
      case kLevelColumn: s.level = number; break;
      default: break;
    }
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> colours;
  for (const Varbind& v : colorants) {
    if (!inSubtree(v.oid, colorantRoot)) continue;
    if (const auto index = rowIndex(v.oid, colorantRoot.size())) colours[*index] = octets(v);
  }
  std::vector<Supply> supplies;
  for (auto& [index, s] : rows) {
    // Colorant index 0 means the supply has no colorant.
    if (s.colorantIndex && *s.colorantIndex > 0) {
      const auto found = colours.find({s.device, static_cast<std::uint32_t>(*s.colorantIndex)});
      if (found != colours.end()) s.colour = found->second;
    }
    supplies.push_back(std::move(s));
  }
  return supplies;
}

std::optional<long long> supplyPercent(const Supply& s) {
  if (!s.level || !s.maxCapacity || *s.level < 0 || *s.maxCapacity <= 0) return std::nullopt;
  return static_cast<long long>(*s.level) * kHundred / *s.maxCapacity;
}

std::string levelText(const Supply& s) {
  // A receptacle's level is the room left in it (RFC 3805).
  const bool receptacle = s.supplyClass == kClassReceptacle;
  if (const auto p = supplyPercent(s)) return std::to_string(*p) + (receptacle ? "% free" : "%");
  if (!s.level) return "not reported";
  switch (*s.level) {
    case kLevelSomeRemaining: return receptacle ? "some room left" : "some remaining";
    case kLevelUnknown: return "unknown";
    case kLevelOther: return "other";
    default: break;
  }
  if (*s.level < 0) return "invalid (" + std::to_string(*s.level) + ")";
  return std::to_string(*s.level) + " of unknown capacity";
}

std::string supplyTypeName(std::optional<std::int32_t> type) {
  if (!type || *type < 1 || *type > static_cast<int>(std::size(kTypeNames))) return "";
  return kTypeNames[*type - 1];
}

std::string supplyClassName(std::optional<std::int32_t> supplyClass) {
  if (supplyClass == 1) return "other";
  if (supplyClass == 3) return "consumed";
  if (supplyClass == kClassReceptacle) return "receptacle";
  return "";
}

std::string suppliesTable(const SuppliesReport& r) {
  std::vector<std::array<std::string, 4>> rows = {{"DESCRIPTION", "TYPE", "COLOUR", "LEVEL"}};
  for (const Supply& s : r.supplies) {
    rows.push_back({terminalText(s.description), supplyTypeName(s.type), terminalText(s.colour),
                    levelText(s)});
  }
  std::array<std::size_t, 4> width{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], columns(row[i]));
  }
  std::string text = "address: " + terminalText(r.address) + "\nprotocol: " + r.protocol + "\n";
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - columns(row[i]) + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string suppliesJson(const SuppliesReport& r) {
  std::string text = "{\"address\":" + jsonString(r.address) + ",\"protocol\":" +
                     jsonString(r.protocol) + ",\"complete\":" + (r.complete ? "true" : "false");
  if (!r.complete) text += ",\"message\":" + jsonString(r.message);
  text += ",\"supplies\":[";
  for (std::size_t i = 0; i < r.supplies.size(); ++i) {
    const Supply& s = r.supplies[i];
    const auto n = [](std::optional<std::int32_t> v) {
      return jsonNumber(v ? std::optional<long long>(*v) : std::nullopt);
    };
    text += (i ? ",{" : "{") + std::string("\"index\":") + jsonString(indexText(s)) +
            ",\"description\":" + jsonString(s.description) +
            ",\"class\":" + jsonString(supplyClassName(s.supplyClass)) +
            ",\"type\":" + jsonString(supplyTypeName(s.type)) +
            ",\"colour\":" + jsonString(s.colour) + ",\"unit\":" + n(s.unit) +
            ",\"max\":" + n(s.maxCapacity) + ",\"level\":" + n(s.level) +
            ",\"percent\":" + jsonNumber(supplyPercent(s)) +
            ",\"level-text\":" + jsonString(levelText(s)) + "}";
  }
  return text + "]}\n";
}

std::string suppliesPrometheus(const SuppliesReport& r) {
  PrometheusGauges gauges;
  gauges.add("usbink_supplies_read_success",
             "Whether the printer's whole Printer-MIB supplies table was read (1) or not (0).",
             {{"address", r.address}}, r.complete ? 1 : 0);
  for (const Supply& s : r.supplies) {
    const auto p = supplyPercent(s);
    if (!p) continue;
    gauges.add("usbink_supply_level_percent",
               "Supply level in percent of its capacity; for a waste container the room left.",
               {{"address", r.address},
                {"index", indexText(s)},
                {"description", s.description},
                {"type", supplyTypeName(s.type)},
                {"colour", s.colour}},
               static_cast<double>(*p));
  }
  return gauges.text();
}

// The lowest known percent decides. A waste container counts like the
// others: RFC 3805 makes its level the room left in it, so a low value
// there is as urgent as low toner. Supplies without a percent (special
// values, no capacity) show as 'U' in the performance data and decide
// nothing; an incomplete walk or no percent at all is at least UNKNOWN.
std::string suppliesNagios(const SuppliesReport& r, int warning, int critical, int* state) {
  const NagiosThresholds thresholds{warning, critical};
  NagiosState worst = NagiosState::kOk;
  const Supply* lowest = nullptr;
  std::vector<std::string> perf;
  for (const Supply& s : r.supplies) {
    const auto p = supplyPercent(s);
    const std::optional<int> level =
        p ? std::optional<int>(static_cast<int>(std::min<long long>(*p, INT32_MAX))) : std::nullopt;
    perf.push_back(nagiosPerfData(s.description.empty() ? indexText(s) : s.description, level,
                                  thresholds));
    if (!level) continue;
    worst = worseState(worst, nagiosState(*level, thresholds));
    if (lowest == nullptr || *level < *supplyPercent(*lowest)) lowest = &s;
  }
  std::string summary;
  if (lowest != nullptr) {
    summary = "lowest " + nagiosText(lowest->description) + " " + levelText(*lowest);
  } else {
    worst = worseState(worst, NagiosState::kUnknown);
    summary = r.supplies.empty() ? "no supplies read" : "no supply reports a level in percent";
  }
  if (!r.complete) {
    worst = worseState(worst, NagiosState::kUnknown);
    summary += "; incomplete: " + nagiosText(r.message);
  }
  *state = static_cast<int>(worst);
  return nagiosLine(worst, summary, perf);
}

}  // namespace usbink::query
