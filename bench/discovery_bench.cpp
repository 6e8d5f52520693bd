// Discovery time on the test segment of network namespaces (needs root):
// one v1 and one SNMPv3 search of the limited broadcast from every local
// IPv4 address, and the time until the first printer is reported. The
// library's diagnostic lines go to the standard streams; run with
// --benchmark_out=FILE to keep the results apart.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "discovery/printers.h"
#include "private_network_bench.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
  Clock::time_point start;
  Clock::time_point firstHit;
  int hits = 0;
};

bool note(char*, char*, void* user) {
  auto& t = *static_cast<Timing*>(user);
  if (t.hits++ == 0) t.firstHit = Clock::now();
  return true;
}

using Search = bool (CNetIO::*)(const char*, const char*, const char*, SnmpAgentCallback, void*,
                                bool);

void discover(benchmark::State& state, Search search) {
  CNetIO io;
  io.InitTargetOID(kModelA, kModelB);
  double firstHitMs = 0;
  for (auto _ : state) {
    Timing t{Clock::now(), {}, 0};
    (io.*search)(nullptr, "255.255.255.255", kOidSysObjectId, note, &t, true);
    if (t.hits == 0) state.SkipWithError("no printer found");
    firstHitMs = std::chrono::duration<double, std::milli>(t.firstHit - t.start).count();
  }
  state.counters["first_hit_ms"] = firstHitMs;
}

BENCHMARK_CAPTURE(discover, v1_broadcast, &CNetIO::FindSnmpAgent)->Apply(wholeExchanges<3>);
BENCHMARK_CAPTURE(discover, v3_broadcast, &CNetIO::FindSnmpV3Agent)->Apply(wholeExchanges<3>);

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runBenchmarksInPrivateNetwork(
      argc, argv, [] { return std::make_shared<usbink::test::DiscoveryPrinters>(); });
}
