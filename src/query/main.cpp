// usbink-query: the network library's operations on one printer address,
// for administrators and scripts.
//
//   usbink-query [--json] [--verbose] name|firmware|mcu-firmware ADDRESS
//   usbink-query [--json] [--verbose] identity ADDRESS
//   usbink-query [--json] [--verbose] status [--v1|--v3] ADDRESS
//   usbink-query [--json] [--verbose] discover [--v3] [--target=OID]... [ADDRESS]
//   usbink-query [--json|--prometheus|--nagios W:C] [--jobs=N] queues [QUEUE...]
//
// Results go to standard output; the library's own diagnostic lines are
// dropped, or sent to standard error with --verbose.
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "query/monitoring.h"
#include "query/output.h"
#include "query/queues.h"
#include "query/supplies.h"
#include "usbink/ber.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/status.h"

namespace usbink::query {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;
constexpr int kValueSize = 256;
constexpr unsigned char kLevelMask = 0x7F;

constexpr char kProgram[] = "usbink-query";
constexpr char kUsage[] =
    "usage: usbink-query [--json|--prometheus|--nagios WARN:CRIT] [--verbose] COMMAND [OPTIONS] ADDRESS\n"
    "commands:\n"
    "  name ADDRESS                printer name (sysName) over SNMP v1\n"
    "  firmware ADDRESS            firmware version over SNMP v1\n"
    "  mcu-firmware ADDRESS        controller firmware version over SNMP v1\n"
    "  identity ADDRESS            name and both firmware versions over SNMPv3\n"
    "  status [--v1|--v3] ADDRESS  toner level (SNMP v1, then SNMPv3)\n"
    "  discover [--v3] [--target=OID]... [ADDRESS]\n"
    "                              printers answering SNMP v1 (SNMPv3 with --v3) at ADDRESS,\n"
    "                              by default 255.255.255.255 and ff02::1, whose sysObjectID\n"
    "                              is a target (at most two; default 1.3.6.1.4.1.26266.886.1.1)\n"
    "  supplies [--v1|--v2c|--v3] [--community NAME] [--user NAME --auth-pass PASS\n"
    "           [--priv-pass PASS]] ADDRESS\n"
    "                              every supply of any printer from the Printer MIB (RFC 3805),\n"
    "                              by default over SNMP v2c with the community 'public'\n"
    "  queues [--jobs=N] [QUEUE...]\n"
    "                              toner level of every CUPS queue (or those named), read by\n"
    "                              N usbink processes at once (default 32)\n"
    "ADDRESS is a numeric IPv4 or IPv6 address or a host name.\n"
    "output formats (status, identity and queues):\n"
    "  --json                      one JSON object per result\n"
    "  --prometheus                Prometheus text format (node_exporter textfile collector)\n"
    "  --nagios WARN:CRIT          Nagios/Icinga plugin output: WARNING at or below WARN percent,\n"
    "                              CRITICAL at or below CRIT; exit 0 OK, 1 WARNING, 2 CRITICAL,\n"
    "                              3 UNKNOWN\n"
    "  --help, --version\n";

constexpr char kJobsOption[] = "--jobs=";

// The sysObjectID of the printer model discovery looks for by default. An
// answer is a hit when its sysObjectID equals the start of a target, so a
// target is a whole sysObjectID: an enterprise prefix such as
// 1.3.6.1.4.1.26266 would match no printer.
constexpr char kDefaultTarget[] = "1.3.6.1.4.1.26266.886.1.1";
constexpr std::size_t kMaxTargets = 2;
constexpr char kTargetOption[] = "--target=";
// Without an address, discovery searches both families: the IPv4 limited
// broadcast from every local IPv4 address, and the IPv6 all-nodes group
// from every local IPv6 address (FindSnmpAgentV6_, which reaches every
// interface and reports every answer, rather than FindSnmpAgent3Times,
// whose probe consumes the first answer and stops at the first interface
// that answers).
constexpr const char* kDefaultDiscoveryAddresses[] = {"255.255.255.255", "ff02::1"};

struct Streams {
  std::FILE* results;  // the caller's standard output
  std::FILE* errors;   // the caller's standard error
};

enum class Format { kPlain, kJson, kPrometheus, kNagios };

// Names of the metrics usbink-query writes for Prometheus.
constexpr char kMetricLevel[] = "usbink_toner_level_percent";
constexpr char kHelpLevel[] = "Toner level of the printer in percent.";
constexpr char kMetricSuccess[] = "usbink_read_success";
constexpr char kHelpSuccess[] = "Whether the printer could be read (1) or not (0).";
constexpr char kMetricInfo[] = "usbink_printer_info";
constexpr char kHelpInfo[] = "Name and firmware versions of the printer, as labels.";
constexpr char kMetricScheduler[] = "usbink_scheduler_up";
constexpr char kHelpScheduler[] = "Whether the CUPS scheduler answered (1) or not (0).";

struct Invocation {
  bool json = false;
  bool verbose = false;
  Format format = Format::kPlain;
  NagiosThresholds thresholds;
  std::string address;  // the numeric address of operands[0], once resolved
  int jobs = kDefaultJobs;
  std::string command;
  std::vector<std::string> options;  // arguments of the command that begin with "--"
  std::vector<std::string> operands;
};

bool hasOption(const Invocation& in, const char* option) {
  for (const auto& o : in.options) {
    if (o == option) return true;
  }
  return false;
}

// The values of every "--name=value" option given as `prefix` ("--name=").
std::vector<std::string> optionValues(const Invocation& in, const std::string& prefix) {
  std::vector<std::string> values;
  for (const auto& o : in.options) {
    if (o.starts_with(prefix)) values.push_back(o.substr(prefix.size()));
  }
  return values;
}

// The library writes diagnostic lines to both standard streams. Results
// and our own messages go to copies of the caller's streams; the originals
// are pointed at /dev/null, or both at standard error with --verbose.
// Without descriptors for the copies (none left), everything stays on the
// caller's streams, diagnostics included, rather than write to no stream.
Streams separateDiagnostics(bool verbose) {
  Streams s{fdopen(dup(STDOUT_FILENO), "w"), fdopen(dup(STDERR_FILENO), "w")};
  const int sink = verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
  if (s.results == nullptr || s.errors == nullptr || sink < 0) {
    for (std::FILE* copy : {s.results, s.errors}) {
      if (copy != nullptr) std::fclose(copy);
    }
    if (sink >= 0) close(sink);
    return {stdout, stderr};
  }
  std::fflush(stdout);
  dup2(sink, STDOUT_FILENO);
  if (!verbose) dup2(sink, STDERR_FILENO);
  close(sink);
  return s;
}

using V1Query = int (CNetIO::*)(const char*, unsigned char, char*, int);

int v1Value(const Invocation& in, const Streams& s, V1Query query, const char* key) {
  CNetIO net;
  char value[kValueSize] = {};
  if ((net.*query)(in.address.c_str(), 0, value, sizeof value) != 0) return kExitNoAnswer;
  printRecord(s.results, {{"address", in.address}, {key, value}}, in.json);
  return kExitOk;
}

// Writes a Nagios plugin line and returns its state as the exit status.
int printNagios(const Streams& s, NagiosState state, const std::string& summary,
                const std::vector<std::string>& perfData) {
  std::fputs(nagiosLine(state, summary, perfData).c_str(), s.results);
  return static_cast<int>(state);
}

int identity(const Invocation& in, const Streams& s) {
  CNetIO net;
  char name[kValueSize] = {}, firmware[kValueSize] = {}, mcu[kValueSize] = {};
  const bool read = net.TavrenNetworkGetNameAndFwAndMCUVersion(in.address.c_str(), name, firmware,
                                                              mcu, 0) == 0;
  const std::pair<const char*, const char*> values[] = {
      {"name", name}, {"firmware", firmware}, {"mcu-firmware", mcu}};
  if (in.format == Format::kPrometheus) {
    PrometheusGauges g;
    const std::string& address = in.operands[0];
    if (read) {
      g.add(kMetricInfo, kHelpInfo,
            {{"address", address}, {"name", name}, {"firmware", firmware}, {"mcu_firmware", mcu}},
            1);
    }
    g.add(kMetricSuccess, kHelpSuccess, {{"address", address}}, read ? 1 : 0);
    std::fputs(g.text().c_str(), s.results);
    return read ? kExitOk : kExitNoAnswer;
  }
  if (in.format == Format::kNagios) {
    if (!read) return printNagios(s, NagiosState::kUnknown, "no answer from " + nagiosText(in.operands[0]), {});
    std::string summary = nagiosText(in.operands[0]);
    for (const auto& [key, value] : values) {
      if (value[0] != '\0') summary += std::string(", ") + key + " " + nagiosText(value);
    }
    return printNagios(s, NagiosState::kOk, summary, {});
  }
  if (!read) return kExitNoAnswer;
  Record record = {{"address", in.address}};
  for (const auto& [key, value] : values) {
    if (value[0] != '\0') record.push_back({key, value});
  }
  printRecord(s.results, record, in.json);
  return kExitOk;
}

int status(const Invocation& in, const Streams& s) {
  const bool v1 = !hasOption(in, "--v3");
  const bool v3 = !hasOption(in, "--v1");
  PRINTER_STATUS st{};
  const char* protocol = nullptr;
  if (v1 && NetworkReadStatus(kDefaultCommunity, in.address.c_str(), &st)) {
    protocol = "SNMPv1";
  } else if (v3 && NetworkReadStatusSNMPv3(kDefaultCommunity, in.address.c_str(), &st)) {
    protocol = "SNMPv3";
  }
  const int level = st.tonerLevel & kLevelMask;
  if (in.format == Format::kPrometheus) {
    PrometheusGauges g;
    const std::string& address = in.operands[0];
    if (protocol != nullptr) {
      g.add(kMetricLevel, kHelpLevel, {{"address", address}, {"protocol", protocol}}, level);
    }
    g.add(kMetricSuccess, kHelpSuccess, {{"address", address}}, protocol != nullptr ? 1 : 0);
    std::fputs(g.text().c_str(), s.results);
    return protocol != nullptr ? kExitOk : kExitNoAnswer;
  }
  if (in.format == Format::kNagios) {
    const std::string where = nagiosText(in.operands[0]);
    if (protocol == nullptr) {
      return printNagios(s, NagiosState::kUnknown, "no answer from " + where,
                         {nagiosPerfData("toner", std::nullopt, in.thresholds)});
    }
    return printNagios(s, nagiosState(level, in.thresholds),
                       where + " toner " + std::to_string(level) + "% (" + protocol + ")",
                       {nagiosPerfData("toner", level, in.thresholds)});
  }
  if (protocol == nullptr) return kExitNoAnswer;
  printRecord(s.results,
              {{"address", in.address},
               {"protocol", protocol},
               {"level", std::to_string(level), true}},
              in.json);
  return kExitOk;
}

// A target is a dotted identifier whose encoding fits a CNetIO target.
bool isTarget(const std::string& text) {
  std::array<unsigned char, kOidEncodedMax> encoded{};
  const int length = CNetIO::oidEncode(text.c_str(), encoded.data());
  return length >= 1 && length <= kTargetOidSize;
}

// Prints each printer the first time a search reports it; the searches
// report an agent once per answer, local address and request copy.
struct DiscoveryOutput {
  const Streams& streams;
  bool json;
  const char* protocol;
  std::set<std::string> seen;
};

bool printNewPrinter(char* address, char*, void* user) {
  auto& out = *static_cast<DiscoveryOutput*>(user);
  if (out.seen.insert(address).second) {
    printRecord(out.streams.results, {{"address", address}, {"protocol", out.protocol}}, out.json);
  }
  return true;
}

int discover(const Invocation& in, const Streams& s) {
  std::vector<std::string> targets = optionValues(in, kTargetOption);
  if (targets.empty()) targets.push_back(kDefaultTarget);
  CNetIO net;
  net.InitTargetOID(targets.front().c_str(), targets.back().c_str());
  const bool v3 = hasOption(in, "--v3");
  DiscoveryOutput out{s, in.json, v3 ? "SNMPv3" : "SNMPv1", {}};
  std::vector<std::string> addresses;
  if (!in.address.empty()) addresses.push_back(in.address);
  if (addresses.empty()) {
    addresses.assign(std::begin(kDefaultDiscoveryAddresses), std::end(kDefaultDiscoveryAddresses));
  }
  for (const auto& a : addresses) {
    if (v3) {
      net.FindSnmpV3Agent(nullptr, a.c_str(), kOidSysObjectId, printNewPrinter, &out, true);
    } else {
      net.FindSnmpAgent(nullptr, a.c_str(), kOidSysObjectId, printNewPrinter, &out, true);
    }
  }
  return out.seen.empty() ? kExitNoAnswer : kExitOk;
}

// The program `queues` runs for each queue.
std::string usbinkProgram() {
  const char* chosen = std::getenv("USBINK_PROGRAM");
  return chosen != nullptr && *chosen != '\0' ? chosen : USBINK_PROGRAM_PATH;
}

struct QueueLine {
  std::string kind;
  QueueResult result;
  bool done = false;
};

void printQueue(const Streams& s, const QueueEntry& q, const QueueLine& line, bool json) {
  if (json) {
    Record r = {{"queue", q.name}, {"kind", line.kind}};
    if (line.result.level) {
      r.push_back({"level", std::to_string(*line.result.level), true});
    } else {
      r.push_back({"reason", line.result.reason});
    }
    printRecord(s.results, r, true);
    return;
  }
  const std::string value =
      line.result.level ? std::to_string(*line.result.level) + "%" : line.result.reason;
  std::fprintf(s.results, "%s\t%s\t%s\n", terminalText(q.name).c_str(),
               line.kind.empty() ? "-" : line.kind.c_str(), value.c_str());
  std::fflush(s.results);
}

int queuesPrometheus(const Streams& s, bool schedulerUp, const std::vector<QueueEntry>& queues,
                     const std::vector<QueueLine>& lines) {
  PrometheusGauges g;
  g.add(kMetricScheduler, kHelpScheduler, {}, schedulerUp ? 1 : 0);
  bool all = schedulerUp;
  for (std::size_t i = 0; i < queues.size(); ++i) {
    const Labels labels = {{"queue", queues[i].name}, {"kind", lines[i].kind}};
    if (lines[i].result.level) g.add(kMetricLevel, kHelpLevel, labels, *lines[i].result.level);
    g.add(kMetricSuccess, kHelpSuccess, labels, lines[i].result.level ? 1 : 0);
    all = all && lines[i].result.level.has_value();
  }
  std::fputs(g.text().c_str(), s.results);
  return all ? kExitOk : kExitNoAnswer;
}

// The worst state wins; the summary names every queue that is not OK, and
// every queue appears in the performance data.
int queuesNagios(const Invocation& in, const Streams& s, const std::vector<QueueEntry>& queues,
                 const std::vector<QueueLine>& lines) {
  if (queues.empty()) return printNagios(s, NagiosState::kUnknown, "no queues", {});
  NagiosState worst = NagiosState::kOk;
  std::string problems;
  std::vector<std::string> perfData;
  for (std::size_t i = 0; i < queues.size(); ++i) {
    const auto& r = lines[i].result;
    const NagiosState state = r.level ? nagiosState(*r.level, in.thresholds) : NagiosState::kUnknown;
    worst = worseState(worst, state);
    if (state != NagiosState::kOk) {
      problems += std::string(problems.empty() ? ": " : ", ") + nagiosText(queues[i].name) + " " +
                  (r.level ? std::to_string(*r.level) + "%" : r.reason);
    }
    perfData.push_back(nagiosPerfData(queues[i].name, r.level, in.thresholds));
  }
  const std::string summary = std::to_string(queues.size()) + " queues" + problems;
  return printNagios(s, worst, summary, perfData);
}

int queues(const Invocation& in, const Streams& s) {
  const auto listed = listQueues(in.operands);
  std::vector<QueueEntry> queues;
  if (listed) {
    queues = *listed;
  } else {
    // Without a scheduler only the named queues can be shown, each with why.
    for (const auto& name : in.operands) queues.push_back({name, "", false});
  }
  std::vector<QueueLine> lines(queues.size());
  for (std::size_t i = 0; i < queues.size(); ++i) lines[i].kind = connectionKind(queues[i].deviceUri);
  if (!listed) {
    for (auto& line : lines) line = {"", {std::nullopt, kReasonNoScheduler}, true};
    if (in.format == Format::kPrometheus) return queuesPrometheus(s, false, queues, lines);
    if (in.format == Format::kNagios) {
      return printNagios(s, NagiosState::kUnknown, std::string(kReasonNoScheduler), {});
    }
    for (std::size_t i = 0; i < queues.size(); ++i) printQueue(s, queues[i], lines[i], in.json);
    std::fprintf(s.errors, "%s: queues: no scheduler answers at %s\n", kProgram,
                 terminalText(schedulerName()).c_str());
    return kExitNoAnswer;
  }

  const bool streaming = in.format == Format::kPlain || in.format == Format::kJson;
  const bool progress = isatty(fileno(s.errors)) != 0 && !queues.empty();
  std::size_t printed = 0, finished = 0;
  const auto report = [&](std::size_t index, const QueueResult& result) {
    lines[index].result = result;
    lines[index].done = true;
    ++finished;
    // In queue order: a line waits for the queues before it.
    for (; streaming && printed < queues.size() && lines[printed].done; ++printed) {
      if (progress) std::fputs("\r\033[K", s.errors);
      printQueue(s, queues[printed], lines[printed], in.json);
    }
    if (progress) {
      std::fprintf(s.errors, "\r\033[K%s: %zu of %zu queues read", kProgram, finished,
                   queues.size());
      std::fflush(s.errors);
    }
  };
  readQueues(usbinkProgram(), queues, in.jobs, kReadTimeLimit, report);
  if (progress) {
    std::fputs("\r\033[K", s.errors);
    std::fflush(s.errors);
  }
  if (in.format == Format::kPrometheus) return queuesPrometheus(s, true, queues, lines);
  if (in.format == Format::kNagios) return queuesNagios(in, s, queues, lines);
  const bool all = std::all_of(lines.begin(), lines.end(),
                               [](const QueueLine& l) { return l.result.level.has_value(); });
  return all ? kExitOk : kExitNoAnswer;
}

struct Command {
  // The options the command accepts; one ending in "=" takes a value.
  std::vector<std::string> options;
  std::function<int(const Invocation&, const Streams&)> run;
  bool addressOptional = false;
  bool monitoring = false;  // takes --prometheus and --nagios
  bool queueOperands = false;  // operands are queue names, any number
};

bool accepts(const Command& command, const std::string& option) {
  for (const auto& allowed : command.options) {
    if (allowed.ends_with('=') ? option.starts_with(allowed) : option == allowed) return true;
  }
  return false;
}

// A command that prints the one value `query` reads, under `key`.
Command v1Command(V1Query query, const char* key) {
  return {{}, [query, key](const Invocation& in, const Streams& s) {
            return v1Value(in, s, query, key);
          }};
}

const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      {"name", v1Command(&CNetIO::TavrenNetworkGetPrinterName, "name")},
      {"firmware", v1Command(&CNetIO::TavrenNetworkGetFwVersion, "firmware")},
      {"mcu-firmware", v1Command(&CNetIO::TavrenNetworkGetFwMCUVersion, "mcu-firmware")},
      {"identity", {{}, identity, false, true}},
      {"status", {{"--v1", "--v3"}, status, false, true}},
      {"discover", {{"--v3", kTargetOption}, discover, true}},
      {"queues", {{kJobsOption}, queues, true, true, true}},
  };
  return table;
}

