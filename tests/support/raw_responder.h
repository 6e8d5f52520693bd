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

Bytes fromHex(const std::string& hex);  // any character but a hex digit is skipped
std::string toHex(const Bytes& bytes);

class RawResponder {
 public:
  // Answers each request with the datagrams `handler` returns (maybe none).
  using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;
  RawResponder(const std::string& address, Handler handler)
      : RawResponder(std::vector{address}, std::move(handler)) {}
  // Serves `replyAddress`:161 as well, and every answer leaves from there:
  // an agent that answers from another address.
  RawResponder(const std::string& address, const std::string& replyAddress, Handler handler)
      : RawResponder(std::vector{address, replyAddress}, std::move(handler)) {}
  ~RawResponder();
  RawResponder(const RawResponder&) = delete;
  RawResponder& operator=(const RawResponder&) = delete;

  std::vector<Bytes> requests() const;  // every request so far, in order
  std::size_t requestCount() const { return requests().size(); }

 private:
  RawResponder(const std::vector<std::string>& addresses, Handler handler);

  std::vector<int> m_fds;  // the last one sends every answer
  Handler m_handler;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<Bytes> m_requests;
  std::thread m_thread;
};

}  // namespace usbink::test
