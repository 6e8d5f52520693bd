#include "support/netns.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "support/process.h"

namespace usbink::test {
namespace {

ino_t namespaceInode(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 ? st.st_ino : 0;
}

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

bool isRoot() {
  return geteuid() == 0;
}

bool inPrivateNetwork() {
  return namespaceInode("/proc/thread-self/ns/net") != namespaceInode("/proc/1/ns/net");
}

void disableDuplicateAddressDetection(const std::string& namespaceName) {
  std::vector<std::string> argv;
  if (!namespaceName.empty()) argv = {"ip", "netns", "exec", namespaceName};
  argv.insert(argv.end(), {"sysctl", "-qw", "net.ipv6.conf.all.accept_dad=0",
                           "net.ipv6.conf.default.accept_dad=0"});
  runChecked(argv);
}

NamedNamespace::NamedNamespace(const std::string& prefix)
    : m_name(prefix + std::to_string(getpid())) {
  runChecked({"ip", "netns", "add", m_name});
}

NamedNamespace::~NamedNamespace() {
  run({"ip", "netns", "del", m_name});
}

void NamedNamespace::enter(const std::function<void()>& work) const {
  const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  const int error = errno;
  for (int fd : {target, entered ? -1 : home}) {
    if (fd >= 0) close(fd);
  }
  errno = error;
  if (!entered) fail("cannot enter network namespace " + m_name);
  struct Return {
    int fd;
    ~Return() {
      setns(fd, CLONE_NEWNET);
      close(fd);
    }
  } back{home};
  work();
}

void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses) {
  if (unshare(CLONE_NEWNET) != 0) fail("unshare(CLONE_NEWNET)");
  runChecked({"ip", "link", "set", "lo", "up"});
  // A dual-stack host: one address of each family besides loopback. The
  // default flags of getaddrinfo include AI_ADDRCONFIG, which otherwise
  // hides a family (a dotted IPv4 text then comes back as an IPv4-mapped
  // IPv6 address, or "::1" not at all), as on no ordinary host.
  runChecked({"ip", "addr", "add", "198.18.0.1/32", "dev", "lo"});
  runChecked({"ip", "-6", "addr", "add", "fd00:ffff::1/128", "dev", "lo", "nodad"});
  for (const auto& a : ipv6Addresses) {
    runChecked({"ip", "-6", "addr", "add", a + "/128", "dev", "lo", "nodad"});
  }
}

int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6Addresses) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!isRoot()) {
    std::fprintf(stderr, "these tests need root (network namespaces, UDP port 161)\n");
    return 1;
  }
  enterPrivateNetwork(ipv6Addresses);
  return RUN_ALL_TESTS();
}

void usePrivateHosts(const std::string& hostsContent) {
  if (unshare(CLONE_NEWNS) != 0) fail("unshare(CLONE_NEWNS)");
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("make / private");
  // Kept, with the files the bind mounts show, for the life of the process.
  static const TempDir etc("usbink-etc");
  const std::pair<const char*, std::string> files[] = {
      {"hosts", hostsContent},
      {"resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
      {"nsswitch.conf", "hosts: files dns\n"},
  };
  for (const auto& [name, content] : files) {
    const std::string source = etc.file(name), target = std::string("/etc/") + name;
    writeFile(source, content);
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      fail("bind mount over " + target);
    }
  }
}

}  // namespace usbink::test
