// CSocket and CNetIO's connections against real TCP peers on loopback.
#include "usbink/socket.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>
#include <iterator>

#include "support/process.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

struct Fd {  // a descriptor that closes itself
  explicit Fd(int fd = -1) : fd(fd) {}
  Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Fd& operator=(Fd other) noexcept { return std::swap(fd, other.fd), *this; }
  ~Fd() { fd >= 0 && ::close(fd); }
  int fd;
};

// A TCP socket on an ephemeral port of numeric `address`; a negative backlog: not listening.
struct Listener {
  explicit Listener(const std::string& address = "127.0.0.1", int backlog = 16) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(::getaddrinfo(address.c_str(), "0", &hints, &found), 0) << address;
    std::memcpy(&storage, found->ai_addr, size = found->ai_addrlen);
    ::freeaddrinfo(found);
    fd = Fd(::socket(storage.ss_family, SOCK_STREAM, 0));
    EXPECT_TRUE(::bind(fd.fd, this->address(), size) == 0 &&
                ::getsockname(fd.fd, reinterpret_cast<sockaddr*>(&storage), &size) == 0 &&
                (backlog < 0 || ::listen(fd.fd, backlog) == 0))
        << address;
  }
  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int port() const { return ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port); }
  Fd accept() { return Fd(::accept(fd.fd, nullptr, nullptr)); }
  bool hasPending() const {
    pollfd p{fd.fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }
  Fd fd;
  sockaddr_storage storage{};
  socklen_t size = 0;
};

const auto sendAll = [](int fd, const std::string& bytes) {  // blocks until all is taken
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
};

bool blockedInSelect() {  // once a thread other than the caller sleeps in select
  return waitFor([] {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      const long call = std::strtol(readFile(task.path() / "syscall").c_str(), nullptr, 10);
      if (call == SYS_select || call == SYS_pselect6) return true;
    }
    return false;
  });
}

