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
  Bytes out;
  std::string pair;
  for (char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
    pair += c;
    if (pair.size() == 2) {
      out.push_back(static_cast<unsigned char>(std::stoi(pair, nullptr, 16)));
      pair.clear();
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

// A UDP socket bound to `address`:161; throws when that fails.
int boundSocket(const std::string& address) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), "161", &hints, &found) != 0) {
    throw std::runtime_error("raw responder: not an address: " + address);
  }
  const int fd = socket(found->ai_family, SOCK_DGRAM, 0);
  const int on = 1;
  const bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                     bind(fd, found->ai_addr, found->ai_addrlen) == 0;
  const std::string why = std::strerror(errno);
  freeaddrinfo(found);
  if (!bound) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("raw responder cannot bind " + address + ": " + why);
  }
  return fd;
}

}  // namespace

RawResponder::RawResponder(const std::string& address, Handler handler)
    : RawResponder(std::vector{address}, std::move(handler)) {}

RawResponder::RawResponder(const std::string& address, const std::string& replyAddress,
                           Handler handler)
    : RawResponder(std::vector{address, replyAddress}, std::move(handler)) {}

RawResponder::RawResponder(std::vector<std::string> addresses, Handler handler)
    : m_handler(std::move(handler)) {
  try {
    for (const auto& a : addresses) m_fds.push_back(boundSocket(a));
  } catch (...) {
    for (int fd : m_fds) close(fd);
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