// What the command line asks for, or the one-line reason it is refused
// (in `error`). --help and --version set `command` to themselves.
bool parse(int argc, char** argv, Invocation* in, std::string* error) {
  const auto fail = [error](const std::string& why) {
    *error = why;
    return false;
  };
  int formats = 0;
  // Global options come before the command or among its arguments.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "--version") {
      in->command = a;
      return true;
    } else if (a == "--json") {
      in->json = true;
      in->format = Format::kJson;
      ++formats;
    } else if (a == "--prometheus") {
      in->format = Format::kPrometheus;
      ++formats;
    } else if (a == "--nagios" || a.starts_with("--nagios=")) {
      in->format = Format::kNagios;
      ++formats;
      std::string value;
      if (a == "--nagios") {
        if (i + 1 >= argc) return fail("option '--nagios' needs WARN:CRIT, such as 20:10");
        value = argv[++i];
      } else {
        value = a.substr(sizeof "--nagios=" - 1);
      }
      const auto thresholds = parseNagiosThresholds(value);
      if (!thresholds) {
        return fail("bad thresholds '" + terminalText(value) +
                    "' for '--nagios': WARN:CRIT, percent, WARN at least CRIT, such as 20:10");
      }
      in->thresholds = *thresholds;
    } else if (a == "--verbose") {
      in->verbose = true;
    } else if (a == "--jobs") {  // also written --jobs=N
      if (i + 1 >= argc) return fail("option '--jobs' needs a number");
      in->options.push_back(kJobsOption + std::string(argv[++i]));
    } else if (in->command.empty() && a.starts_with("-")) {
      return fail("unrecognized option '" + terminalText(a) + "'");
    } else if (in->command.empty()) {
      in->command = a;
    } else {
      (a.starts_with("--") ? in->options : in->operands).push_back(a);
    }
  }
  if (in->command.empty()) return fail("no command given");
  const auto found = commands().find(in->command);
  if (found == commands().end()) return fail("unknown command '" + terminalText(in->command) + "'");
  const Command& command = found->second;
  const std::string& name = in->command;
  if (formats > 1) return fail("--json, --prometheus and --nagios exclude each other");
  if (!command.monitoring && (in->format == Format::kPrometheus || in->format == Format::kNagios)) {
    return fail("'" + name + "' has no --prometheus or --nagios output");
  }
  for (const auto& o : in->options) {
    if (!accepts(command, o)) {
      return fail("unrecognized option '" + terminalText(o) + "' for '" + name + "'");
    }
  }
  if (hasOption(*in, "--v1") && hasOption(*in, "--v3")) return fail("--v1 and --v3 exclude each other");
  for (const auto& value : optionValues(*in, kJobsOption)) {
    char* end = nullptr;
    errno = 0;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || jobs < 1 || jobs > kMaxJobs) {
      return fail("bad number '" + terminalText(value) + "' for '--jobs': 1 to " +
                  std::to_string(kMaxJobs));
    }
    in->jobs = static_cast<int>(jobs);
  }
  const auto targets = optionValues(*in, kTargetOption);
  if (targets.size() > kMaxTargets) return fail("at most two --target options");
  for (const auto& t : targets) {
    if (!isTarget(t)) return fail("bad object identifier '" + terminalText(t) + "' for '--target'");
  }
  if (command.queueOperands) return true;
  if (in->operands.size() > 1) {
    return fail("'" + name + "' takes one address, not also '" + terminalText(in->operands[1]) + "'");
  }
  if (in->operands.empty() && !command.addressOptional) return fail("'" + name + "' needs an address");
  return true;
}

