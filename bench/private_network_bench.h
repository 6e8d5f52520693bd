// main() of a benchmark against real peers in a private network (needs
// root, like the integration tests).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "support/netns.h"

namespace usbink::test {

// The registration of a benchmark whose one iteration is a whole exchange
// with the peers: timed on the wall clock in milliseconds, `Repetitions`
// times. Use as BENCHMARK(...)->Apply(wholeExchanges<N>).
template <int Repetitions>
void wholeExchanges(benchmark::internal::Benchmark* b) {
  b->Iterations(1)->Repetitions(Repetitions)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Moves the process into a private network, brings the peers up with
// `setUp` (whatever it returns lives until the benchmarks are done), then
// runs the benchmarks.
inline int runBenchmarksInPrivateNetwork(int argc, char** argv,
                                         const std::function<std::shared_ptr<void>()>& setUp) {
  benchmark::Initialize(&argc, argv);
  if (geteuid() != 0) {
    std::fprintf(stderr, "this benchmark needs root (network namespaces)\n");
    return 1;
  }
  enterPrivateNetwork();
  const std::shared_ptr<void> peers = setUp();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace usbink::test
