// Printer service resolution against real avahi-daemons on a private link.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "tool/platform/mdns.h"

namespace usbink::test {
namespace {

using Addresses = std::multiset<std::string>;
Addresses expected(const PrinterService& p) {
  return {p.addresses.begin(), p.addresses.end()};
}

// The addresses resolved for `instance` (a scope shows as a zone suffix, a
// duplicate as a second entry); the call must write nothing.
Addresses resolve(const std::string& instance) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const auto addresses = platform::resolvePrinterService(instance);
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
  Addresses out;
  for (const auto& storage : addresses) {
    char text[INET6_ADDRSTRLEN] = "?";
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
    const void* at = storage.ss_family == AF_INET6
                         ? static_cast<const void*>(&in6.sin6_addr)
                         : &reinterpret_cast<const sockaddr_in&>(storage).sin_addr;
    inet_ntop(storage.ss_family, at, text, sizeof text);
    const bool zone = storage.ss_family == AF_INET6 && in6.sin6_scope_id != 0;
    out.insert(text + (zone ? "%" + std::to_string(in6.sin6_scope_id) : ""));
  }
  return out;
}

// Each row, a further call in the same process, lists only its own addresses,
// each once though answered over both mDNS transports.
TEST(PrinterServiceResolution, ListsEveryAddressOfThePublishedInstanceOnce) {
  AvahiNetEnvironment::net().publish({
      {"-a", "-R", "multi.local", "198.51.100.40"},
      {"-a", "-R", "multi.local", "198.51.100.41"},
      {"-s", "-H", "multi.local", "Acme Multi", "_printer._tcp", "515"},
      {"-s", "Acme Own", "_printer._tcp", "515"},
  });
  const struct {
    std::string instance;
    Addresses want;
  } cases[] = {
      {"Acme Laser", expected(kPrinterTwoFamilies)},
      {"Acme Link", expected(kPrinterLinkLocal)},  // fe80::30, without zone
      {"acme laser", expected(kPrinterTwoFamilies)},
      {"Acme Solo", expected(kPrinterOneAddress)},  // waits out the budget
      {"Acme Nope", {}},
      {"", {}},  // names no instance: nothing to wait for
      {"Acme Multi", {"198.51.100.40", "198.51.100.41"}},
      {"Acme Own", {kPrinterLinkAddress4, kPrinterLinkAddress6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("instance \"" + c.instance + "\"");
    EXPECT_EQ(resolve(c.instance), c.want);
  }
}

// A caught signal every 5 ms interrupts the loop's poll: no address may be
// lost, and the call must still end (the one-address instance waits it out).
TEST(PrinterServiceResolution, CaughtSignalsNeitherLoseAddressesNorStretchTheWait) {
  struct sigaction interrupt {};
  interrupt.sa_handler = [](int) {};
  struct sigaction previous {};
  sigaction(SIGUSR1, &interrupt, &previous);
  const pthread_t caller = pthread_self();
  for (const PrinterService* printer : {&kPrinterTwoFamilies, &kPrinterOneAddress}) {
    SCOPED_TRACE("instance \"" + printer->instance + "\"");
    std::atomic<bool> returned = false;
    std::thread storm([&] {
      while (!returned) {
        pthread_kill(caller, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    const Addresses got = resolve(printer->instance);
    returned = true;
    storm.join();
    EXPECT_EQ(got, expected(*printer));
  }
  sigaction(SIGUSR1, &previous, nullptr);
}

// No daemon, or one killed during the wait: nothing listed or written; a
// daemon started again serves the next call.
TEST(PrinterServiceResolution, WithoutDaemonOrWhenItDiesListsNothing) {
  AvahiNet& net = AvahiNetEnvironment::net();
  net.clientAvahi().stop();
  EXPECT_EQ(resolve(kPrinterTwoFamilies.instance), Addresses{});
  net.restartClientAvahi();

  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(net.clientAvahi().pid(), SIGKILL);
  });
  EXPECT_EQ(resolve("Acme Nope"), Addresses{});
  killer.join();
  net.restartClientAvahi();
  EXPECT_EQ(resolve(kPrinterTwoFamilies.instance), expected(kPrinterTwoFamilies));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::AvahiNetEnvironment);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
