// A private multicast-DNS network for tests: the calling process's (private)
// network namespace is the client side, a named namespace the printer side,
// joined by a veth pair. Each side runs its own dbus-daemon and avahi-daemon,
// which sees a private /run and /etc/avahi through bind mounts, so the
// machine's are never used. The printer side publishes the static printers
// below, whose routable addresses live on its loopback.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/process.h"

namespace usbink::test {

struct PrinterService {
  std::string instance;                // service instance name, type "_printer._tcp"
  std::string host;                    // its host is host + ".local"
  std::vector<std::string> addresses;  // the host's addresses, as inet_ntop writes them
};

inline const PrinterService kPrinterTwoFamilies{
    "Acme Laser", "laser", {"198.51.100.10", "2001:db8:100::10"}};
inline const PrinterService kPrinterOneAddress{"Acme Solo", "solo", {"198.51.100.20"}};
inline const PrinterService kPrinterLinkLocal{"Acme Link", "link", {"198.51.100.30", "fe80::30"}};

// The printer side's own addresses on the link (its avahi-daemon's host).
inline constexpr const char* kPrinterLinkAddress4 = "192.0.2.1";
inline constexpr const char* kPrinterLinkAddress6 = "2001:db8::1";

class AvahiNet {
 public:
  // Brings the network up and points DBUS_SYSTEM_BUS_ADDRESS of this process
  // at the client bus; throws std::runtime_error when something does not
  // start. Call it while the process has one thread.
  AvahiNet();
  ~AvahiNet();
  AvahiNet(const AvahiNet&) = delete;
  AvahiNet& operator=(const AvahiNet&) = delete;

  // Publishes on the printer side with one avahi-publish per entry (its
  // arguments, such as {"-s", "Name", "_printer._tcp", "515"}), all at once,
  // and returns when each is established; they stay until teardown.
  void publish(const std::vector<std::vector<std::string>>& publications);

  // The client side's avahi-daemon, to stop or kill it, and its
  // replacement by a fresh one (stopping the old one if still there).
  Child& clientAvahi() { return m_clientAvahi; }
  void restartClientAvahi();

  // Runs `start` with this thread in the printer namespace, so that the
  // processes it starts (SNMP agents at a printer's address) live there.
  void onPrinterSide(const std::function<void()>& start) { m_printerNs.enter(start); }

 private:
  Child startBus(const std::string& side, const std::string& interface);
  Child startAvahi(const std::string& side);

  // Declared in bring-up order; torn down in reverse, processes first.
  TempDir m_dir{"usbink-avahi"};
  NamedNamespace m_printerNs{"usbink-mdns-"};
  Child m_printerBus, m_printerAvahi, m_clientBus, m_clientAvahi;
  std::vector<Child> m_publishers;
};

// One AvahiNet (about two seconds to bring up) for a whole test binary:
// registered in main() with ::testing::AddGlobalTestEnvironment, it comes up
// in the private network before the first test; when it cannot, gtest
// reports that and runs no test.
class AvahiNetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  static AvahiNet& net() { return *s_net; }

 private:
  static std::unique_ptr<AvahiNet> s_net;
};

}  // namespace usbink::test
