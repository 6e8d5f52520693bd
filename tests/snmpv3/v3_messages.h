// SNMPv3 messages written by the tests themselves, front to back and
// independently of the library's builder: agent answers (Reports and
// Responses, genuine or forged) and a small reader for taking built
// requests apart. tlv(), cat() and text() come from the v1 helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "snmp/v1_test_util.h"
#include "support/raw_responder.h"

namespace usbink::test {

struct VarBind {
  Bytes oid;                 // content octets
  unsigned char tag = 0x04;  // value tag
  Bytes value;               // value content
};

// An agent's answer (engine boots 1, time 100, request-id 1). Empty keys
// mean: no authentication code (empty msgAuthenticationParameters), no
// encryption (plaintext scoped PDU).
struct AgentAnswer {
  Bytes engineId{};
  std::optional<unsigned char> flags{};  // default: 0x01 with authKey, 0x02 with privKey
  Bytes authKey{};                       // localised, 16 bytes
  Bytes privKey{};                       // localised, 16 bytes
  int macLength = 12;                    // octets of the code actually sent
  Bytes privParams = Bytes{0, 0, 0, 1, 0, 0, 0, 7};
  std::optional<Bytes> contextEngineId{};  // default: engineId
  unsigned char pduTag = 0xA2;
  unsigned char errorStatus = 0;
  std::vector<VarBind> varBinds{};
  std::optional<Bytes> bindingList{};  // content of the binding list as is; replaces varBinds
};

Bytes agentAnswer(const AgentAnswer& answer);

// The Report an agent sends to an engine-discovery request.
Bytes discoveryReport(const Bytes& engineId);

// Localised key of a pass phrase for an engine ID.
Bytes localise(const std::string& passPhrase, const Bytes& engineId);

// Both keys of the system's USM user for an engine ID.
std::pair<Bytes, Bytes> userKeys(const Bytes& engineId);

// One element of a BER message as found by `children`.
struct Element {
  unsigned char tag;
  std::size_t start;    // offset of the tag
  std::size_t content;  // offset of the first content octet
  std::size_t end;      // offset after the content
};

// The elements that follow each other in `bytes` from `from` to `to`.
std::vector<Element> children(const Bytes& bytes, std::size_t from, std::size_t to);
inline std::vector<Element> childrenOf(const Bytes& bytes, const Element& e) {
  return children(bytes, e.content, e.end);
}

// The parts of a built SNMPv3 message.
struct V3Parts {
  Element msgData, flags;
  std::vector<Element> usm;  // engine ID, boots, time, user, auth, priv
};
V3Parts v3Parts(const Bytes& message);

// Printer agents played by a RawResponder: each answers a discovery request
// with its Report, and a real request naming its engine ID with the
// datagrams `respond` returns.
struct ScriptedAgent {
  Bytes engineId;
  std::function<std::vector<Bytes>(const Bytes& request)> respond;
};
RawResponder::Handler scriptedAgents(std::vector<ScriptedAgent> agents);

// A genuine authPriv answer of the agent `engineId` with these bindings,
// under the keys of the system's USM user: as a description to vary, and
// as the datagram.
AgentAnswer securedAgentAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds);
Bytes securedAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds);

}  // namespace usbink::test
