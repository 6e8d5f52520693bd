// GetBulk over SNMPv3 for a table walk, with the administrator's own USM
// user and pass phrases (HMAC-MD5-96, CBC-DES: the algorithms the library
// has). Engine discovery, the request's security and the answer's check and
// decryption go through the library's SNMPv3 builder, parser and key
// localisation; only the GetBulk PDU is written here.
#pragma once

#include <string>

#include "snmp/table_walk.h"
#include "usbink/netio.h"

namespace usbink {

struct UsmUser {
  std::string name;
  std::string authPassPhrase;  // empty: no authentication (and no privacy)
  std::string privPassPhrase;  // empty: no privacy
};

// RFC 3414: a user name of 1 to 32 octets; pass phrases of at least 8
// (net-snmp refuses shorter ones too, and they make weak keys). Returns
// what is wrong with `user` in words, or "" when it can be used.
std::string usmUserProblem(const UsmUser& user);

class UsmRequester : public WalkRequester {
 public:
  UsmRequester(UdpPeer& peer, UsmUser user, const WalkLimits& limits);
  SnmpVersion version() const override { return SnmpVersion::kV3; }
  std::optional<WalkAnswer> ask(const Oid& after, WalkClock::time_point deadline) override;
  std::string failure() const override { return m_failure; }
  bool refused() const override { return m_refused; }

  // Builds the authenticated (and encrypted) GetBulk for what follows
  // `after` with `requestId` into `out` for the engine in `params`, whose
  // keys must be localised; its length, or 0.
  static int buildBulkRequest(const _SNMP_PARAM_V3& params, const UsmUser& user, int requestId,
                              const Oid& after, int maxRepetitions, std::span<unsigned char> out);
  // Reads one datagram as an answer for `params` (the parser verifies and
  // decrypts in place). A report of the USM statistics (RFC 3414) comes
  // back in `report` as its last subidentifier (1 unsupported security
  // level, 2 not in time window, 3 unknown user, 4 unknown engine, 5 wrong
  // digest, 6 decryption error), and no answer.
  static std::optional<WalkAnswer> readAnswer(std::span<unsigned char> datagram,
                                              _SNMP_PARAM_V3& params, int* report);

 private:
  bool discoverEngine(WalkClock::time_point deadline);

  UdpPeer& m_peer;
  UsmUser m_user;
  _SNMP_PARAM_V3 m_params{};
  bool m_discovered = false;
  bool m_refused = false;
  std::string m_failure;
};

}  // namespace usbink
