// usbink-query: the network library's operations on one printer address,
// for administrators and scripts.
//
//   usbink-query [--json] [--verbose] name|firmware|mcu-firmware ADDRESS
//   usbink-query [--json] [--verbose] identity ADDRESS
//   usbink-query [--json] [--verbose] status [--v1|--v3] ADDRESS
//   usbink-query [--json] [--verbose] discover [--v3] [--target=OID]... [ADDRESS]
//
// Results go to standard output; the library's own diagnostic lines are
// dropped, or sent to standard error with --verbose.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "query/output.h"
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

constexpr char kUsage[] =
    "usage: usbink-query [--json] [--verbose] COMMAND [OPTIONS] ADDRESS\n"
    "commands:\n"
    "  name ADDRESS                printer name (sysName) over SNMP v1\n"
    "  firmware ADDRESS            firmware version over SNMP v1\n"
    "  mcu-firmware ADDRESS        controller firmware version over SNMP v1\n"
    "  identity ADDRESS            name and both firmware versions over SNMPv3\n"
    "  status [--v1|--v3] ADDRESS  toner level (SNMP v1, then SNMPv3)\n"
    "  discover [--v3] [--target=OID]... [ADDRESS]\n"
    "                              printers answering SNMP v1 (SNMPv3 with --v3) at ADDRESS,\n"
    "                              by default 255.255.255.255 and ff02::1, whose sysObjectID\n"
    "                              is a target (at most two; default 1.3.6.1.4.1.26266.886.1.1)\n";

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

struct Invocation {
  bool json = false;
  bool verbose = false;
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
  const std::string& address = in.operands[0];
  if ((net.*query)(address.c_str(), 0, value, sizeof value) != 0) return kExitNoAnswer;
  printRecord(s.results, {{"address", address}, {key, value}}, in.json);
  return kExitOk;
}

int identity(const Invocation& in, const Streams& s) {
  CNetIO net;
  char name[kValueSize] = {}, firmware[kValueSize] = {}, mcu[kValueSize] = {};
  const std::string& address = in.operands[0];
  if (net.TavrenNetworkGetNameAndFwAndMCUVersion(address.c_str(), name, firmware, mcu, 0) != 0) {
    return kExitNoAnswer;
  }
  Record record = {{"address", address}};
  for (const auto& [key, value] :
       {std::pair{"name", name}, {"firmware", firmware}, {"mcu-firmware", mcu}}) {
    if (value[0] != '\0') record.push_back({key, value});
  }
  printRecord(s.results, record, in.json);
  return kExitOk;
}

int status(const Invocation& in, const Streams& s) {
  const bool v1 = !hasOption(in, "--v3");
  const bool v3 = !hasOption(in, "--v1");
  const std::string& address = in.operands[0];
  PRINTER_STATUS st{};
  const char* protocol = nullptr;
  if (v1 && NetworkReadStatus(kDefaultCommunity, address.c_str(), &st)) {
    protocol = "SNMPv1";
  } else if (v3 && NetworkReadStatusSNMPv3(kDefaultCommunity, address.c_str(), &st)) {
    protocol = "SNMPv3";
  }
  if (protocol == nullptr) return kExitNoAnswer;
  printRecord(s.results,
              {{"address", address},
               {"protocol", protocol},
               {"level", std::to_string(st.tonerLevel & kLevelMask), true}},
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
  if (targets.size() > kMaxTargets || !std::all_of(targets.begin(), targets.end(), isTarget)) {
    std::fputs(kUsage, s.errors);
    return kExitUsage;
  }
  CNetIO net;
  net.InitTargetOID(targets.front().c_str(), targets.back().c_str());
  const bool v3 = hasOption(in, "--v3");
  DiscoveryOutput out{s, in.json, v3 ? "SNMPv3" : "SNMPv1", {}};
  std::vector<std::string> addresses(in.operands);
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

struct Command {
  // The options the command accepts; one ending in "=" takes a value.
  std::vector<std::string> options;
  std::function<int(const Invocation&, const Streams&)> run;
  bool addressOptional = false;
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
      {"identity", {{}, identity}},
      {"status", {{"--v1", "--v3"}, status}},
      {"discover", {{"--v3", kTargetOption}, discover, true}},
  };
  return table;
}

bool parse(int argc, char** argv, Invocation* in) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      in->json = true;
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      in->verbose = true;
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  in->command = argv[i++];
  for (; i < argc; ++i) {
    (std::strncmp(argv[i], "--", 2) == 0 ? in->options : in->operands).push_back(argv[i]);
  }
  const auto found = commands().find(in->command);
  if (found == commands().end() || in->operands.size() > 1) return false;
  if (in->operands.empty() && !found->second.addressOptional) return false;
  for (const auto& o : in->options) {
    if (!accepts(found->second, o)) return false;
  }
  return !(hasOption(*in, "--v1") && hasOption(*in, "--v3"));
}

}  // namespace
}  // namespace usbink::query

int main(int argc, char** argv) {
  using namespace usbink::query;
  Invocation in;
  if (!parse(argc, argv, &in)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const Streams streams = separateDiagnostics(in.verbose);
  const int result = commands().at(in.command).run(in, streams);
  if (result == kExitNoAnswer) {
    const std::string from = in.operands.empty() ? "the local networks" : printable(in.operands[0]);
    std::fprintf(streams.errors, "usbink-query: %s: no answer from %s\n", in.command.c_str(),
                 from.c_str());
  }
  std::fclose(streams.results);
  std::fclose(streams.errors);
  return result;
}
