#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "snmpv3/credentials.h"
#include "support/avahi_net.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "usbink/base64.h"
#include "usbink/oids.h"
#include "usbink/status.h"

extern char** environ;

namespace usbink::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Starts `argv` (through env(1) to add `extra`), standard input empty; -1 when it cannot.
pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& extra, int out,
            int err) {
  for (const auto& [k, v] : extra) argv.insert(argv.begin(), k + "=" + v);
  if (!extra.empty()) argv.insert(argv.begin(), "env");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> cArgs;
  for (auto& s : argv) cArgs.push_back(s.data());
  cArgs.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cArgs[0], &actions, nullptr, cArgs.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  return status;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void waitForLog(const std::string& log, const std::string& line, std::size_t times = 1) {
  if (!waitFor([&] { return count(readFile(log), line) >= times; }))
    throw std::runtime_error("no \"" + line + "\" in " + log + ":\n" + readFile(log));
}

Child start(const std::vector<std::string>& argv, const std::string& log,
            const std::map<std::string, std::string>& env, const std::string& readyLine) {
  Child child(argv, log, env);
  waitForLog(log, readyLine);
  if (!child.running()) throw std::runtime_error("agent stopped, " + log + ":\n" + readFile(log));
  return child;
}

// A distinct engine ID per listening address, with the expected enterprise.
std::string engineId(const AgentConfig& c) {
  const std::string tag = (c.address4.empty() ? c.address6 : c.address4).substr(0, 24);
  return c.engineId.empty() ? "800002a204" + toHex(Bytes(tag.begin(), tag.end())) : c.engineId;
}

const std::string kSides[2] = {"pr", "cl"};  // printer, client: folder, host and interface names
const PrinterService* const kStaticPrinters[] = {&kPrinterTwoFamilies, &kPrinterOneAddress,
                                                 &kPrinterLinkLocal};

// Binds this side's ($0) bus, config, hosts and services at the default paths, privately.
constexpr const char* kAvahiLauncher =
    "mount -n -t tmpfs -o mode=0755 usbink-run /run && mkdir /run/avahi-daemon /run/dbus &&"
    " touch /run/dbus/system_bus_socket && mount -n --bind \"$0/bus\" /run/dbus/system_bus_socket"
    " && for f in avahi-daemon.conf hosts services; do"
    " mount -n --bind \"$0/$f\" \"/etc/avahi/$f\" || exit; done &&"
    " exec avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title";

}  // namespace

ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  int out[2];
  const int err = memfd_create("stderr", MFD_CLOEXEC);
  if (err < 0) throw std::runtime_error("memfd_create failed");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(err);
    throw std::runtime_error("pipe failed");
  }
  const auto deadline = Clock::now() + options.timeout;
  const pid_t pid = spawn(argv, options.env, out[1], err);
  close(out[1]);
  ProcessResult result;
  for (char buf[4096]; pid > 0;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd readable{out[0], POLLIN, 0};
    if (left <= 0) kill(pid, SIGKILL);
    if (left > 0 && poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n = left > 0 ? read(out[0], buf, sizeof buf) : 0;
    if (n <= 0) break;
    result.out.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const int status = pid > 0 ? reap(pid) : -1;
  result.err = readFile("/proc/self/fd/" + std::to_string(err));
  close(err);
  if (pid < 0) throw std::runtime_error("cannot start " + argv[0]);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

ProcessResult runChecked(const std::vector<std::string>& argv) {
  auto result = run(argv);
  if (result.exitCode != 0) throw std::runtime_error("failed: " + argv[0] + ": " + result.err);
  return result;
}

Child::Child(const std::vector<std::string>& argv, const std::string& logPath,
             const std::map<std::string, std::string>& env) {
  const std::string log = logPath.empty() ? "/dev/null" : logPath;
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  m_pid = fd < 0 ? -1 : spawn(argv, env, fd, fd);
  close(fd);
  if (m_pid < 0) throw std::runtime_error("cannot start " + argv[0] + " with log " + log);
}

bool Child::running() {
  if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) return true;
  m_pid = -1;
  return false;
}

void Child::stop() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGCONT);
  kill(m_pid, SIGTERM);
  if (waitFor([this] { return !running(); }, std::chrono::seconds(3))) return;
  kill(m_pid, SIGKILL);
  reap(std::exchange(m_pid, -1));
}

std::string readFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& content, int mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), static_cast<mode_t>(mode));
}

