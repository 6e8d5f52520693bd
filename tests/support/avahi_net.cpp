#include "support/avahi_net.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace usbink::test {
namespace {

constexpr const char* kClientSide = "cl";
constexpr const char* kPrinterSide = "pr";
constexpr const char* kClientInterface = "mdns-cl";
constexpr const char* kPrinterInterface = "mdns-pr";
constexpr const char* kBusVariable = "DBUS_SYSTEM_BUS_ADDRESS";
constexpr auto kStartLimit = std::chrono::seconds(10);

const std::vector<const PrinterService*> kStaticPrinters = {
    &kPrinterTwoFamilies, &kPrinterOneAddress, &kPrinterLinkLocal};

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

void waitForLog(const std::string& log, const std::string& line, std::size_t count,
                const std::string& what) {
  if (!waitFor([&] { return occurrences(readFile(log), line) >= count; }, kStartLimit)) {
    throw std::runtime_error(what + " did not come up:\n" + readFile(log));
  }
}

std::string dbusConfig(const std::string& socket) {
  return "<busconfig><type>system</type><listen>unix:path=" + socket +
         "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
         "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
         "</policy></busconfig>\n";
}

std::string avahiConfig(const std::string& side, const std::string& interface) {
  return "[server]\nhost-name=usbink-" + side + "\nallow-interfaces=" + interface +
         "\nuse-ipv4=yes\nuse-ipv6=yes\nenable-dbus=yes\nratelimit-interval-usec=1000000\n"
         "ratelimit-burst=1000\n[wide-area]\nenable-wide-area=no\n"
         "[publish]\npublish-hinfo=no\npublish-workstation=no\n";
}

std::string serviceFile(const PrinterService& p) {
  return "<service-group><name>" + p.instance +
         "</name><service><type>_printer._tcp</type><port>515</port><host-name>" + p.host +
         ".local</host-name></service></service-group>\n";
}

// In the daemon's own mount namespace, a tmpfs /run and bind mounts put this
// side's bus socket, config, hosts and services ($0 the side's folder) at the
// default paths; the machine's /run and /etc/avahi stay untouched.
constexpr const char* kAvahiLauncher =
    "mount -n -t tmpfs -o mode=0755 usbink-run /run && mkdir /run/avahi-daemon /run/dbus &&"
    " touch /run/dbus/system_bus_socket &&"
    " mount -n --bind \"$0/bus\" /run/dbus/system_bus_socket &&"
    " for f in avahi-daemon.conf hosts services; do"
    " mount -n --bind \"$0/$f\" \"/etc/avahi/$f\" || exit; done &&"
    " exec avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title";

}  // namespace

