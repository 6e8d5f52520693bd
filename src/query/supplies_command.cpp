// usbink-query supplies: option handling and the two table walks.
#include <cstring>
#include <map>
#include <string_view>

#include "query/monitoring.h"
#include "query/output.h"
#include "query/supplies.h"
#include "snmp/table_walk.h"
#include "snmpv3/v3_walk.h"

namespace usbink::query {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;
constexpr int kExitUsage = 2;
constexpr char kDefaultWalkCommunity[] = "public";
constexpr int kMaxBudgetSeconds = 600;

// Options that take a value, given as "--name VALUE" or "--name=VALUE".
constexpr const char* kValueOptions[] = {"--community", "--user",       "--auth-pass",
                                         "--priv-pass", "--auth-proto", "--priv-proto",
                                         "--nagios",    "--timeout"};
constexpr const char* kFlagOptions[] = {"--v1",   "--v2c",        "--v3",
                                        "--json", "--prometheus", "--verbose"};

struct Options {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  std::string address;
  bool has(const char* name) const { return values.count(name) != 0 || flags.count(name) != 0; }
  std::string value(const char* name, const std::string& fallback = "") const {
    const auto found = values.find(name);
    return found == values.end() ? fallback : found->second;
  }
};

bool isOneOf(const std::string& option, const auto& names) {
  for (const char* n : names) {
    if (option == n) return true;
  }
  return false;
}

// Reads argv but the command word at `at`; an error in words, or "".
std::string parseOptions(int argc, char** argv, int at, Options* o) {
  for (int i = 1; i < argc; ++i) {
    if (i == at) continue;
    std::string arg = argv[i];
    if (!arg.starts_with("--")) {
      if (!o->address.empty()) return "more than one address: " + printable(arg);
      o->address = arg;
      continue;
    }
    std::string value;
    const auto equals = arg.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
    }
    if (isOneOf(arg, kValueOptions)) {
      if (!inlineValue) {
        if (i + 1 >= argc) return arg + " needs a value";
        value = argv[++i];
      }
      o->values[arg] = value;
    } else if (isOneOf(arg, kFlagOptions) && !inlineValue) {
      o->flags[arg] = true;
    } else {
      return "unknown option " + printable(arg);
    }
  }
  return "";
}

// The walk's protocol, limits and credentials, or an error in words.
struct Plan {
  SnmpVersion version = SnmpVersion::kV2c;
  std::string community = kDefaultWalkCommunity;
  UsmUser user;
  WalkLimits limits;
  std::optional<NagiosThresholds> nagios;
};

std::string makePlan(const Options& o, Plan* p) {
  const int versions = o.has("--v1") + o.has("--v2c") + o.has("--v3");
  if (versions > 1) return "--v1, --v2c and --v3 exclude each other";
  const bool usm = o.has("--user") || o.has("--auth-pass") || o.has("--priv-pass") ||
                   o.has("--auth-proto") || o.has("--priv-proto");
  if (o.has("--v1")) p->version = SnmpVersion::kV1;
  if (o.has("--v3") || (usm && versions == 0)) p->version = SnmpVersion::kV3;
  if (p->version == SnmpVersion::kV3) {
    if (o.has("--community")) return "--community is for SNMP v1 and v2c";
    if (!o.has("--user")) return "SNMPv3 needs --user";
    // The library has HMAC-MD5-96 and CBC-DES only; asking for anything
    // else must not silently fall back to them.
    const std::string auth = o.value("--auth-proto", "MD5");
    const std::string priv = o.value("--priv-proto", "DES");
    if (strcasecmp(auth.c_str(), "MD5") != 0) {
      return "authentication protocol " + printable(auth) + " is not supported (MD5 only)";
    }
    if (strcasecmp(priv.c_str(), "DES") != 0) {
      return "privacy protocol " + printable(priv) + " is not supported (DES only)";
    }
    p->user = {o.value("--user"), o.value("--auth-pass"), o.value("--priv-pass")};
    if (const std::string problem = usmUserProblem(p->user); !problem.empty()) return problem;
  } else {
    if (usm) return "--user and the pass phrases are for SNMPv3";
    p->community = o.value("--community", kDefaultWalkCommunity);
    if (p->community.empty()) return "the community must not be empty";
  }
  // SNMP v1 has no GetBulk: it walks with GetNext.
  if (p->version == SnmpVersion::kV1) p->limits.maxRepetitions = 0;
  if (o.has("--timeout")) {
    const std::string t = o.value("--timeout");
    char* end = nullptr;
    const long seconds = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || seconds < 1 || seconds > kMaxBudgetSeconds) {
      return "--timeout takes whole seconds from 1 to 600";
    }
    p->limits.budget = std::chrono::seconds(seconds);
  }
  if (o.has("--nagios")) {
    p->nagios = parseNagiosThresholds(o.value("--nagios"));
    if (!p->nagios) return "--nagios takes WARN:CRIT, percentages with WARN >= CRIT";
  }
  if (o.has("--prometheus") + o.has("--nagios") + o.has("--json") > 1) {
    return "--json, --prometheus and --nagios exclude each other";
  }
  return "";
}

