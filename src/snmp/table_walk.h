// A walk of one subtree of an agent's MIB: GetNext or GetBulk requests,
// each asking for what follows the last object read, until the agent
// answers an object outside the subtree. A walk ends cleanly, keeping what
// it read, when the agent goes in a loop, answers an error status, sends
// more values than the cap, or the time budget runs out.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "snmp/udp.h"
#include "snmp/walk_message.h"

namespace usbink {

using WalkClock = std::chrono::steady_clock;

enum class WalkEnd {
  kRunning,
  kComplete,     // the agent answered past the subtree, or its end
  kLoop,         // an object that does not follow the one before
  kErrorStatus,  // an error status other than a v1 agent's end of MIB
  kValueCap,     // more values than WalkLimits::maxValues
  kTimeBudget,   // WalkLimits::budget ran out between answers
  kNoAnswer,     // no answer to a request, after every attempt
  kMalformed,    // an answer without values, or with an undecodable name
  kRefused,      // the agent refused the request (SNMPv3 reports)
};

struct WalkLimits {
  // The whole walk (every subtree) ends within this time.
  std::chrono::milliseconds budget{10000};
  // How long each request waits for its answer, and how often it is sent.
  std::chrono::milliseconds wait{1000};
  int attempts = 3;
  // Values kept per subtree: far above any printer's supplies (a table of
  // 9 columns gives 9 values per supply), low enough that an agent
  // inventing objects forever is stopped within a few hundred requests.
  std::size_t maxValues = 4096;
  // Values asked per GetBulk request (a four-colour table of 9 columns in
  // one answer); 0 asks with GetNext.
  int maxRepetitions = 64;
};

// The state of one subtree's walk, fed the agent's answers in order.
class SubtreeWalk {
 public:
  SubtreeWalk(Oid root, std::size_t maxValues);

  const Oid& root() const { return m_root; }
  // The object the next request asks to follow.
  const Oid& cursor() const { return m_cursor; }
  bool running() const { return m_end == WalkEnd::kRunning; }
  WalkEnd end() const { return m_end; }
  // Why the walk stopped early; empty for a complete walk.
  const std::string& message() const { return m_message; }
  const std::vector<Varbind>& values() const { return m_values; }

  // Takes the answer to a request for what follows cursor(), from an
  // agent of `version`.
  void take(const WalkAnswer& answer, SnmpVersion version);
  void stop(WalkEnd why, std::string message);

 private:
  Oid m_root;
  Oid m_cursor;
  std::size_t m_maxValues;
  std::vector<Varbind> m_values;
  WalkEnd m_end = WalkEnd::kRunning;
  std::string m_message;
};

// The UDP side of a walk: one agent at a numeric address, port 161.
class UdpPeer {
 public:
  // False for a text that is not a numeric IPv4 or IPv6 address.
  bool open(const std::string& address);
  bool send(std::span<const unsigned char> datagram);
  // The next datagram from the agent's address and port into `buffer`, or
  // -1 when none came before `until`. Datagrams from elsewhere are dropped.
  ssize_t receive(std::span<unsigned char> buffer, WalkClock::time_point until);

 private:
  UdpSocket m_socket;
  sockaddr_storage m_peer{};
  socklen_t m_peerLength = 0;
};

// Sends walk requests and returns their answers; one per protocol.
class WalkRequester {
 public:
  virtual ~WalkRequester() = default;
  virtual SnmpVersion version() const = 0;
  // The answer to a request for what follows `after`, or nullopt when none
  // came, after every attempt, before `deadline`; then failure() says why
  // in words (and refused() whether the agent turned the request down).
  virtual std::optional<WalkAnswer> ask(const Oid& after, WalkClock::time_point deadline) = 0;
  virtual std::string failure() const = 0;
  virtual bool refused() const { return false; }
  // Halves the GetBulk repetitions; false when there is nothing to halve.
  bool reduceBulk() {
    if (m_limits.maxRepetitions <= 1) return false;
    m_limits.maxRepetitions /= 2;
    return true;
  }

 protected:
  explicit WalkRequester(const WalkLimits& limits) : m_limits(limits) {}
  WalkLimits m_limits;
};

// Request-ids stay in 1..127: the one-octet INTEGER that every parser of
// the library hands out whole.
int nextWalkRequestId();

// Sends `build`'s request (given a fresh request-id) up to `limits.attempts`
// times, each waiting `limits.wait`, and returns the first datagram that
// `read` turns into an answer with that request-id; `read` may return
// nullopt for a datagram that is no answer, and set `*abandon` (when given)
// to give up at once. Stops at `deadline`.
std::optional<WalkAnswer> exchangeWalkRequest(
    UdpPeer& peer, const WalkLimits& limits, WalkClock::time_point deadline,
    const std::function<int(int requestId, std::span<unsigned char> out)>& build,
    const std::function<std::optional<WalkAnswer>(std::span<unsigned char>)>& read,
    const bool* abandon = nullptr);

// SNMP v1 (GetNext) and v2c (GetBulk, or GetNext with maxRepetitions 0)
// with a community.
class CommunityRequester : public WalkRequester {
 public:
  CommunityRequester(UdpPeer& peer, SnmpVersion version, std::string community,
                     const WalkLimits& limits);
  SnmpVersion version() const override { return m_version; }
  std::optional<WalkAnswer> ask(const Oid& after, WalkClock::time_point deadline) override;
  std::string failure() const override;

 private:
  UdpPeer& m_peer;
  SnmpVersion m_version;
  std::string m_community;
};

// Walks `walk` to its end with `requester`, within `deadline`. A GetBulk
// answered with tooBig or genErr (what snmpd answers when the values would
// not fit the message size an SNMPv3 request allows) is asked again with
// half the repetitions.
void runWalk(WalkRequester& requester, SubtreeWalk& walk, WalkClock::time_point deadline);

// The largest datagram a walk receives (the UDP maximum).
inline constexpr std::size_t kWalkDatagramMax = 65535;

}  // namespace usbink