AvahiNet::AvahiNet() {
  if (!inPrivateNetwork()) {
    throw std::runtime_error("AvahiNet reconfigures its caller's network: use a private one");
  }
  const std::string& ns = m_printerNs.name();
  const std::string p4 = kPrinterLinkAddress4, p6 = kPrinterLinkAddress6;
  disableDuplicateAddressDetection();
  disableDuplicateAddressDetection(ns);
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"ip", "-n", ns, "link", "set", "lo", "up"},
           {"ip", "link", "add", kClientInterface, "type", "veth", "peer", "name",
            kPrinterInterface, "netns", ns},
           {"ip", "-n", ns, "addr", "add", p4 + "/24", "dev", kPrinterInterface},
           {"ip", "-n", ns, "addr", "add", p6 + "/64", "dev", kPrinterInterface, "nodad"},
           {"ip", "addr", "add", "192.0.2.2/24", "dev", kClientInterface},
           {"ip", "addr", "add", "2001:db8::2/64", "dev", kClientInterface, "nodad"},
           {"ip", "-n", ns, "link", "set", kPrinterInterface, "up"},
           {"ip", "link", "set", kClientInterface, "up"},
           {"ip", "route", "add", "198.51.100.0/24", "via", p4},
           {"ip", "-6", "route", "add", "2001:db8:100::/64", "via", p6}}) {
    runChecked(command);
  }

  // The printers' hosts: in the static hosts file, their routable addresses
  // on the printer side's loopback (out of the daemon's sight).
  const std::string printerDir = m_dir.file(kPrinterSide), clientDir = m_dir.file(kClientSide);
  std::filesystem::create_directories(printerDir + "/services");
  std::filesystem::create_directories(clientDir + "/services");
  std::string hosts;
  for (const PrinterService* p : kStaticPrinters) {
    writeFile(printerDir + "/services/" + p->host + ".service", serviceFile(*p));
    for (const auto& a : p->addresses) {
      hosts += a + " " + p->host + ".local\n";
      if (a.starts_with("fe80:")) continue;
      const bool ipv6 = a.find(':') != std::string::npos;
      runChecked({"ip", "-n", ns, "addr", "add", a + (ipv6 ? "/128" : "/32"), "dev", "lo"});
    }
  }
  writeFile(printerDir + "/hosts", hosts);
  writeFile(clientDir + "/hosts", "");

  m_printerBus = startBus(kPrinterSide, kPrinterInterface);
  m_printerAvahi = startAvahi(kPrinterSide);
  m_clientBus = startBus(kClientSide, kClientInterface);
  restartClientAvahi();
  waitForLog(printerDir + "/avahi.log", "successfully established",
             kStaticPrinters.size() + occurrences(hosts, "\n"), "printer-side avahi-daemon");
  setenv(kBusVariable, ("unix:path=" + clientDir + "/bus").c_str(), 1);
}

AvahiNet::~AvahiNet() {
  unsetenv(kBusVariable);
}

Child AvahiNet::startBus(const std::string& side, const std::string& interface) {
  const std::string dir = m_dir.file(side);
  writeFile(dir + "/dbus.conf", dbusConfig(dir + "/bus"));
  writeFile(dir + "/avahi-daemon.conf", avahiConfig(side, interface));
  Child bus({"dbus-daemon", "--config-file=" + dir + "/dbus.conf", "--nofork", "--nopidfile",
             "--nosyslog", "--print-address"},
            dir + "/dbus.log");
  waitForLog(dir + "/dbus.log", "unix:path=", 1, "dbus-daemon");
  return bus;
}

Child AvahiNet::startAvahi(const std::string& side) {
  const std::string dir = m_dir.file(side);
  writeFile(dir + "/avahi.log", "");
  std::vector<std::string> argv = {"unshare", "--mount"};
  if (side == kPrinterSide) argv = {"ip", "netns", "exec", m_printerNs.name()};
  argv.insert(argv.end(), {"sh", "-c", kAvahiLauncher, dir});
  return Child(argv, dir + "/avahi.log");
}

void AvahiNet::restartClientAvahi() {
  m_clientAvahi.stop();
  m_clientAvahi = startAvahi(kClientSide);
  waitForLog(m_dir.file(kClientSide) + "/avahi.log", "Server startup complete", 1,
             "client-side avahi-daemon");
}

void AvahiNet::publish(const std::vector<std::vector<std::string>>& publications) {
  const std::string dir = m_dir.file(kPrinterSide), log = dir + "/publish.log";
  for (const auto& args : publications) {
    std::vector<std::string> argv = {"avahi-publish"};
    argv.insert(argv.end(), args.begin(), args.end());
    m_publishers.emplace_back(
        argv, log, std::map<std::string, std::string>{{kBusVariable, "unix:path=" + dir + "/bus"}});
  }
  waitForLog(log, "Established under name", m_publishers.size(), "avahi-publish");
}

std::unique_ptr<AvahiNet> AvahiNetEnvironment::s_net;

void AvahiNetEnvironment::SetUp() {
  try {
    s_net = std::make_unique<AvahiNet>();
  } catch (const std::exception& e) {
    GTEST_FAIL() << e.what();
  }
}

void AvahiNetEnvironment::TearDown() {
  s_net.reset();
}

}  // namespace usbink::test
