// A test process's private network and name lookup, set up before any thread starts.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/process.h"

namespace usbink::test {

inline void checkCall(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}
inline bool inPrivateNetwork() {
  struct stat own = {}, machine = {};
  stat("/proc/thread-self/ns/net", &own);
  stat("/proc/1/ns/net", &machine);
  return own.st_ino != machine.st_ino;
}

// Every IPv6 address usable at once, in this thread's namespace or the named one.
inline void disableDuplicateAddressDetection(const std::string& ns = "") {
  runChecked({"sh", "-c", "${0:+ip netns exec $0} sysctl -qw net.ipv6.conf.all.accept_dad=0 $1", ns,
              "net.ipv6.conf.default.accept_dad=0"});
}

// A fresh network namespace; loopback has one address per family (for AI_ADDRCONFIG) and these.
inline void enterPrivateNetwork(std::vector<std::string> ipv6Addresses = {}) {
  checkCall(unshare(CLONE_NEWNET) == 0, "unshare(CLONE_NEWNET)");
  const char* script =
      "ip link set lo up; ip addr add 198.18.0.1/32 dev lo; for a; do ip -6 addr add"
      " $a/128 dev lo nodad; done";
  ipv6Addresses.insert(ipv6Addresses.begin(), {"sh", "-ec", script, "-", "fd00:ffff::1"});
  runChecked(ipv6Addresses);
}

inline int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6 = {}) {
  ::testing::InitGoogleTest(&argc, argv);
  enterPrivateNetwork(ipv6);
  return RUN_ALL_TESTS();
}

// Own /etc/hosts, and a resolv.conf naming only 127.0.0.1 (private bind mounts).
inline void usePrivateHosts(const std::string& hostsContent) {
  checkCall(unshare(CLONE_NEWNS) == 0, "unshare(CLONE_NEWNS)");
  checkCall(mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "make / private");
  static const TempDir etc("usbink-etc");  // the mounted files, for the life of the process
  for (const auto& [name, content] : std::map<std::string, std::string>{
           {"hosts", hostsContent},
           {"resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
           {"nsswitch.conf", "hosts: files dns\n"}}) {
    const std::string file = etc.file(name), over = "/etc/" + name;
    writeFile(file, content);
    checkCall(mount(file.c_str(), over.c_str(), nullptr, MS_BIND, nullptr) == 0, "bind " + over);
  }
}

// A named network namespace (`ip netns`) "<prefix><PID>", deleted with the object.
class NamedNamespace {
 public:
  explicit NamedNamespace(const std::string& prefix) : m_name(prefix + std::to_string(getpid())) {
    runChecked({"ip", "netns", "add", m_name});
  }
  ~NamedNamespace() { run({"ip", "netns", "del", m_name}); }
  NamedNamespace(const NamedNamespace&) = delete;
  const std::string& name() const { return m_name; }
  // Runs `work` with this thread inside: the sockets and processes it starts belong there.
  void enter(const std::function<void()>& work) const {
    const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
    const bool left = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    const std::shared_ptr<void> back(nullptr, [&](void*) {
      if (left) setns(home, CLONE_NEWNET);
      for (int fd : {home, target}) close(fd);
    });
    checkCall(left, "cannot enter network namespace " + m_name);
    work();
  }

 private:
  std::string m_name;
};

}  // namespace usbink::test
