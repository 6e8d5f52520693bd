// Real TCP peers on loopback for the stream tests, and calls on a second
// thread seen blocked in their wait.
#pragma once

#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "support/process.h"

namespace usbink::test {

// A descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }
  int get() const { return m_fd; }
  void reset() {
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
  }

 private:
  int m_fd;
};

// A TCP socket on an ephemeral port of `address` (a numeric one), listening
// with `backlog`; a negative backlog leaves it refusing connects.
class Listener {
 public:
  explicit Listener(const std::string& address = "127.0.0.1", int backlog = 16) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(::getaddrinfo(address.c_str(), "0", &hints, &found), 0) << address;
    std::memcpy(&m_address, found->ai_addr, m_length = found->ai_addrlen);
    ::freeaddrinfo(found);
    m_fd = Fd(::socket(m_address.ss_family, SOCK_STREAM, 0));
    EXPECT_TRUE(::bind(m_fd.get(), this->address(), m_length) == 0 &&
                ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&m_address), &m_length) == 0)
        << "bind to " << address;
    EXPECT_TRUE(backlog < 0 || ::listen(m_fd.get(), backlog) == 0);
  }
  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&m_address); }
  int length() const { return static_cast<int>(m_length); }
  int port() const { return ntohs(reinterpret_cast<const sockaddr_in&>(m_address).sin_port); }
  Fd accept() { return Fd(::accept(m_fd.get(), nullptr, nullptr)); }
  bool hasPending() const {
    pollfd p{m_fd.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }

 private:
  Fd m_fd;
  sockaddr_storage m_address{};
  socklen_t m_length = 0;
};

inline bool sendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// True once a thread other than the caller sleeps in select.
inline bool blockedInSelect() {
  return waitFor([] {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      const long call = std::strtol(readFile(task.path() / "syscall").c_str(), nullptr, 10);
      if (call == SYS_select || call == SYS_pselect6) return true;
    }
    return false;
  });
}

// Runs `work` on a detached thread, whose future, unlike std::async's, does
// not wait for it on destruction.
template <typename Work>
auto startInBackground(Work work) {
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  std::thread(std::move(task)).detach();
  return result;
}

// The call's result; one that does not end within 60 s ends the binary
// rather than hang the suite or outlive the objects it uses.
template <typename T>
T awaitResult(std::future<T>& background, const char* what) {
  if (background.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not end within 60 s\n", what);
    std::_Exit(1);
  }
  return background.get();
}

}  // namespace usbink::test
