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
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
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

namespace {

// A UDP socket bound to `address`:`port`; throws when that fails.
int boundSocket(const std::string& address, unsigned short port) {
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
  const int fd = socket(ss.ss_family, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
    const std::string why = std::strerror(errno);
    if (fd >= 0) close(fd);
    throw std::runtime_error("raw responder cannot bind " + address + ": " + why);
  }
  return fd;
}

}  // namespace

RawResponder::RawResponder(const std::string& address, Handler handler, unsigned short port)
    : m_fds{boundSocket(address, port)}, m_handler(std::move(handler)) {
  m_thread = std::thread([this] { serve(); });
}

RawResponder::RawResponder(const std::string& address, const std::string& replyAddress,
                           Handler handler, unsigned short port)
    : m_fds{boundSocket(address, port)}, m_handler(std::move(handler)) {
  try {
    m_fds.push_back(boundSocket(replyAddress, port));
  } catch (...) {
    close(m_fds.front());
    throw;
  }
  m_thread = std::thread([this] { serve(); });
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

std::size_t RawResponder::requestCount() const {
  std::lock_guard lock(m_mutex);
  return m_requests.size();
}

void RawResponder::serve() {
  std::vector<pollfd> polled;
  for (int fd : m_fds) polled.push_back({fd, POLLIN, 0});
  while (!m_stop) {
    if (poll(polled.data(), polled.size(), 20) <= 0) continue;
    for (const pollfd& p : polled) {
      if (!(p.revents & POLLIN)) continue;
      unsigned char buf[65536];
      sockaddr_storage from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n =
          recvfrom(p.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 0) continue;
      Bytes request(buf, buf + n);
      {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
      }
      for (const auto& answer : m_handler(request)) {
        sendto(m_fds.back(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
               fromLen);
      }
    }
  }
}

}  // namespace usbink::test
