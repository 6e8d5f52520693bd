// The supplies of any network printer from the standard Printer MIB
// (RFC 3805): prtMarkerSuppliesTable and prtMarkerColorantValue, read by a
// table walk, joined into one row per supply and printed as a table, JSON,
// Prometheus gauges or a Nagios status line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "snmp/walk_message.h"

namespace usbink::query {

// prtMarkerSuppliesEntry and prtMarkerColorantValue.
inline constexpr char kOidSuppliesEntry[] = "1.3.6.1.2.1.43.11.1.1";
inline constexpr char kOidColorantValue[] = "1.3.6.1.2.1.43.12.1.1.4";

// RFC 3805 special values of prtMarkerSuppliesLevel and ...MaxCapacity.
inline constexpr int kLevelOther = -1;
inline constexpr int kLevelUnknown = -2;
inline constexpr int kLevelSomeRemaining = -3;
// prtMarkerSuppliesClass receptacleThatIsFilled (a waste container).
inline constexpr int kClassReceptacle = 4;

struct Supply {
  std::uint32_t device = 0;  // hrDeviceIndex
  std::uint32_t index = 0;   // prtMarkerSuppliesIndex
  std::string description;
  std::optional<std::int32_t> supplyClass, type, unit, maxCapacity, level, colorantIndex;
  std::string colour;  // the colorant's name, "" when none or unknown
};

// Joins the values read under kOidSuppliesEntry and kOidColorantValue into
// supplies, in table order. Values of an unexpected type or index shape
// leave their cell empty.
std::vector<Supply> joinSupplies(const std::vector<Varbind>& entries,
                                 const std::vector<Varbind>& colorants);

// level × 100 / max, when the level is known (≥ 0) and the capacity is a
// positive number; otherwise nullopt.
std::optional<long long> supplyPercent(const Supply& s);
// "57%", or the RFC 3805 words for the special levels ("some remaining",
// "unknown", "other"), or "N of unknown capacity", or "not reported".
std::string levelText(const Supply& s);
// RFC 3805 PrtMarkerSuppliesTypeTC and ...ClassTC names, "" for others.
std::string supplyTypeName(std::optional<std::int32_t> type);
std::string supplyClassName(std::optional<std::int32_t> supplyClass);

// What a walk of both tables gave.
struct SuppliesReport {
  std::string address;
  std::string protocol;  // "SNMPv1", "SNMPv2c", "SNMPv3"
  std::vector<Supply> supplies;
  bool complete = false;
  std::string message;  // why the walk stopped early
};

std::string suppliesTable(const SuppliesReport& r);
std::string suppliesJson(const SuppliesReport& r);
std::string suppliesPrometheus(const SuppliesReport& r);
// The Nagios line and its state (the exit status).
std::string suppliesNagios(const SuppliesReport& r, int warning, int critical, int* state);

// The index of the word "supplies" in argv when it is the command (after
// the global options), else 0.
int suppliesCommandIndex(int argc, char** argv);
// A host name or address to a numeric address, or nullopt with the
// resolver's message in `*error`.
using AddressResolver =
    std::function<std::optional<std::string>(const std::string& host, std::string* error)>;
// Runs "usbink-query [GLOBAL OPTIONS] supplies [OPTIONS] ADDRESS"; returns
// the exit status.
int runSupplies(int argc, char** argv, std::FILE* results, std::FILE* errors,
                const AddressResolver& resolve);

}  // namespace usbink::query
