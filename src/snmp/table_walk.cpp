#include "snmp/table_walk.h"

#include <netdb.h>
#include <poll.h>

#include <cstring>

namespace usbink {
namespace {

constexpr int kLastWalkRequestId = 127;
constexpr int kErrorTooBig = 1;
constexpr int kErrorGenErr = 5;

const char* errorStatusName(int status) {
  // RFC 3416 error-status values.
  static constexpr const char* kNames[] = {
      "noError",    "tooBig",          "noSuchName",        "badValue",         "readOnly",
      "genErr",     "noAccess",        "wrongType",         "wrongLength",      "wrongEncoding",
      "wrongValue", "noCreation",      "inconsistentValue", "resourceUnavailable",
      "commitFailed", "undoFailed",    "authorizationError", "notWritable",     "inconsistentName"};
  return status >= 0 && status < static_cast<int>(std::size(kNames)) ? kNames[status] : "unknown";
}

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    const auto& x = reinterpret_cast<const sockaddr_in&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in&>(b);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
  const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
  return x.sin6_port == y.sin6_port &&
         std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
}

}  // namespace

SubtreeWalk::SubtreeWalk(Oid root, std::size_t maxValues)
    : m_root(std::move(root)), m_cursor(m_root), m_maxValues(maxValues) {}

void SubtreeWalk::stop(WalkEnd why, std::string message) {
  if (!running()) return;
  m_end = why;
  m_message = std::move(message);
}

void SubtreeWalk::take(const WalkAnswer& answer, SnmpVersion version) {
  if (!running()) return;
  if (answer.errorStatus != 0) {
    // A v1 agent answers a GetNext past its last object with noSuchName.
    if (version == SnmpVersion::kV1 && answer.errorStatus == kErrorNoSuchName) {
      m_end = WalkEnd::kComplete;
      return;
    }
    stop(WalkEnd::kErrorStatus, "the agent answered error status " +
                                    std::to_string(answer.errorStatus) + " (" +
                                    errorStatusName(answer.errorStatus) + ") after " +
                                    oidText(m_cursor));
    return;
  }
  if (answer.malformedBinding) {
    stop(WalkEnd::kMalformed, "the agent answered an object name that does not decode after " +
                                  oidText(m_cursor));
    return;
  }
  if (answer.varbinds.empty()) {
    stop(WalkEnd::kMalformed, "the agent answered no values after " + oidText(m_cursor));
    return;
  }
  for (const Varbind& v : answer.varbinds) {
    // The v2c exceptions: no further object (endOfMibView), or, from an
    // agent that should not send them here, nothing under that name; both
    // end the subtree rather than count as values.
    if (v.type == kEndOfMibView || v.type == kNoSuchObject || v.type == kNoSuchInstance ||
        !inSubtree(v.oid, m_root)) {
      m_end = WalkEnd::kComplete;
      return;
    }
    if (!(v.oid > m_cursor)) {
      stop(WalkEnd::kLoop, "the agent answered " + oidText(v.oid) + " after " +
                               oidText(m_cursor) + ", which does not go forward");
      return;
    }
    if (m_values.size() >= m_maxValues) {
      stop(WalkEnd::kValueCap, "more than " + std::to_string(m_maxValues) + " values under " +
                                   oidText(m_root));
      return;
    }
    m_values.push_back(v);
    m_cursor = v.oid;
  }
}

bool UdpPeer::open(const std::string& address) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(address.c_str(), std::to_string(kSnmpPort).c_str(), &hints, &list) != 0) {
    return false;
  }
  std::memcpy(&m_peer, list->ai_addr, list->ai_addrlen);
  m_peerLength = list->ai_addrlen;
  const int family = list->ai_family;
  ::freeaddrinfo(list);
  m_socket = UdpSocket(family);
  return m_socket.valid();
}

bool UdpPeer::send(std::span<const unsigned char> datagram) {
  return m_socket.sendTo(datagram.data(), datagram.size(), reinterpret_cast<sockaddr*>(&m_peer),
                         m_peerLength) == static_cast<ssize_t>(datagram.size());
}

