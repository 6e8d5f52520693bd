#include "support/avahi_net.h"

#include <filesystem>
#include <stdexcept>

namespace usbink::test {
namespace {

const std::string kSides[2] = {"pr", "cl"};  // printer, client: folder, host and interface names
const PrinterService* const kStaticPrinters[] = {&kPrinterTwoFamilies, &kPrinterOneAddress,
                                                 &kPrinterLinkLocal};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void waitForLog(const std::string& log, const std::string& line, std::size_t times = 1) {
  if (!waitFor([&] { return count(readFile(log), line) >= times; })) {
    throw std::runtime_error("no \"" + line + "\" in " + log + ":\n" + readFile(log));
  }
}

// In the daemon's own mount namespace, this side's ($0) bus socket, config, hosts and services
// bound at the default paths; the machine's /run and /etc/avahi stay untouched.
constexpr const char* kAvahiLauncher =
    "mount -n -t tmpfs -o mode=0755 usbink-run /run && mkdir /run/avahi-daemon /run/dbus &&"
    " touch /run/dbus/system_bus_socket && mount -n --bind \"$0/bus\" /run/dbus/system_bus_socket"
    " && for f in avahi-daemon.conf hosts services; do"
    " mount -n --bind \"$0/$f\" \"/etc/avahi/$f\" || exit; done &&"
    " exec avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title";

}  // namespace

AvahiNet::AvahiNet() {
  if (!inPrivateNetwork()) throw std::runtime_error("AvahiNet needs a private network");
  const std::string& ns = m_printerNs.name();
  const std::string p4 = kPrinterLinkAddress4, p6 = kPrinterLinkAddress6, pr = m_dir.file("pr");
  disableDuplicateAddressDetection();
  disableDuplicateAddressDetection(ns);
  runChecked({"sh", "-ec",
              "ip -n $0 link set lo up; ip link add mdns-cl type veth peer name mdns-pr netns $0\n"
              "ip -n $0 addr add $1/24 dev mdns-pr; ip -n $0 addr add $2/64 dev mdns-pr nodad\n"
              "ip addr add 192.0.2.2/24 dev mdns-cl; ip addr add 2001:db8::2/64 dev mdns-cl nodad\n"
              "ip -n $0 link set mdns-pr up; ip link set mdns-cl up\n"
              "ip route add 198.51.100.0/24 via $1; ip -6 route add 2001:db8:100::/64 via $2",
              ns, p4, p6});
  // The printers' hosts in the static hosts file, their addresses on the printer side's loopback.
  std::string hosts;
  for (const std::string& side : kSides)
    std::filesystem::create_directories(m_dir.file(side + "/services"));
  for (const PrinterService* p : kStaticPrinters) {
    writeFile(pr + "/services/" + p->host + ".service",
              "<service-group><name>" + p->instance +
                  "</name><service><type>_printer._tcp</type><port>515</port><host-name>" +
                  p->host + ".local</host-name></service></service-group>\n");
    for (const auto& a : p->addresses) {
      hosts += a + " " + p->host + ".local\n";
      const bool ipv6 = a.find(':') != std::string::npos;
      if (!a.starts_with("fe80:")) {
        runChecked({"ip", "-n", ns, "addr", "add", a + (ipv6 ? "/128" : "/32"), "dev", "lo"});
      }
    }
  }
  writeFile(pr + "/hosts", hosts);
  writeFile(m_dir.file("cl/hosts"), "");
  for (int side : {0, 1}) {
    const std::string dir = m_dir.file(kSides[side]);
    writeFile(dir + "/dbus.conf",
              "<busconfig><type>system</type><listen>unix:path=" + dir +
                  "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                  "user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/><allow "
                  "receive_sender=\"*\"/></policy></busconfig>\n");
    writeFile(dir + "/avahi-daemon.conf",
              "[server]\nhost-name=usbink-" + kSides[side] + "\nallow-interfaces=mdns-" +
                  kSides[side] +
                  "\nuse-ipv4=yes\nuse-ipv6=yes\nenable-dbus=yes\nratelimit-interval-usec="
                  "1000000\nratelimit-burst=1000\n[wide-area]\nenable-wide-area=no\n"
                  "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
    m_bus[side] = Child({"dbus-daemon", "--config-file=" + dir + "/dbus.conf", "--nofork",
                         "--nopidfile", "--nosyslog", "--print-address"},
                        dir + "/dbus.log");
    waitForLog(dir + "/dbus.log", "unix:path=");
  }
  writeFile(pr + "/avahi.log", "");
  m_avahi[0] =
      Child({"ip", "netns", "exec", ns, "sh", "-c", kAvahiLauncher, pr}, pr + "/avahi.log");
  restartClientAvahi();
  waitForLog(pr + "/avahi.log", "successfully established",
             std::size(kStaticPrinters) + count(hosts, "\n"));
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_dir.file("cl/bus")).c_str(), 1);
}

void AvahiNet::restartClientAvahi() {
  const std::string dir = m_dir.file("cl");
  m_avahi[1].stop();
  writeFile(dir + "/avahi.log", "");
  m_avahi[1] = Child({"unshare", "--mount", "sh", "-c", kAvahiLauncher, dir}, dir + "/avahi.log");
  waitForLog(dir + "/avahi.log", "Server startup complete");
}

void AvahiNet::publish(const std::vector<std::vector<std::string>>& publications) {
  const std::string dir = m_dir.file("pr"), log = dir + "/publish.log";
  for (auto argv : publications) {
    argv.insert(argv.begin(), "avahi-publish");
    m_publishers.emplace_back(argv, log,
                              std::map<std::string, std::string>{
                                  {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir + "/bus"}});
  }
  waitForLog(log, "Established under name", m_publishers.size());
}

}  // namespace usbink::test
