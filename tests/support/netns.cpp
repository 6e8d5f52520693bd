#include "support/netns.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/process.h"

namespace usbink::test {
namespace {

// Kept for the life of the process: the files the bind mounts show.
std::string g_etcDir;

// Network namespace identity.
ino_t namespaceInode(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 ? st.st_ino : 0;
}

// A file descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

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
  const Fd home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
  const Fd target(open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC));
  if (home.get() < 0 || target.get() < 0 || setns(target.get(), CLONE_NEWNET) != 0) {
    throw std::runtime_error("cannot enter network namespace " + m_name + ": " +
                             std::strerror(errno));
  }
  struct Return {
    int fd;
    ~Return() { setns(fd, CLONE_NEWNET); }
  } back{home.get()};
  work();
}

void enterPrivateNetwork(const std::vector<std::string>& ipv6Addresses) {
  if (unshare(CLONE_NEWNET) != 0) {
    throw std::runtime_error(std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno));
  }
  runChecked({"ip", "link", "set", "lo", "up"});
  // A dual-stack host: one address of each family besides loopback. The
  // default flags of getaddrinfo include AI_ADDRCONFIG, which otherwise
  // hides a family (a dotted IPv4 text then comes back as an IPv4-mapped
  // IPv6 address, or "::1" not at all), as on no ordinary host.
  runChecked({"ip", "addr", "add", std::string(kPrivateNetworkIPv4) + "/32", "dev", "lo"});
  runChecked({"ip", "-6", "addr", "add", std::string(kPrivateNetworkIPv6) + "/128", "dev", "lo",
              "nodad"});
  for (const auto& a : ipv6Addresses) {
    runChecked({"ip", "-6", "addr", "add", a + "/128", "dev", "lo", "nodad"});
  }
}

void usePrivateHosts(const std::string& hostsContent) {
  if (unshare(CLONE_NEWNS) != 0) {
    throw std::runtime_error(std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno));
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    throw std::runtime_error(std::string("make / private: ") + std::strerror(errno));
  }
  char templ[] = "/tmp/usbink-etc-XXXXXX";
  if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
  g_etcDir = templ;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_etcDir, ignored);
  });
  const struct {
    const char* name;
    std::string content;
  } files[] = {
      {"hosts", hostsContent},
      {"resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
      {"nsswitch.conf", "hosts: files dns\n"},
  };
  for (const auto& f : files) {
    const std::string source = g_etcDir + "/" + f.name;
    const std::string target = std::string("/etc/") + f.name;
    writeFile(source, f.content);
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      throw std::runtime_error("bind mount over " + target + ": " + std::strerror(errno));
    }
  }
}

}  // namespace usbink::test

namespace usbink::test {

int runInPrivateNetwork(int argc, char** argv, const std::vector<std::string>& ipv6Addresses) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!isRoot()) {
    std::fprintf(stderr, "these tests need root (network namespaces, UDP port 161)\n");
    return 1;
  }
  enterPrivateNetwork(ipv6Addresses);
  return RUN_ALL_TESTS();
}

}  // namespace usbink::test
