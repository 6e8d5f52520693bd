// A hand-made UDP "agent" on ADDRESS:161 for answers a real agent will not
// send: malformed, hostile, several, late or none.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace usbink::test {

using Bytes = std::vector<unsigned char>;

// Hex digits to bytes; any other character is skipped.
Bytes fromHex(const std::string& hex);
std::string toHex(const Bytes& bytes);

class RawResponder {
 public:
  // Answers each request with the datagrams `handler` returns (possibly
  // none), from `address`:161.
  using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;
  RawResponder(const std::string& address, Handler handler);
  // The same, but every answer leaves from `replyAddress`:161, where
  // requests are served as well: an agent that answers from another address.
  RawResponder(const std::string& address, const std::string& replyAddress, Handler handler);
  ~RawResponder();
  RawResponder(const RawResponder&) = delete;
  RawResponder& operator=(const RawResponder&) = delete;

  // Every request received so far, in order.
  std::vector<Bytes> requests() const;
  std::size_t requestCount() const;

 private:
  RawResponder(std::vector<std::string> addresses, Handler handler);
  void serve();

  std::vector<int> m_fds;  // the last one sends every answer
  Handler m_handler;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<Bytes> m_requests;
  std::thread m_thread;
};

}  // namespace usbink::test
