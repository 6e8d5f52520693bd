// A hand-made UDP "agent" on ADDRESS:161 for answers a real agent will not send.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace usbink::test {

using Bytes = std::vector<unsigned char>;

// Any character but a hex digit is skipped.
inline Bytes fromHex(std::string hex) {
  std::erase_if(hex, [](unsigned char c) { return !std::isxdigit(c); });
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string toHex(const Bytes& bytes) {
  std::string out;
  for (unsigned char b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

class RawResponder {
 public:
  // Answers each request with the datagrams `handler` returns (maybe none). With `replyAddress`
  // it serves that address:161 as well, and every answer leaves from there.
  using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;
  RawResponder(const std::string& address, Handler handler, const std::string& replyAddress = "")
      : m_handler(std::move(handler)) {
    std::vector<std::string> addresses{address};
    if (!replyAddress.empty()) addresses.push_back(replyAddress);
    for (const auto& at : addresses) {
      addrinfo hints{AI_NUMERICHOST, AF_UNSPEC, SOCK_DGRAM, 0, 0, nullptr, nullptr, nullptr},
          *found{};
      const int on = 1, fd = getaddrinfo(at.c_str(), "161", &hints, &found) == 0
                                 ? socket(found->ai_family, SOCK_DGRAM, 0)
                                 : -1;
      if (fd >= 0) m_fds.push_back(fd);
      const bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                         bind(fd, found->ai_addr, found->ai_addrlen) == 0;
      const std::string why = found ? std::strerror(errno) : "not a numeric address";
      if (found != nullptr) freeaddrinfo(found);
      if (bound) continue;
      for (int open : m_fds) close(open);
      throw std::runtime_error("raw responder cannot bind " + at + ": " + why);
    }
    m_thread = std::thread([this] {
      std::vector<pollfd> polled;
      for (int fd : m_fds) polled.push_back({fd, POLLIN, 0});
      for (unsigned char buf[65536]; !m_stop;) {
        if (poll(polled.data(), polled.size(), 20) <= 0) continue;
        for (const pollfd& p : polled) {
          sockaddr_storage from{};
          socklen_t fromLen = sizeof from;
          auto* peer = reinterpret_cast<sockaddr*>(&from);
          const ssize_t n = recvfrom(p.fd, buf, sizeof buf, MSG_DONTWAIT, peer, &fromLen);
          if (n < 0) continue;
          const Bytes request(buf, buf + n);
          std::unique_lock lock(m_mutex);
          m_requests.push_back(request);
          lock.unlock();
          for (const auto& answer : m_handler(request))
            sendto(m_fds.back(), answer.data(), answer.size(), 0, peer, fromLen);
        }
      }
    });
  }
  ~RawResponder() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_fds) close(fd);
  }
  std::vector<Bytes> requests() const {  // every request so far, in order
    std::lock_guard lock(m_mutex);
    return m_requests;
  }
  std::size_t requestCount() const { return requests().size(); }

 private:
  std::vector<int> m_fds;  // the last one sends every answer
  Handler m_handler;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<Bytes> m_requests;
  std::thread m_thread;
};

}  // namespace usbink::test
