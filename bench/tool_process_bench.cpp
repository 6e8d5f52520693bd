// Whole runs of the usbink program as the print system starts it, against a
// private cupsd and real snmpd agents in a private network (needs root):
//   - a v1 queue, interleaved run for run with `snmpget -v1` for the same
//     object from the same agent;
//   - a queue whose agent answers SNMPv3 only: wall time, the CPU time the
//     process used (user + system, from wait4), and the wall time less the
//     waits the exchange is built to take (the v1 read's 50 ms, then one
//     second of silence on each SNMPv3 socket);
//   - a queue that does not exist;
//   - the peak resident set of each (ru_maxrss, what `time -v` reports).
// Prints "name value" lines; scripts/bench puts them in its table.
//
//   tool_process_bench USBINK [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/oids.h"

extern char** environ;

namespace usbink::test {
namespace {

// The waits the SNMPv3-only queue is built to take.
constexpr double kDesignedWaitsMs = 50 + 1000 + 1000;

struct Run {
  double wallMs;
  double cpuMs;  // user + system
  long maxRssKiB;
};

double millis(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Runs `argv` with standard output and error on /dev/null; throws when it
// does not end with `expectedExit`.
Run measure(const std::vector<std::string>& argv, int expectedExit) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedExit) {
    throw std::runtime_error(argv[0] + " " + argv.back() + " ended with status " +
                             std::to_string(status));
  }
  return {wall.count(), millis(usage.ru_utime) + millis(usage.ru_stime), usage.ru_maxrss};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

template <typename F>
std::vector<double> field(const std::vector<Run>& runs, F f) {
  std::vector<double> out;
  for (const auto& r : runs) out.push_back(f(r));
  return out;
}

long peakRss(const std::vector<Run>& runs) {
  long peak = 0;
  for (const auto& r : runs) peak = std::max(peak, r.maxRssKiB);
  return peak;
}

void print(const char* name, double value) {
  std::printf("%s %.3f\n", name, value);
}

int bench(const std::string& usbink, int runs) {
  const std::string v1Address = "127.0.13.2", v3Address = "127.0.13.3";
  const SnmpdAgent v1Agent({.address4 = v1Address});
  const SnmpdAgent v3Agent({.address4 = v3Address, .v1 = false});
  Cupsd cups;
  cups.addQueue("q_v1", "socket://" + v1Address);
  cups.addQueue("q_v3", "socket://" + v3Address);
  setenv("CUPS_SERVER", cups.clientEnv().at("CUPS_SERVER").c_str(), 1);

  const std::vector<std::string> tool = {usbink, "q_v1"};
  const std::vector<std::string> snmpget = {"snmpget", "-v1",     "-c",
                                            "mirtal",  v1Address, kOidDeviceId};
  measure(tool, 0);  // warm the page cache and the scheduler
  measure(snmpget, 0);
  std::vector<Run> ours, theirs;
  for (int i = 0; i < runs; ++i) {
    ours.push_back(measure(tool, 0));
    theirs.push_back(measure(snmpget, 0));
  }
  const double oursMs = median(field(ours, [](const Run& r) { return r.wallMs; }));
  const double theirsMs = median(field(theirs, [](const Run& r) { return r.wallMs; }));
  print("v1_usbink_ms", oursMs);
  print("v1_snmpget_ms", theirsMs);
  print("v1_ratio", oursMs / theirsMs);
  print("v1_rss_kib", static_cast<double>(peakRss(ours)));
  print("v1_snmpget_rss_kib", static_cast<double>(peakRss(theirs)));

  std::vector<Run> v3;
  for (int i = 0; i < std::max(3, runs / 10); ++i) v3.push_back(measure({usbink, "q_v3"}, 0));
  const double v3Wall = median(field(v3, [](const Run& r) { return r.wallMs; }));
  print("v3_wall_ms", v3Wall);
  print("v3_wall_less_waits_ms", v3Wall - kDesignedWaitsMs);
  print("v3_cpu_ms", median(field(v3, [](const Run& r) { return r.cpuMs; })));
  print("v3_rss_kib", static_cast<double>(peakRss(v3)));

  std::vector<Run> missing;
  for (int i = 0; i < runs; ++i) missing.push_back(measure({usbink, "no_such_queue"}, 255));
  print("missing_ms", median(field(missing, [](const Run& r) { return r.wallMs; })));
  print("missing_cpu_ms", median(field(missing, [](const Run& r) { return r.cpuMs; })));
  print("missing_rss_kib", static_cast<double>(peakRss(missing)));
  return 0;
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s USBINK [RUNS]\n", argv[0]);
    return 2;
  }
  if (geteuid() != 0) {
    std::fprintf(stderr, "this benchmark needs root (network namespaces, UDP port 161)\n");
    return 1;
  }
  try {
    usbink::test::enterPrivateNetwork();
    return usbink::test::bench(argv[1], argc > 2 ? std::atoi(argv[2]) : 41);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tool_process_bench: %s\n", e.what());
    return 1;
  }
}