constexpr unsigned long kUntouched = 12345;
Fd connectTo(CSocket& s, Listener& listener) {  // returns the peer's end
  EXPECT_EQ(s.Open(listener.address()->sa_family, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(listener.address(), listener.size), 0);
  return listener.accept();
}

// More than the buffers hold, both ways; at the peer's end a read gets EPIPE, a write no SIGPIPE.
TEST(CSocketTransfer, MovesExactlyTheRequestedBytesThenSeesThePeersEnd) {
  std::string bytes(8 << 20, '\0'), in = bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  Listener listener;
  CSocket s;
  const auto fdsBefore = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  Fd peer = connectTo(s, listener);
  auto drained = std::async(std::launch::async, [&] {
    std::string got = bytes;
    return ::recv(peer.fd, got.data(), got.size(), MSG_WAITALL) == ssize_t(got.size()) &&
           got == bytes;
  });
  unsigned long done = kUntouched;
  EXPECT_EQ(s.Write(bytes.data(), bytes.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(drained.get());
  auto fed = std::async(std::launch::async, [&] { return sendAll(peer.fd, bytes + "12345"); });
  EXPECT_EQ(s.Read(in.data(), in.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(fed.get() && in == bytes);
  peer = Fd();
  EXPECT_EQ(s.Read(in.data(), 100, &done), EPIPE);
  EXPECT_EQ(in.substr(0, done), "12345");
  int result = 0;  // the first writes may be taken before the peer's reset arrives
  for (int i = 0; i < 20 && result == 0; ++i) result = s.Write(bytes.data(), 1 << 20, nullptr);
  EXPECT_TRUE(result == EPIPE || result == ECONNRESET) << result;
  s.Close();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), fdsBefore);
}

// Blocked connects and reads end on Cancel, destruction or Open; cancels stick until the next Open.
TEST(CSocketCancel, EndsABlockedConnectOrRead) {
  for (const bool connecting : {true, false}) {
    for (const std::string how : {"Cancel", "destruction", "Open"}) {
      SCOPED_TRACE(how + (connecting ? " connect" : " read"));
      Listener listener("127.0.0.1", connecting ? 0 : 16);
      auto s = std::make_unique<CSocket>();
      Fd peer(::socket(AF_INET, SOCK_STREAM, 0));
      if (connecting) {
        ASSERT_EQ(::connect(peer.fd, listener.address(), listener.size), 0);
        ASSERT_TRUE(waitFor([&] { return listener.hasPending(); }));
        ASSERT_EQ(s->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
      } else {
        peer = connectTo(*s, listener);
      }
      auto blocked = std::async(std::launch::async, [&listener, connecting, waiting = s.get()] {
        char in[10];
        unsigned long done = kUntouched;
        return connecting ? std::make_pair(waiting->Connect(listener.address(), listener.size), 0ul)
                          : std::make_pair(waiting->Read(in, sizeof in, &done), done);
      });
      ASSERT_TRUE(blockedInSelect());
      EXPECT_EQ(how == "destruction" ? (s.reset(), 0)
                : how == "Open"      ? s->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP)
                                     : s->Cancel(),
                0);
      EXPECT_EQ(blocked.get(), std::make_pair(ECANCELED, 0ul));
      EXPECT_TRUE(how == "destruction" || s->Valid());
      if (how != "Cancel" || connecting) continue;
      bool ready = false;
      char in[4];
      EXPECT_EQ(s->Select(SELECTMODE_BOTH, &ready), ECANCELED);
      EXPECT_EQ(s->Read(in, sizeof in, nullptr), ECANCELED);
      peer = connectTo(*s, listener);
      errno = EINTR;
      EXPECT_TRUE(s->Select(SELECTMODE_WRITE, &ready) == 0 && ready);
      ASSERT_TRUE(sendAll(peer.fd, "abcd"));
      EXPECT_EQ(s->Read(in, sizeof in, nullptr), 0);
    }
  }
}

// Closed sockets, null addresses, unknown modes and descriptors past the fd_set are refused.
TEST(CSocketRefusals, ClosedObjectsNullAddressesUnknownModesAndUnwatchableDescriptors) {
  Listener listener;
  CSocket never, closed, s, fresh;
  Fd peer = connectTo(closed, listener);
  closed.Close();
  char buffer[8] = {};
  bool ready = false;
  for (CSocket* c : {&never, &closed}) {
    unsigned long done = kUntouched;
    EXPECT_FALSE(c->Valid());
    EXPECT_EQ(c->Read(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(c->Write(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(done, kUntouched);
    EXPECT_EQ(c->Select(SELECTMODE_READ, &ready), -1);
    EXPECT_EQ(c->Connect(listener.address(), listener.size), -1);
  }
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(nullptr, listener.size), -1);
  EXPECT_EQ(s.Select(static_cast<SOCKETSELECTMODE>(3), &ready), EINVAL);
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  rlimit raised{std::max<rlim_t>(limit.rlim_cur, FD_SETSIZE + 16), limit.rlim_max};
  if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) GTEST_SKIP() << "descriptor limit too low";
  std::vector<Fd> taken;
  while (taken.empty() || taken.back().fd < FD_SETSIZE - 1)
    ASSERT_GE(taken.emplace_back(::dup(0)).fd, 0);
  EXPECT_EQ(fresh.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), EMFILE);
  EXPECT_FALSE(fresh.Valid());
  EXPECT_EQ(Fd(::dup(0)).fd, FD_SETSIZE);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Bytes both ways or the failure; -1 for other families, over 256 bytes and host names.
TEST(NetworkConnection, CarriesBytesOrConnectsNowhere) {
  const std::string fits(251, 'a'), fitsLog = "NetworkConnectV6=" + fits + "%en0\n";
  for (auto [server, v6Only, result, log] :
       {std::tuple<std::string, bool, int, const char*>{"127.0.0.1", false, 0, nullptr},
        {"::1", false, 0, nullptr},
        {"127.0.0.1", false, ECONNREFUSED, nullptr},
        {fits, true, -1, fitsLog.c_str()},
        {fits + "a", true, -1, ""},
        {"127.0.0.1", true, -1, "NetworkConnectV6=127.0.0.1%en0\n"}}) {
    SCOPED_TRACE(server.substr(0, 20) + " " + std::to_string(result));
    Listener listener(result == -1 ? "::" : server, result == ECONNREFUSED ? -1 : 16);
    CNetIO io;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(v6Only ? io.NetworkConnectV6(server.data(), listener.port())
                     : io.NetworkConnect(server.data(), listener.port()),
              result);
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(log == nullptr || logged == log) << logged;
    Fd peer = result == 0 ? listener.accept() : Fd();
    std::string name = "localhost";
    EXPECT_TRUE(result != 0 || io.NetworkConnect(name.data(), listener.port()) == -1);
    EXPECT_TRUE(result == ECONNREFUSED || !listener.hasPending());
    if (result != 0) continue;
    char bytes[6] = "hello";
    EXPECT_EQ(io.NetworkWrite(0, bytes, 5), 5u);
    ASSERT_EQ(::recv(peer.fd, bytes, 5, MSG_WAITALL), 5);
    ASSERT_TRUE(bytes == std::string("hello") && sendAll(peer.fd, "world"));
    EXPECT_EQ(io.NetworkRead(0, bytes, 5), 5u);
    EXPECT_STREQ(bytes, "world");
    io.NetworkClose(0);
    EXPECT_EQ(io.NetworkRead(0, bytes, 5) + io.NetworkWrite(0, bytes, 5), 0u);
    EXPECT_EQ(::recv(peer.fd, bytes, 5, 0), 0);  // the stream ended
  }
}

}  // namespace
}  // namespace usbink::test
