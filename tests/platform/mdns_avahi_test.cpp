// Printer service resolution against real avahi-daemons on a private link:
// the test process is the client, the printers are published on the other
// side of the link.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

#include "support/avahi_net.h"
#include "support/netns.h"
#include "support/snmp_agents.h"
#include "tool/platform/mdns.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

using Addresses = std::multiset<std::string>;

// The texts of the resolved addresses; a scope identifier would show as a
// zone suffix, and a duplicate as a second entry.
Addresses texts(const std::vector<sockaddr_storage>& addresses) {
  Addresses out;
  for (const auto& storage : addresses) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (storage.ss_family == AF_INET) {
      const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
      inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
      out.insert(text);
    } else if (storage.ss_family == AF_INET6) {
      const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
      inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
      const std::string zone = in6.sin6_scope_id ? "%" + std::to_string(in6.sin6_scope_id) : "";
      out.insert(text + zone);
    } else {
      out.insert("family " + std::to_string(storage.ss_family));
    }
  }
  return out;
}

Addresses expected(const PrinterService& printer) {
  return {printer.addresses.begin(), printer.addresses.end()};
}

struct Resolved {
  Addresses addresses;
  std::string output;  // what the call wrote to standard output and error
};

// Resolves with standard output and error sent to a file for the call.
Resolved resolve(const std::string& instanceName) {
  const TempDir dir("usbink-mdns-out");
  const std::string path = dir.file("output");
  std::fflush(nullptr);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  const int sink = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  dup2(sink, STDOUT_FILENO);
  dup2(sink, STDERR_FILENO);
  close(sink);
  const auto addresses = platform::resolvePrinterService(instanceName);
  std::fflush(nullptr);
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  return {texts(addresses), readFile(path)};
}

// Each row is a further call in the same process, so each also shows that a
// call lists only its own addresses.
TEST(PrinterServiceResolution, ListsEveryAddressOfThePublishedInstance) {
  const struct {
    std::string instance;
    Addresses want;
  } cases[] = {
      {"Acme Laser", expected(kPrinterTwoFamilies)},
      {"Acme Link", expected(kPrinterLinkLocal)},  // fe80::30, without zone
      {"acme laser", expected(kPrinterTwoFamilies)},
      {"ACME LINK", expected(kPrinterLinkLocal)},
      {"Acme Solo", expected(kPrinterOneAddress)},  // waits out the budget
      {"Acme Nope", {}},
      {"", {}},  // names no instance: nothing to wait for
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("instance \"" + c.instance + "\"");
    const auto r = resolve(c.instance);
    EXPECT_EQ(r.addresses, c.want);
    EXPECT_EQ(r.output, "");
  }
}

TEST(PrinterServiceResolution, ListsRecordsPublishedAtRunTime) {
  // An address record published by avahi-publish is answered over both mDNS
  // transports; it must be listed once. The daemon's own host answers its A
  // record over IPv4 mDNS only, its AAAA record over both.
  AvahiNetEnvironment::net().publish({
      {"-a", "-R", "once.local", "198.51.100.50"},
      {"-s", "-H", "once.local", "Acme Once", "_printer._tcp", "515"},
      {"-a", "-R", "multi.local", "198.51.100.40"},
      {"-a", "-R", "multi.local", "198.51.100.41"},
      {"-s", "-H", "multi.local", "Acme Multi", "_printer._tcp", "515"},
      {"-s", "Acme Own", "_printer._tcp", "515"},
  });
  const struct {
    std::string instance;
    Addresses want;
  } cases[] = {
      {"Acme Once", {"198.51.100.50"}},
      {"Acme Multi", {"198.51.100.40", "198.51.100.41"}},
      {"Acme Own", {kPrinterLinkAddress4, kPrinterLinkAddress6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("instance \"" + c.instance + "\"");
    EXPECT_EQ(resolve(c.instance).addresses, c.want);
  }
}

// A caught signal interrupts the loop's poll; a stream of them, one every few
// milliseconds for as long as the call runs, must neither lose addresses nor
// keep the call from ending once no more arrive (the one-address instance).
TEST(PrinterServiceResolution, CaughtSignalsNeitherLoseAddressesNorStretchTheWait) {
  struct sigaction interrupt {};
  interrupt.sa_handler = [](int) {};
  struct sigaction previous {};
  sigaction(SIGUSR1, &interrupt, &previous);
  const pthread_t caller = pthread_self();
  for (const auto& [instance, want] :
       {std::pair{kPrinterTwoFamilies.instance, expected(kPrinterTwoFamilies)},
        std::pair{kPrinterOneAddress.instance, expected(kPrinterOneAddress)}}) {
    SCOPED_TRACE("instance \"" + instance + "\"");
    std::atomic<bool> returned = false;
    std::thread storm([&] {
      while (!returned) {
        pthread_kill(caller, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    const auto r = resolve(instance);
    returned = true;
    storm.join();
    EXPECT_EQ(r.addresses, want);
  }
  sigaction(SIGUSR1, &previous, nullptr);
}

// The printers' routable addresses belong to the printer side and are
// reached across the link: an agent started there answers at them.
TEST(PrinterServiceResolution, ResolvedAddressesAnswerFromThePrinterSide) {
  AgentConfig config;
  config.address4 = kPrinterTwoFamilies.addresses[0];
  config.address6 = kPrinterTwoFamilies.addresses[1];
  config.sysName = "printer-side";
  std::unique_ptr<SnmpdAgent> agent;
  AvahiNetEnvironment::net().onPrinterSide([&] { agent = std::make_unique<SnmpdAgent>(config); });
  for (const auto& target : {config.address4, "udp6:[" + config.address6 + "]"}) {
    const auto r =
        run({"snmpget", "-v1", "-c", "mirtal", "-Oqv", "-t", "1", "-r", "0", target, kOidSysName});
    EXPECT_NE(r.out.find("printer-side"), std::string::npos) << target << ": " << r.err;
  }
}

TEST(PrinterServiceResolution, WithoutDaemonListsNothingAndWritesNothing) {
  AvahiNetEnvironment::net().clientAvahi().stop();
  const auto r = resolve(kPrinterTwoFamilies.instance);
  EXPECT_EQ(r.addresses, Addresses{});
  EXPECT_EQ(r.output, "");
  AvahiNetEnvironment::net().restartClientAvahi();
}

TEST(PrinterServiceResolution, DaemonDyingDuringTheWaitEndsItEmpty) {
  std::thread killer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    AvahiNetEnvironment::net().clientAvahi().signal(SIGKILL);
  });
  const auto r = resolve("Acme Nope");
  killer.join();
  EXPECT_EQ(r.addresses, Addresses{});
  EXPECT_EQ(r.output, "");
  AvahiNetEnvironment::net().restartClientAvahi();
  EXPECT_EQ(resolve(kPrinterTwoFamilies.instance).addresses, expected(kPrinterTwoFamilies));
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::AvahiNetEnvironment);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