const char* protocolName(SnmpVersion v) {
  return v == SnmpVersion::kV1 ? "SNMPv1" : v == SnmpVersion::kV2c ? "SNMPv2c" : "SNMPv3";
}

// Walks both tables; the second only while the agent still answers.
SuppliesReport readSupplies(const std::string& address, const Plan& plan) {
  SuppliesReport report{address, protocolName(plan.version), {}, false, ""};
  UdpPeer peer;
  if (!peer.open(address)) {
    report.message = "not a numeric IPv4 or IPv6 address";
    return report;
  }
  std::unique_ptr<WalkRequester> requester;
  if (plan.version == SnmpVersion::kV3) {
    requester = std::make_unique<UsmRequester>(peer, plan.user, plan.limits);
  } else {
    requester =
        std::make_unique<CommunityRequester>(peer, plan.version, plan.community, plan.limits);
  }
  const auto deadline = WalkClock::now() + plan.limits.budget;
  SubtreeWalk entries(*oidFromText(kOidSuppliesEntry), plan.limits.maxValues);
  SubtreeWalk colorants(*oidFromText(kOidColorantValue), plan.limits.maxValues);
  runWalk(*requester, entries, deadline);
  const WalkEnd first = entries.end();
  if (first == WalkEnd::kNoAnswer || first == WalkEnd::kRefused || first == WalkEnd::kTimeBudget) {
    colorants.stop(first, "");
  } else {
    runWalk(*requester, colorants, deadline);
  }
  report.supplies = joinSupplies(entries.values(), colorants.values());
  report.complete = entries.end() == WalkEnd::kComplete && colorants.end() == WalkEnd::kComplete;
  report.message = entries.message().empty() ? colorants.message() : entries.message();
  if (report.complete && report.supplies.empty()) {
    report.message = "the agent has no Printer-MIB supplies table";
  }
  return report;
}

}  // namespace

int suppliesCommandIndex(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--json" || a == "--verbose" || a == "--prometheus" || a.starts_with("--nagios=")) {
      continue;
    }
    if (a == "--nagios") {
      ++i;
      continue;
    }
    return a == "supplies" ? i : 0;
  }
  return 0;
}

int runSupplies(int argc, char** argv, std::FILE* results, std::FILE* errors,
                const AddressResolver& resolve) {
  const int at = suppliesCommandIndex(argc, argv);
  Options options;
  Plan plan;
  std::string problem = parseOptions(argc, argv, at, &options);
  if (problem.empty()) problem = makePlan(options, &plan);
  if (problem.empty() && options.address.empty()) problem = "no address";
  const bool nagios = options.has("--nagios");
  if (!problem.empty()) {
    std::fprintf(errors,
                 "usbink-query: supplies: %s\nTry 'usbink-query --help' for more information.\n",
                 problem.c_str());
    // A plugin's bad arguments are UNKNOWN to Nagios and Icinga.
    return nagios ? static_cast<int>(NagiosState::kUnknown) : kExitUsage;
  }
  std::string error;
  const auto address = resolve(options.address, &error);
  if (!address) {
    if (nagios) {
      std::fputs(nagiosLine(NagiosState::kUnknown,
                            "cannot resolve " + nagiosText(options.address) + ": " + error, {})
                     .c_str(),
                 results);
      return static_cast<int>(NagiosState::kUnknown);
    }
    std::fprintf(errors, "usbink-query: supplies: cannot resolve '%s': %s\n",
                 terminalText(options.address).c_str(), error.c_str());
    return kExitIncomplete;
  }
  const bool json = options.has("--json");

  SuppliesReport report = readSupplies(*address, plan);
  // Reported under the name the administrator gave.
  report.address = options.address;
  if (plan.nagios) {
    int state = 0;
    std::fputs(suppliesNagios(report, plan.nagios->warning, plan.nagios->critical, &state).c_str(),
               results);
    return state;
  }
  const bool anything = !report.supplies.empty() || report.complete;
  if (options.has("--prometheus")) {
    std::fputs(suppliesPrometheus(report).c_str(), results);
  } else if (json) {
    std::fputs(suppliesJson(report).c_str(), results);
  } else if (anything) {
    std::fputs(suppliesTable(report).c_str(), results);
  }
  std::fflush(results);
  if (!report.message.empty()) {
    std::fprintf(
        errors, "usbink-query: supplies: %s: %s%s\n", printable(report.address).c_str(),
        report.supplies.empty() ? "" : "stopped early: ", printable(report.message).c_str());
  }
  return report.complete && !report.supplies.empty() ? kExitOk : kExitIncomplete;
}

}  // namespace usbink::query