ssize_t UdpPeer::receive(std::span<unsigned char> buffer, WalkClock::time_point until) {
  for (;;) {
    // Rounded up, so that a wait that ends without a datagram ends at
    // `until` or later, never just before it.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - WalkClock::now()).count();
    if (left <= 0) return -1;
    pollfd p{m_socket.fd(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return -1;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = m_socket.receiveFrom(buffer.data(), buffer.size(),
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n > 0 && sameAddress(from, m_peer)) return n;
  }
}

int nextWalkRequestId() {
  static int id = 0;
  id = id % kLastWalkRequestId + 1;
  return id;
}

std::optional<WalkAnswer> exchangeWalkRequest(
    UdpPeer& peer, const WalkLimits& limits, WalkClock::time_point deadline,
    const std::function<int(int, std::span<unsigned char>)>& build,
    const std::function<std::optional<WalkAnswer>(std::span<unsigned char>)>& read,
    const bool* abandon) {
  std::vector<unsigned char> request(kWalkDatagramMax), datagram(kWalkDatagramMax);
  for (int attempt = 0; attempt < limits.attempts && WalkClock::now() < deadline; ++attempt) {
    const int id = nextWalkRequestId();
    const int length = build(id, request);
    if (length <= 0 || !peer.send({request.data(), static_cast<std::size_t>(length)})) {
      return std::nullopt;
    }
    const auto until = std::min(deadline, WalkClock::now() + limits.wait);
    for (ssize_t n; (n = peer.receive(datagram, until)) > 0;) {
      auto answer = read({datagram.data(), static_cast<std::size_t>(n)});
      if (answer && answer->requestId == id) return answer;
      if (abandon != nullptr && *abandon) return std::nullopt;
    }
  }
  return std::nullopt;
}

CommunityRequester::CommunityRequester(UdpPeer& peer, SnmpVersion version, std::string community,
                                       const WalkLimits& limits)
    : WalkRequester(limits), m_peer(peer), m_version(version), m_community(std::move(community)) {}

std::optional<WalkAnswer> CommunityRequester::ask(const Oid& after,
                                                  WalkClock::time_point deadline) {
  return exchangeWalkRequest(
      m_peer, m_limits, deadline,
      [&](int id, std::span<unsigned char> out) {
        return buildCommunityWalkRequest(m_version, m_community, id, after,
                                         m_limits.maxRepetitions, out);
      },
      [&](std::span<unsigned char> datagram) { return readCommunityAnswer(datagram, m_version); });
}

std::string CommunityRequester::failure() const {
  return "no answer (wrong community, or no SNMP " +
         std::string(m_version == SnmpVersion::kV1 ? "v1" : "v2c") + " agent?)";
}

void runWalk(WalkRequester& requester, SubtreeWalk& walk, WalkClock::time_point deadline) {
  while (walk.running()) {
    if (WalkClock::now() >= deadline) {
      walk.stop(WalkEnd::kTimeBudget, "the time budget ran out under " + oidText(walk.root()));
      return;
    }
    const auto answer = requester.ask(walk.cursor(), deadline);
    if (!answer) {
      // Out of time after the agent answered something: the budget; out
      // of time without a single answer: no answer.
      const bool answered = walk.cursor() != walk.root();
      if (WalkClock::now() >= deadline && !requester.refused() && answered) {
        walk.stop(WalkEnd::kTimeBudget, "the time budget ran out under " + oidText(walk.root()));
      } else {
        walk.stop(requester.refused() ? WalkEnd::kRefused : WalkEnd::kNoAnswer,
                  requester.failure());
      }
      return;
    }
    const bool tooBig = answer->errorStatus == kErrorTooBig || answer->errorStatus == kErrorGenErr;
    if (tooBig && requester.version() != SnmpVersion::kV1 && requester.reduceBulk()) continue;
    walk.take(*answer, requester.version());
  }
}

}  // namespace usbink
