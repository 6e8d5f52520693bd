// `usbink-query queues` over many network queues at once, with the default
// --jobs, against one private cupsd and one snmpd serving many loopback
// addresses, in a private network (needs root):
//   - 100 queues whose printers answer SNMP v1 (target: 2 s wall);
//   - 20 queues whose printers answer only SNMPv3 (target: 5 s wall);
// and the peak memory of each whole run: the largest sum of the resident
// sets of usbink-query and its usbink children, sampled every 2 ms.
// Prints "name value" lines.
//
//   queues_bench USBINK_QUERY USBINK
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "snmpv3/credentials.h"
#include "support/cupsd.h"
#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/oids.h"

extern char** environ;

namespace usbink::test {
namespace {

// One snmpd on `count` addresses 127.0.N.1.., v1 ("mirtal") or SNMPv3 only.
Child startAgents(const TempDir& dir, int network, int count, bool v1) {
  std::string listen;
  for (int i = 1; i <= count; ++i) {
    listen += (i > 1 ? "," : "") + std::string("udp:127.0.") + std::to_string(network) + "." +
              std::to_string(i) + ":161";
  }
  const auto cred = usmCredentials();
  const std::string name = "snmpd" + std::to_string(network);
  std::string conf = "[snmp] persistentDir " + dir.file(name + ".state") + "\n";
  conf += "agentaddress " + listen + "\nexactEngineID 0x800002a2040102030405\n";
  if (v1) {
    conf += "rocommunity mirtal\n";
  } else {
    conf += std::string("createUser ") + cred.userName + " MD5 \"" + cred.authPassword +
            "\" DES \"" + cred.privPassword + "\"\nrouser " + cred.userName + " priv\n";
  }
  conf +=
      std::string("override .") + kOidDeviceId + " octet_str \"" + deviceIdWithToner(57) + "\"\n";
  writeFile(dir.file(name + ".conf"), conf);
  const std::string log = dir.file(name + ".log");
  Child child({"snmpd", "-f", "-Lo", "-C", "-c", dir.file(name + ".conf"), "-I", "-smux", "-m", "",
               "-p", dir.file(name + ".pid")},
              log, {{"MIBS", ""}});
  if (!waitFor([&] { return readFile(log).find("NET-SNMP version") != std::string::npos; })) {
    throw std::runtime_error("snmpd did not start:\n" + readFile(log));
  }
  return child;
}

long rssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return 0;
}

// The resident set of `root` and its children.
long treeRssKiB(pid_t root) {
  long sum = rssKiB(root);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    int ppid = 0;
    char state = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == root) {
      sum += rssKiB(std::stoi(name));
    }
  }
  return sum;
}

struct Run {
  double wallS;
  long peakKiB;
  std::string output;
};

Run measure(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  TempDir dir("usbink-qbench");
  const std::string out = dir.file("out");
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  posix_spawn_file_actions_destroy(&actions);
  long peak = 0;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    peak = std::max(peak, treeRssKiB(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  return {wall.count(), peak, readFile(out)};
}

void bench(const std::string& name, const std::string& query, const std::string& usbink,
           const Cupsd& cups, const std::vector<std::string>& queues) {
  std::vector<std::string> argv = {query, "queues"};
  argv.insert(argv.end(), queues.begin(), queues.end());
  const Run r = measure(
      argv, {"CUPS_SERVER=" + cups.clientEnv().at("CUPS_SERVER"), "USBINK_PROGRAM=" + usbink});
  std::size_t read = 0;
  for (std::size_t at = 0; (at = r.output.find("\t57%\n", at)) != std::string::npos; ++at) ++read;
  if (read != queues.size())
    throw std::runtime_error(name + ": not every queue read:\n" + r.output);
  std::printf("%s_wall_s %.3f\n%s_peak_rss_kib %ld\n", name.c_str(), r.wallS, name.c_str(),
              r.peakKiB);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  using namespace usbink::test;
  if (argc < 3) {
    std::fprintf(stderr, "usage: queues_bench USBINK_QUERY USBINK\n");
    return 2;
  }
  try {
    enterPrivateNetwork();
    TempDir dir("usbink-qagents");
    Cupsd cups;
    Child v1 = startAgents(dir, 1, 100, true);
    Child v3 = startAgents(dir, 2, 20, false);
    std::vector<std::string> v1Queues, v3Queues;
    for (int i = 1; i <= 100; ++i) {
      v1Queues.push_back("v1_" + std::to_string(i));
      cups.addQueue(v1Queues.back(), "socket://127.0.1." + std::to_string(i));
    }
    for (int i = 1; i <= 20; ++i) {
      v3Queues.push_back("v3_" + std::to_string(i));
      cups.addQueue(v3Queues.back(), "socket://127.0.2." + std::to_string(i));
    }
    bench("queues_v1_100", argv[1], argv[2], cups, v1Queues);
    bench("queues_v3_20", argv[1], argv[2], cups, v3Queues);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "queues_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
