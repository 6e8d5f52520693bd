// Printer service resolution against real avahi-daemons on a private link.
#include <gtest/gtest.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <set>
#include <thread>

#include "support/avahi_net.h"
#include "tool/platform/mdns.h"

namespace usbink::test {
namespace {

using Addresses = std::multiset<std::string>;
Addresses expected(const PrinterService& p) {
  return {p.addresses.begin(), p.addresses.end()};
}

// The addresses resolved for `instance` (scope as zone suffix, duplicates kept); it writes nothing.
Addresses resolve(const std::string& instance) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Addresses out;
  for (const auto& storage : platform::resolvePrinterService(instance)) {
    char text[NI_MAXHOST] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&storage), sizeof storage, text, sizeof text,
                nullptr, 0, NI_NUMERICHOST);
    out.insert(text);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
  return out;
}

// Each call lists its own addresses once each, unharmed by a caught signal every 5 ms.
TEST(PrinterServiceResolution, ListsEveryAddressOfThePublishedInstanceOnce) {
  AvahiNetEnvironment::net().publish(
      {{"-a", "-R", "multi.local", "198.51.100.40"},
       {"-a", "-R", "multi.local", "198.51.100.41"},
       {"-s", "-H", "multi.local", "Acme Multi", "_printer._tcp", "515"},
       {"-s", "Acme Own", "_printer._tcp", "515"}});
  const std::pair<std::string, Addresses> cases[] = {
      {"Acme Laser", expected(kPrinterTwoFamilies)},
      {"Acme Link", expected(kPrinterLinkLocal)},   // fe80::30, without zone
      {"Acme Solo", expected(kPrinterOneAddress)},  // waits out the budget
      {"", {}},                                     // names no instance: nothing to wait for
      {"Acme Multi", {"198.51.100.40", "198.51.100.41"}},
      {"Acme Own", {kPrinterLinkAddress4, kPrinterLinkAddress6}},
  };
  struct sigaction interrupt = {}, previous = {};
  interrupt.sa_handler = [](int) {};
  sigaction(SIGUSR1, &interrupt, &previous);
  std::atomic<bool> done = false;
  std::thread storm([&done, caller = pthread_self()] {
    for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
      pthread_kill(caller, SIGUSR1);
  });
  for (const auto& [instance, want] : cases) EXPECT_EQ(resolve(instance), want) << instance;
  done = true;
  storm.join();
  sigaction(SIGUSR1, &previous, nullptr);
}

// A daemon killed during the wait, or none: nothing listed or written; a new one serves again.
TEST(PrinterServiceResolution, WithoutDaemonOrWhenItDiesListsNothing) {
  AvahiNet& net = AvahiNetEnvironment::net();
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(net.clientAvahi().pid(), SIGKILL);
  });
  EXPECT_EQ(resolve("Acme Nope"), Addresses{});
  killer.join();
  EXPECT_EQ(resolve(kPrinterTwoFamilies.instance), Addresses{});
  net.restartClientAvahi();
  EXPECT_EQ(resolve(kPrinterTwoFamilies.instance), expected(kPrinterTwoFamilies));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::AvahiNetEnvironment);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
