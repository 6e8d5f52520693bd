// Printer service resolution time against real avahi-daemons on a private
// link (needs root): a two-address instance, which ends the wait early, and
// a one-address instance, which waits out the budget; and the whole tool
// process on a dnssd queue of a private cupsd whose printer, on the other
// side of the link, answers SNMP v1.
#include <benchmark/benchmark.h>

#include <memory>

#include "private_network_bench.h"
#include "support/avahi_net.h"
#include "support/cupsd.h"
#include "support/snmp_agents.h"
#include "tool/platform/mdns.h"

namespace usbink::test {
namespace {

void resolveInstance(benchmark::State& state, const PrinterService& printer) {
  for (auto _ : state) {
    const auto addresses = platform::resolvePrinterService(printer.instance);
    if (addresses.size() != printer.addresses.size()) state.SkipWithError("addresses missing");
  }
}

BENCHMARK_CAPTURE(resolveInstance, two_addresses, kPrinterTwoFamilies)->Apply(wholeExchanges<10>);
BENCHMARK_CAPTURE(resolveInstance, one_address, kPrinterOneAddress)->Apply(wholeExchanges<10>);

// Set up by main before the benchmarks run.
AvahiNet* g_net = nullptr;

void toolOnDnssdQueue(benchmark::State& state) {
  AgentConfig laser;
  laser.address4 = kPrinterTwoFamilies.addresses[0];
  laser.address6 = kPrinterTwoFamilies.addresses[1];
  std::unique_ptr<SnmpdAgent> snmpd;
  g_net->onPrinterSide([&] { snmpd = std::make_unique<SnmpdAgent>(laser); });
  Cupsd cups;
  cups.addQueue("laser", "dnssd://Acme%20Laser._printer._tcp.local./");
  for (auto _ : state) {
    const auto r = run({USBINK_TOOL_SIM, "laser"}, {cups.clientEnv()});
    if (r.exitCode != 0) state.SkipWithError("no report");
  }
}

BENCHMARK(toolOnDnssdQueue)->Apply(wholeExchanges<10>);

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runBenchmarksInPrivateNetwork(argc, argv, [] {
    auto net = std::make_shared<usbink::test::AvahiNet>();
    usbink::test::g_net = net.get();
    return net;
  });
}
