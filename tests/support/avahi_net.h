// A private multicast-DNS link: this process's (private) namespace is the
// client side, a named namespace the printer side, joined by a veth pair. Each
// side runs its own dbus-daemon and avahi-daemon (private /run and /etc/avahi
// through bind mounts). The printer side publishes the printers below.
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
  // Brings it up, DBUS_SYSTEM_BUS_ADDRESS naming the client bus; throws
  // std::runtime_error when something does not start. Call it single-threaded.
  AvahiNet();
  ~AvahiNet();
  AvahiNet(const AvahiNet&) = delete;
  AvahiNet& operator=(const AvahiNet&) = delete;

  // One avahi-publish per entry on the printer side (its arguments, such as
  // {"-s", "Name", "_printer._tcp", "515"}); returns when all are established.
  void publish(const std::vector<std::vector<std::string>>& publications);

  // The client side's avahi-daemon, to stop or kill, and a fresh one in its place.
  Child& clientAvahi() { return m_clientAvahi; }
  void restartClientAvahi();

  // Runs `start` in the printer namespace (SNMP agents at a printer's address).
  void onPrinterSide(const std::function<void()>& start) { m_printerNs.enter(start); }

 private:
  Child startBus(const std::string& side, const std::string& interface);
  Child startAvahi(const std::string& side);

  // In bring-up order; torn down in reverse, processes first.
  TempDir m_dir{"usbink-avahi"};
  NamedNamespace m_printerNs{"usbink-mdns-"};
  Child m_printerBus, m_printerAvahi, m_clientBus, m_clientAvahi;
  std::vector<Child> m_publishers;
};

// One AvahiNet (about two seconds to bring up) per test binary, registered in
// main(); when it cannot come up, gtest reports that and runs no test.
class AvahiNetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  static AvahiNet& net() { return *s_net; }

 private:
  static std::unique_ptr<AvahiNet> s_net;
};

}  // namespace usbink::test
