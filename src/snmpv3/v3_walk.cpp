#include "snmpv3/v3_walk.h"

#include <array>
#include <cstring>
#include <vector>

#include "snmp/ber_back_writer.h"
#include "snmpv3/usm_detail.h"
#include "usbink/usm.h"

namespace usbink {
namespace {

constexpr std::size_t kMaxUserName = 32;
constexpr std::size_t kMinPassPhrase = 8;
// usmStats (RFC 3414): the objects of the reports an agent sends when it
// turns a request down; the last subidentifier says why.
const Oid kUsmStats = *oidFromText("1.3.6.1.6.3.15.1.1");
constexpr int kReportNotInTimeWindow = 2;
// A request the agent reports outside its time window is sent again once
// with the boots and time that report carried.
constexpr int kTimeWindowRetries = 1;

int usmReport(const WalkAnswer& answer) {
  for (const Varbind& v : answer.varbinds) {
    if (inSubtree(v.oid, kUsmStats) && v.oid.size() > kUsmStats.size()) {
      return static_cast<int>(v.oid[kUsmStats.size()]);
    }
  }
  return 0;
}

std::string reportText(int report, const std::string& user) {
  switch (report) {
    case 1: return "the agent does not allow this security level for user " + user;
    case 2: return "the agent keeps putting the request outside its time window";
    case 3: return "the agent does not know the user " + user;
    case 4: return "the agent does not know the engine ID it was asked with";
    case 5: return "wrong authentication pass phrase for user " + user + " (wrong digest)";
    case 6: return "wrong privacy pass phrase for user " + user + " (decryption failed)";
    default: return "the agent turned the request down (report " + std::to_string(report) + ")";
  }
}

}  // namespace

std::string usmUserProblem(const UsmUser& user) {
  if (user.name.empty() || user.name.size() > kMaxUserName) {
    return "the user name must have 1 to 32 characters";
  }
  if (!user.privPassPhrase.empty() && user.authPassPhrase.empty()) {
    return "a privacy pass phrase needs an authentication pass phrase";
  }
  for (const std::string* p : {&user.authPassPhrase, &user.privPassPhrase}) {
    if (!p->empty() && p->size() < kMinPassPhrase) return "pass phrases need at least 8 characters";
  }
  return "";
}

UsmRequester::UsmRequester(UdpPeer& peer, UsmUser user, const WalkLimits& limits)
    : WalkRequester(limits), m_peer(peer), m_user(std::move(user)) {}

int UsmRequester::buildBulkRequest(const _SNMP_PARAM_V3& params, const UsmUser& user,
                                   int requestId, const Oid& after, int maxRepetitions,
                                   std::span<unsigned char> out) {
  if (out.size() < static_cast<std::size_t>(kV3WorkAreaSize)) return 0;
  // The scoped PDU: contextEngineID, an empty contextName, the GetBulk.
  std::array<unsigned char, kV3WorkAreaSize> work;
  BerBackWriter w(work);
  writeWalkPdu(w, requestId, after, maxRepetitions);
  w.shortOctetString(nullptr, 0);
  w.shortOctetString(params.engineID, static_cast<std::size_t>(params.engineIDLen));
  w.wrap(kBerSequence, 0);
  if (!w.ok()) return 0;
  std::array<unsigned char, kV3WorkAreaSize> scoped{};  // zero: the padding
  std::memcpy(scoped.data(), w.data(), static_cast<std::size_t>(w.size()));
  const bool auth = !user.authPassPhrase.empty();
  const bool priv = auth && !user.privPassPhrase.empty();
  return secureScopedPdu(params.engineID, params.engineIDLen, params.engineBoots,
                         params.engineTime, scoped, w.size(), user.name.c_str(),
                         auth ? user.authPassPhrase.c_str() : nullptr,
                         auth ? params.authKey : nullptr, priv ? params.privKey : nullptr,
                         out.data());
}

std::optional<WalkAnswer> UsmRequester::readAnswer(std::span<unsigned char> datagram,
                                                   _SNMP_PARAM_V3& params, int* report) {
  // The parser changes the datagram in place; a copy lets a rejected one be
  // read again for a report.
  const std::vector<unsigned char> copy(datagram.begin(), datagram.end());
  // The parser stores the engine fields of every message, even one it
  // refuses; only an accepted (authenticated) one may change them.
  const _SNMP_PARAM_V3 before = params;
  WalkAnswer answer;
  unsigned char requestId = 0, errorStatus = 0, errorIndex = 0;
  int accepted = 0;
  {
    VarbindCollector collector(&answer);
    params.valueCallback = VarbindCollector::callback();
    accepted = CNetIO::parseSnmpV3Response(datagram.data(), static_cast<int>(datagram.size()),
                                           nullptr, &requestId, &errorStatus, &errorIndex,
                                           &params);
    params.valueCallback = nullptr;
  }
  if (accepted != 0) {
    if (const int r = usmReport(answer); r != 0) {
      *report = r;
      return std::nullopt;
    }
    answer.requestId = requestId;
    answer.errorStatus = errorStatus;
    answer.errorIndex = errorIndex;
    return answer;
  }
  std::memcpy(params.engineID, before.engineID, sizeof params.engineID);
  params.engineIDLen = before.engineIDLen;
  params.engineBoots = before.engineBoots;
  params.engineTime = before.engineTime;
  // Reports of an unknown user or a wrong key come without authentication,
  // which the keyed parse refuses; read once more without keys, for the
  // report alone. Anyone could send such a report: all it can do is end
  // the walk, as dropping the answers could.
  _SNMP_PARAM_V3 plain{};
  WalkAnswer unkeyed;
  VarbindCollector collector(&unkeyed);
  plain.valueCallback = VarbindCollector::callback();
  std::vector<unsigned char> again(copy);
  if (CNetIO::parseSnmpV3Response(again.data(), static_cast<int>(again.size()), nullptr, nullptr,
                                  nullptr, nullptr, &plain) != 0) {
    *report = usmReport(unkeyed);
  }
  return std::nullopt;
}

bool UsmRequester::discoverEngine(WalkClock::time_point deadline) {
  std::array<unsigned char, kV3WorkAreaSize> request{};
  const int length = CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID,
                                                          request.data(), kV3WorkAreaSize);
  ++SNMPv3RequestID;
  ++SNMPv3MsgID;
  std::vector<unsigned char> datagram(kWalkDatagramMax);
  for (int attempt = 0; attempt < m_limits.attempts && WalkClock::now() < deadline; ++attempt) {
    if (length <= 0 || !m_peer.send({request.data(), static_cast<std::size_t>(length)})) break;
    const auto until = std::min(deadline, WalkClock::now() + m_limits.wait);
    for (ssize_t n; (n = m_peer.receive(datagram, until)) > 0;) {
      m_params = _SNMP_PARAM_V3{};
      if (CNetIO::parseSnmpV3Response(datagram.data(), static_cast<int>(n), nullptr, nullptr,
                                      nullptr, nullptr, &m_params) != 0 &&
          m_params.engineIDLen > 0) {
        const auto localise = [&](const std::string& passPhrase, unsigned char* key) {
          if (passPhrase.empty()) return;
          Password_to_Key_md5(reinterpret_cast<const unsigned char*>(passPhrase.data()),
                              static_cast<unsigned>(passPhrase.size()), m_params.engineID,
                              static_cast<unsigned>(m_params.engineIDLen), key);
        };
        localise(m_user.authPassPhrase, m_params.authKey);
        if (!m_user.authPassPhrase.empty()) localise(m_user.privPassPhrase, m_params.privKey);
        return true;
      }
    }
  }
  m_params = _SNMP_PARAM_V3{};
  return false;
}

std::optional<WalkAnswer> UsmRequester::ask(const Oid& after, WalkClock::time_point deadline) {
  if (!m_discovered && !(m_discovered = discoverEngine(deadline))) {
    m_failure = "no answer to SNMPv3 engine discovery (no SNMPv3 agent?)";
    return std::nullopt;
  }
  for (int round = 0; round <= kTimeWindowRetries; ++round) {
    int report = 0;
    bool abandon = false;
    auto answer = exchangeWalkRequest(
        m_peer, m_limits, deadline,
        [&](int id, std::span<unsigned char> out) {
          return buildBulkRequest(m_params, m_user, id, after, m_limits.maxRepetitions, out);
        },
        [&](std::span<unsigned char> datagram) {
          auto a = readAnswer(datagram, m_params, &report);
          abandon = report != 0;
          return a;
        },
        &abandon);
    if (answer) return answer;
    if (report == kReportNotInTimeWindow && round < kTimeWindowRetries) continue;
    if (report != 0) {
      m_refused = true;
      m_failure = reportText(report, m_user.name);
    } else {
      m_failure = "no authenticated answer (wrong user or pass phrases, or no SNMPv3 agent?)";
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace usbink
