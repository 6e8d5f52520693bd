// Printer service resolution time against real avahi-daemons on a private
// link (needs root): a two-address instance, which ends the wait early, and
// a one-address instance, which waits out the budget.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "tool/platform/mdns.h"

namespace usbink::test {
namespace {

void resolveInstance(benchmark::State& state, const PrinterService& printer) {
  for (auto _ : state) {
    const auto addresses = platform::resolvePrinterService(printer.instance);
    if (addresses.size() != printer.addresses.size()) state.SkipWithError("addresses missing");
  }
}

BENCHMARK_CAPTURE(resolveInstance, two_addresses, kPrinterTwoFamilies)
    ->Iterations(1)
    ->Repetitions(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(resolveInstance, one_address, kPrinterOneAddress)
    ->Iterations(1)
    ->Repetitions(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!usbink::test::isRoot()) {
    std::fprintf(stderr, "this benchmark needs root (network namespaces)\n");
    return 1;
  }
  usbink::test::enterPrivateNetwork();
  const auto net = std::make_unique<usbink::test::AvahiNet>();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
