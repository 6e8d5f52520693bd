#include "support/raw_responder.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace usbink::test {

Bytes fromHex(const std::string& hex) {
  std::string digits;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  Bytes out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string toHex(const Bytes& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    out += "0123456789abcdef"[b >> 4];
    out += "0123456789abcdef"[b & 15];
  }
  return out;
}

RawResponder::RawResponder(const std::vector<std::string>& addresses, Handler handler)
    : m_handler(std::move(handler)) {
  for (const auto& address : addresses) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int on = 1;
    int fd = -1;
    const bool bound = getaddrinfo(address.c_str(), "161", &hints, &found) == 0 &&
                       (fd = socket(found->ai_family, SOCK_DGRAM, 0)) >= 0 &&
                       setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                       bind(fd, found->ai_addr, found->ai_addrlen) == 0;
    const std::string why = std::strerror(errno);
    if (found != nullptr) freeaddrinfo(found);
    if (fd >= 0) m_fds.push_back(fd);
    if (!bound) {
      for (int open : m_fds) close(open);
      throw std::runtime_error("raw responder cannot bind " + address + ": " + why);
    }
  }
  m_thread = std::thread([this] {
    std::vector<pollfd> polled;
    for (int fd : m_fds) polled.push_back({fd, POLLIN, 0});
    while (!m_stop) {
      if (poll(polled.data(), polled.size(), 20) <= 0) continue;
      for (const pollfd& p : polled) {
        if (!(p.revents & POLLIN)) continue;
        unsigned char buf[65536];
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        auto* peer = reinterpret_cast<sockaddr*>(&from);
        const ssize_t n = recvfrom(p.fd, buf, sizeof buf, 0, peer, &fromLen);
        if (n < 0) continue;
        const Bytes request(buf, buf + n);
        {
          std::lock_guard lock(m_mutex);
          m_requests.push_back(request);
        }
        for (const auto& answer : m_handler(request)) {
          sendto(m_fds.back(), answer.data(), answer.size(), 0, peer, fromLen);
        }
      }
    }
  });
}

RawResponder::~RawResponder() {
  m_stop = true;
  m_thread.join();
  for (int fd : m_fds) close(fd);
}

std::vector<Bytes> RawResponder::requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

}  // namespace usbink::test