// Resolves a host name or numeric address to the numeric address the
// library is given: the first address getaddrinfo reports (its order
// follows the system's address selection). Nothing, with the resolver's
// message in `error`, when there is none.
std::optional<std::string> numericAddress(const std::string& host, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int failed = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (failed != 0) {
    *error = gai_strerror(failed);
    return std::nullopt;
  }
  char text[NI_MAXHOST] = {};
  const int unnamed = getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0,
                                  NI_NUMERICHOST);
  freeaddrinfo(found);
  if (unnamed != 0) {
    *error = gai_strerror(unnamed);
    return std::nullopt;
  }
  return std::string(text);
}

bool wantsNagios(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--nagios") == 0 || std::strncmp(argv[i], "--nagios=", 9) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace
}  // namespace usbink::query

int main(int argc, char** argv) {
  using namespace usbink::query;
  // supplies takes options with values of their own (supplies.h).
  if (suppliesCommandIndex(argc, argv) > 0) {
    const bool verbose = std::any_of(argv + 1, argv + argc,
                                     [](const char* a) { return std::strcmp(a, "--verbose") == 0; });
    const Streams streams = separateDiagnostics(verbose);
    const int result = runSupplies(argc, argv, streams.results, streams.errors, numericAddress);
    std::fclose(streams.results);
    std::fclose(streams.errors);
    return result;
  }
  Invocation in;
  std::string error;
  if (!parse(argc, argv, &in, &error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                 error.c_str(), kProgram);
    // A plugin's bad arguments are UNKNOWN to Nagios and Icinga.
    return wantsNagios(argc, argv) ? static_cast<int>(NagiosState::kUnknown) : kExitUsage;
  }
  if (in.command == "--help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (in.command == "--version") {
    std::printf("%s %s\n", kProgram, USBINK_VERSION);
    return kExitOk;
  }
  if (!commands().at(in.command).queueOperands && !in.operands.empty()) {
    const auto address = numericAddress(in.operands[0], &error);
    if (!address) {
      const std::string host = terminalText(in.operands[0]);
      if (in.format == Format::kNagios) {
        std::printf("%s", nagiosLine(NagiosState::kUnknown,
                                     "cannot resolve " + nagiosText(in.operands[0]) + ": " + error, {})
                              .c_str());
        return static_cast<int>(NagiosState::kUnknown);
      }
      std::fprintf(stderr, "%s: cannot resolve '%s': %s\n", kProgram, host.c_str(), error.c_str());
      return kExitNoAnswer;
    }
    in.address = *address;
    if (in.verbose && in.address != in.operands[0]) {
      std::fprintf(stderr, "%s: %s is %s\n", kProgram, terminalText(in.operands[0]).c_str(),
                   in.address.c_str());
    }
  }
  const Streams streams = separateDiagnostics(in.verbose);
  const int result = commands().at(in.command).run(in, streams);
  if (result == kExitNoAnswer && in.format != Format::kNagios && in.command != "queues") {
    const std::string from = in.operands.empty() ? "the local networks" : terminalText(in.operands[0]);
    std::fprintf(streams.errors, "%s: %s: no answer from %s\n", kProgram, in.command.c_str(),
                 from.c_str());
  }
  std::fclose(streams.results);
  std::fclose(streams.errors);
  return result;
}