TempDir::TempDir(const std::string& prefix) : m_path("/tmp/" + prefix + "-XXXXXX") {
  if (mkdtemp(m_path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  chmod(m_path.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  for (const auto deadline = Clock::now() + limit; !ready();) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

std::string statusBlockWithToner(int toner) {
  unsigned char block[kPrinterStatusSize];
  for (std::size_t i = 0; i < sizeof block; ++i)
    block[i] = static_cast<unsigned char>(i ? i : toner);
  char text[160];
  base64_encode(block, sizeof block, text, sizeof text);
  return text;
}

std::string deviceIdWithToner(int toner) {
  return "MFG:Acme;CMD:PCL;MDL:Laser;STS:" + statusBlockWithToner(toner) + ";";
}

SnmpdAgent::SnmpdAgent(const AgentConfig& c) {
  const auto [user, auth, priv] = usmCredentials();
  std::string listen = c.address4.empty() ? "" : "udp:" + c.address4 + ":161";
  if (!c.address6.empty()) listen += (listen.empty() ? "udp6:[" : ",udp6:[") + c.address6 + "]:161";
  std::string conf = "[snmp] persistentDir " + m_dir.file("state") + "\nagentaddress " + listen +
                     "\nexactEngineID 0x" + engineId(c) + "\nsysName " + c.sysName +
                     "\nsysObjectID ." + c.sysObjectId + "\ncreateUser " + user + " MD5 \"" + auth +
                     "\" DES \"" + priv + "\"\nrouser " + user + " priv\n";
  if (c.v1) conf += "rocommunity mirtal\nrocommunity6 mirtal\n";
  const auto override = [&](const char* oid, const std::string& value) {
    conf += std::string("override .") + oid + " octet_str \"" + value + "\"\n";
  };
  if (c.serveDeviceId) override(kOidDeviceId, c.deviceId.value_or(deviceIdWithToner(c.toner)));
  override(kOidFwVersion, c.fwVersion);
  override(kOidMcuVersion, c.mcuVersion);
  writeFile(m_dir.file("snmpd.conf"), conf + c.snmpdLines);
  m_child = start({"snmpd", "-f", "-Lo", "-C", "-c", m_dir.file("snmpd.conf"), "-I", "-smux", "-m",
                   "", "-p", m_dir.file("snmpd.pid")},
                  m_dir.file("snmpd.log"), {{"MIBS", ""}}, "NET-SNMP version");
}

PysnmpAgent::PysnmpAgent(const AgentConfig& c) {
  const auto [user, auth, priv] = usmCredentials();
  std::vector<std::string> argv = {USBINK_PYTHON,
                                   USBINK_SOURCE_DIR "/tests/harness/pysnmp_agent.py"};
  argv.insert(argv.end(), {"--engine-id", engineId(c), "--sys-name", c.sysName, "--user", user});
  argv.insert(argv.end(), {"--sys-object-id", c.sysObjectId, "--auth", auth, "--priv", priv});
  argv.insert(argv.end(), {"--fw", c.fwVersion, "--mcu", c.mcuVersion});
  if (!c.address4.empty()) argv.insert(argv.end(), {"--addr", c.address4});
  if (!c.address6.empty()) argv.insert(argv.end(), {"--addr6", c.address6});
  if (c.v1) argv.insert(argv.end(), {"--community", "mirtal"});
  if (c.serveDeviceId)
    argv.insert(argv.end(), {"--device-id", c.deviceId.value_or(deviceIdWithToner(c.toner))});
  m_child = start(argv, m_dir.file("pysnmp.log"), {{"TMPDIR", m_dir.path()}}, "pysnmp agent ready");
}

AvahiNet::AvahiNet() {
  if (!inPrivateNetwork()) throw std::runtime_error("AvahiNet needs a private network");
  const std::string ns = m_printerNs.name(), pr = m_dir.file("pr");
  disableDuplicateAddressDetection();
  disableDuplicateAddressDetection(ns);
  runChecked({"sh", "-ec",
              "ip -n $0 link set lo up; ip link add mdns-cl type veth peer name mdns-pr netns $0\n"
              "ip -n $0 addr add $1/24 dev mdns-pr; ip -n $0 addr add $2/64 dev mdns-pr nodad\n"
              "ip addr add 192.0.2.2/24 dev mdns-cl; ip addr add 2001:db8::2/64 dev mdns-cl nodad\n"
              "ip -n $0 link set mdns-pr up; ip link set mdns-cl up\n"
              "ip route add 198.51.100.0/24 via $1; ip -6 route add 2001:db8:100::/64 via $2",
              ns, kPrinterLinkAddress4, kPrinterLinkAddress6});
  for (int side : {0, 1}) {
    const std::string dir = m_dir.file(kSides[side]);
    std::filesystem::create_directories(dir + "/services");
    writeFile(dir + "/avahi-daemon.conf",
              "[server]\nhost-name=usbink-" + kSides[side] + "\nallow-interfaces=mdns-" +
                  kSides[side] +
                  "\nratelimit-interval-usec=1000000\nratelimit-burst=1000\n[wide-area]\n"
                  "enable-wide-area=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n");
    m_bus[side] = Child({"dbus-daemon", "--session", "--address=unix:path=" + dir + "/bus",
                         "--nofork", "--nopidfile", "--nosyslog", "--print-address"},
                        dir + "/dbus.log");
    waitForLog(dir + "/dbus.log", "unix:path=");
  }
  std::string hosts;
  for (const PrinterService* p : kStaticPrinters) {
    writeFile(pr + "/services/" + p->host + ".service",
              "<service-group><name>" + p->instance +
                  "</name><service><type>_printer._tcp</type><port>515</port><host-name>" +
                  p->host + ".local</host-name></service></service-group>\n");
    for (const auto& a : p->addresses) {
      hosts += a + " " + p->host + ".local\n";
      if (!a.starts_with("fe80:")) runChecked({"ip", "-n", ns, "addr", "add", a, "dev", "lo"});
    }
  }
  writeFile(pr + "/hosts", hosts);
  writeFile(m_dir.file("cl/hosts"), "");
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
