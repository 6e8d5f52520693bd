// A private mDNS link (veth): client here, printer side in a named namespace, each with avahi.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/process.h"

namespace usbink::test {

struct PrinterService {
  std::string instance, host;          // type "_printer._tcp" on host + ".local"
  std::vector<std::string> addresses;  // as inet_ntop writes them
};
inline const PrinterService kPrinterTwoFamilies{
    "Acme Laser", "laser", {"198.51.100.10", "2001:db8:100::10"}};
inline const PrinterService kPrinterOneAddress{"Acme Solo", "solo", {"198.51.100.20"}};
inline const PrinterService kPrinterLinkLocal{"Acme Link", "link", {"198.51.100.30", "fe80::30"}};
inline constexpr const char *kPrinterLinkAddress4 = "192.0.2.1",
                            *kPrinterLinkAddress6 = "2001:db8::1";

class AvahiNet {
 public:
  // Brings it up (single-threaded), DBUS_SYSTEM_BUS_ADDRESS naming the client bus; throws.
  AvahiNet();
  ~AvahiNet() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
  // One avahi-publish per entry of arguments on the printer side, waiting until all are up.
  void publish(const std::vector<std::vector<std::string>>& publications);
  Child& clientAvahi() { return m_avahi[1]; }  // to kill, and start again:
  void restartClientAvahi();
  // Runs `start` in the printer namespace (SNMP agents at a printer's address).
  void onPrinterSide(const std::function<void()>& start) { m_printerNs.enter(start); }

 private:
  // Torn down in reverse, processes first. Index 0 is the printer side.
  TempDir m_dir{"usbink-avahi"};
  NamedNamespace m_printerNs{"usbink-mdns-"};
  Child m_bus[2], m_avahi[2];
  std::vector<Child> m_publishers;
};

// One AvahiNet per test binary, registered in main(); when it fails no test runs.
struct AvahiNetEnvironment : ::testing::Environment {
  void SetUp() override { ASSERT_NO_THROW(s_net = std::make_unique<AvahiNet>()); }
  void TearDown() override { s_net.reset(); }
  static AvahiNet& net() { return *s_net; }
  static inline std::unique_ptr<AvahiNet> s_net;
};

}  // namespace usbink::test
