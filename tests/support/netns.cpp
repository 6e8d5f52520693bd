#include "support/netns.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/process.h"

namespace usbink::test {
namespace {

ino_t inode(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 ? st.st_ino : 0;
}

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

bool isRoot() {
  return geteuid() == 0;
}

bool inPrivateNetwork() {
  return inode("/proc/thread-self/ns/net") != inode("/proc/1/ns/net");
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
  struct Fd {
    int fd;
    ~Fd() {
      if (fd >= 0) close(fd);
    }
  } home{open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)},
      target{open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC)};
  check(home.fd >= 0 && target.fd >= 0 && setns(target.fd, CLONE_NEWNET) == 0,
        "cannot enter network namespace " + m_name);
  struct Return {
    int fd;
    ~Return() { setns(fd, CLONE_NEWNET); }
  } back{home.fd};
  work();
}

void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses) {
  check(unshare(CLONE_NEWNET) == 0, "unshare(CLONE_NEWNET)");
  // A dual-stack host: one address of each family besides loopback, since
  // getaddrinfo's default AI_ADDRCONFIG otherwise hides a family.
  std::vector<std::vector<std::string>> commands = {
      {"ip", "link", "set", "lo", "up"},
      {"ip", "addr", "add", "198.18.0.1/32", "dev", "lo"},
      {"ip", "-6", "addr", "add", "fd00:ffff::1/128", "dev", "lo", "nodad"}};
  for (const auto& a : ipv6Addresses) {
    commands.push_back({"ip", "-6", "addr", "add", a + "/128", "dev", "lo", "nodad"});
  }
  for (const auto& command : commands) runChecked(command);
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
  check(unshare(CLONE_NEWNS) == 0, "unshare(CLONE_NEWNS)");
  check(mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "make / private");
  static const TempDir etc("usbink-etc");  // the mounted files, for the life of the process
  for (const auto& [name, content] : std::initializer_list<std::pair<std::string, std::string>>{
           {"hosts", hostsContent},
           {"resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
           {"nsswitch.conf", "hosts: files dns\n"}}) {
    writeFile(etc.file(name), content);
    check(mount(etc.file(name).c_str(), ("/etc/" + name).c_str(), nullptr, MS_BIND, nullptr) == 0,
          "bind mount over /etc/" + name);
  }
}

}  // namespace usbink::test
