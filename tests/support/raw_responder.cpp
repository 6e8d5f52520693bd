#include "support/raw_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace usbink::test {

Bytes fromHex(const std::string& hex) {
  Bytes out;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    value = value * 16 + static_cast<unsigned>(v);
    if (++nibbles == 2) {
      out.push_back(static_cast<unsigned char>(value));
      nibbles = 0;
      value = 0;
    }
  }
  return out;
}

std::string toHex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

RawResponder::RawResponder(const std::string& address, Handler handler, unsigned short port)
    : m_handler(std::move(handler)) {
  sockaddr_storage ss{};
  socklen_t len;
  if (address.find(':') != std::string::npos) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    inet_pton(AF_INET6, address.c_str(), &a->sin6_addr);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a->sin_addr);
    len = sizeof *a;
  }
  m_fd = socket(ss.ss_family, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
    const std::string why = std::strerror(errno);
    if (m_fd >= 0) close(m_fd);
    throw std::runtime_error("raw responder cannot bind " + address + ": " + why);
  }
  m_thread = std::thread([this] { serve(); });
}

RawResponder::~RawResponder() {
  m_stop = true;
  m_thread.join();
  close(m_fd);
}

std::vector<Bytes> RawResponder::requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

std::size_t RawResponder::requestCount() const {
  std::lock_guard lock(m_mutex);
  return m_requests.size();
}

void RawResponder::serve() {
  while (!m_stop) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    unsigned char buf[65536];
    sockaddr_storage from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) continue;
    Bytes request(buf, buf + n);
    {
      std::lock_guard lock(m_mutex);
      m_requests.push_back(request);
    }
    for (const auto& answer : m_handler(request)) {
      sendto(m_fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
  }
}

}  // namespace usbink::test
