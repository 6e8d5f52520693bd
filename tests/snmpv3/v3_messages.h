// SNMPv3 agent answers (genuine or forged) and a reader for requests, apart from the library.
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

struct VarBind {  // the OID's content octets, the value's tag and content
  Bytes oid;
  unsigned char tag = 0x04;
  Bytes value{};
};

// An agent's answer (boots 1, time 100, request-id 1); empty keys: no MAC, plaintext PDU.
struct AgentAnswer {
  Bytes engineId{};
  std::optional<unsigned char> flags{};  // default: 0x01 with authKey, 0x02 with privKey
  Bytes authKey{}, privKey{};            // localised, 16 bytes
  int macLength = 12;                    // octets of the code actually sent
  Bytes privParams = Bytes{0, 0, 0, 1, 0, 0, 0, 7};
  std::optional<Bytes> contextEngineId{};  // default: engineId
  unsigned char pduTag = 0xA2;
  unsigned char errorStatus = 0;
  std::vector<VarBind> varBinds{};
  std::optional<Bytes> bindingList{};  // the binding list's content as is; replaces varBinds
  Bytes bootsElement = Bytes{0x02, 0x01, 0x01};  // the whole engine-boots element
};
Bytes agentAnswer(const AgentAnswer& answer);
Bytes localise(const std::string& passPhrase, const Bytes& engineId);
std::pair<Bytes, Bytes> userKeys(const Bytes& engineId);  // the USM user's auth and priv keys

// One element of a BER message: offsets of its tag, its content and its end.
struct Element {
  unsigned char tag;
  std::size_t start, content, end;
};
std::vector<Element> children(const Bytes& bytes, std::size_t from, std::size_t to);
inline std::vector<Element> childrenOf(const Bytes& bytes, const Element& e) {
  return children(bytes, e.content, e.end);
}
struct V3Parts {
  Element msgData, flags;
  std::vector<Element> usm;  // engine ID, boots, time, user, auth, priv
};
V3Parts v3Parts(const Bytes& message);

// Agents behind one RawResponder: each answers a discovery, and requests to its engine ID.
struct ScriptedAgent {
  Bytes engineId;
  std::function<std::vector<Bytes>(const Bytes& request)> respond;
};
RawResponder::Handler scriptedAgents(std::vector<ScriptedAgent> agents);

// A genuine authPriv answer of agent `engineId` under the USM user's keys.
AgentAnswer securedAgentAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds);
Bytes securedAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds);

}  // namespace usbink::test
