// usbink-query: the network library's operations on one printer address,
// for administrators and scripts.
//
//   usbink-query [--json] [--verbose] name|firmware|mcu-firmware ADDRESS
//   usbink-query [--json] [--verbose] identity ADDRESS
//   usbink-query [--json] [--verbose] status [--v1|--v3] ADDRESS
//
// Results go to standard output; the library's own diagnostic lines are
// dropped, or sent to standard error with --verbose.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "query/output.h"
#include "usbink/netio.h"
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
    "  status [--v1|--v3] ADDRESS  toner level (SNMP v1, then SNMPv3)\n";

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

// The library writes diagnostic lines to both standard streams. Results
// and our own messages go to copies of the caller's streams; the originals
// are pointed at /dev/null, or both at standard error with --verbose.
Streams separateDiagnostics(bool verbose) {
  Streams s{fdopen(dup(STDOUT_FILENO), "w"), fdopen(dup(STDERR_FILENO), "w")};
  const int sink = verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
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
  for (const auto& [key, value] : {std::pair{"name", name}, {"firmware", firmware}, {"mcu-firmware", mcu}}) {
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

struct Command {
  std::vector<std::string> options;  // the options the command accepts
  std::function<int(const Invocation&, const Streams&)> run;
};

const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      {"name", {{}, [](auto& in, auto& s) {
                  return v1Value(in, s, &CNetIO::TavrenNetworkGetPrinterName, "name");
                }}},
      {"firmware", {{}, [](auto& in, auto& s) {
                      return v1Value(in, s, &CNetIO::TavrenNetworkGetFwVersion, "firmware");
                    }}},
      {"mcu-firmware", {{}, [](auto& in, auto& s) {
                          return v1Value(in, s, &CNetIO::TavrenNetworkGetFwMCUVersion, "mcu-firmware");
                        }}},
      {"identity", {{}, identity}},
      {"status", {{"--v1", "--v3"}, status}},
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
  if (found == commands().end() || in->operands.size() != 1) return false;
  for (const auto& o : in->options) {
    const auto& allowed = found->second.options;
    if (std::find(allowed.begin(), allowed.end(), o) == allowed.end()) return false;
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
    std::fprintf(streams.errors, "usbink-query: %s: no answer from %s\n", in.command.c_str(),
                 printable(in.operands[0]).c_str());
  }
  std::fclose(streams.results);
  std::fclose(streams.errors);
  return result;
}
