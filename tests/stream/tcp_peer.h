// Real TCP peers on loopback for the stream tests, and a way to run a call
// on a second thread, see it blocked in its wait, and collect its result
// without ever hanging the suite.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "support/process.h"

namespace usbink::test {

// A descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  int get() const { return m_fd; }
  void reset() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
};

// A TCP socket bound to an ephemeral port of `address` (an IPv4 or IPv6
// literal); it listens with `backlog` unless that is negative, so that a
// connect to it is refused.
class Listener {
 public:
  explicit Listener(const std::string& address = "127.0.0.1", int backlog = 16) {
    const bool v6 = address.find(':') != std::string::npos;
    auto* in4 = reinterpret_cast<sockaddr_in*>(&m_address);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&m_address);
    if (v6) {
      in6->sin6_family = AF_INET6;
      ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
      m_length = sizeof *in6;
    } else {
      in4->sin_family = AF_INET;
      ::inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
      m_length = sizeof *in4;
    }
    m_fd = Fd(::socket(m_address.ss_family, SOCK_STREAM, 0));
    const bool bound =
        ::bind(m_fd.get(), this->address(), m_length) == 0 &&
        ::getsockname(m_fd.get(), &reinterpret_cast<sockaddr&>(m_address), &m_length) == 0;
    EXPECT_TRUE(bound) << "bind to " << address;
    if (backlog >= 0) {
      EXPECT_EQ(::listen(m_fd.get(), backlog), 0);
    }
  }

  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&m_address); }
  int length() const { return static_cast<int>(m_length); }
  int port() const { return ntohs(reinterpret_cast<const sockaddr_in&>(m_address).sin_port); }

  // The next connection in the accept queue (waits for one).
  Fd accept() { return Fd(::accept(m_fd.get(), nullptr, nullptr)); }
  // Whether a connection waits in the accept queue, within `limit` ms.
  bool hasPending(int limit = 0) const {
    pollfd p{m_fd.get(), POLLIN, 0};
    return ::poll(&p, 1, limit) == 1;
  }

 private:
  Fd m_fd;
  sockaddr_storage m_address{};
  socklen_t m_length = 0;
};

// Every byte the peer sends until it ends the stream.
inline std::string receiveAll(int fd) {
  std::string all;
  char chunk[65536];
  ssize_t n;
  while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) all.append(chunk, static_cast<size_t>(n));
  return all;
}

inline bool sendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// A call running on a thread of its own, and that thread's id.
template <typename T>
struct Background {
  std::future<T> result;
  pid_t tid = 0;
};

template <typename Work>
auto startInBackground(Work work) {
  using T = decltype(work());
  std::promise<pid_t> started;
  std::future<pid_t> tid = started.get_future();
  std::packaged_task<T()> task(std::move(work));
  Background<T> background{task.get_future()};
  std::thread([task = std::move(task), started = std::move(started)]() mutable {
    started.set_value(::gettid());
    task();
  }).detach();
  background.tid = tid.get();
  return background;
}

// True once the thread is asleep inside select: the moment a wait has begun.
inline bool blockedInSelect(pid_t tid) {
  return waitFor([tid] {
    const std::string line = readFile("/proc/self/task/" + std::to_string(tid) + "/syscall");
    const long call = std::strtol(line.c_str(), nullptr, 10);
    return call == SYS_select || call == SYS_pselect6;
  });
}

// The background call's result. A call that does not end within the limit
// fails the test binary at once, rather than hanging the suite or leaving a
// thread behind that still uses the test's objects.
template <typename T>
T awaitResult(Background<T>& background, const char* what) {
  if (background.result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not end within 60 s\n", what);
    std::_Exit(1);
  }
  return background.result.get();
}

}  // namespace usbink::test
