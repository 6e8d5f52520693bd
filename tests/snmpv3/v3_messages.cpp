#include "v3_messages.h"

#include <stdexcept>

#include "snmpv3/credentials.h"
#include "usbink/usm.h"

namespace usbink::test {

std::vector<Element> children(const Bytes& bytes, std::size_t from, std::size_t to) {
  std::vector<Element> out;
  for (std::size_t at = from; at + 2 <= to;) {
    std::size_t p = at + 1, length = bytes[p++], count = length & 0x80 ? length & 0x7F : 0;
    if (count > 0) length = 0;
    for (; count > 0 && p < to; --count) length = length * 256 + bytes[p++];
    if (p + length > to) throw std::runtime_error("element runs past its parent");
    out.push_back({bytes[at], at, p, p + length});
    at = p + length;
  }
  return out;
}

V3Parts v3Parts(const Bytes& m) {
  const auto message = childrenOf(m, children(m, 0, m.size()).at(0));
  const auto usm = childrenOf(m, childrenOf(m, message.at(2)).at(0));
  return {message.at(3), childrenOf(m, message.at(1)).at(2), usm};
}

Bytes localise(const std::string& passPhrase, const Bytes& engineId) {
  Bytes key(kUsmKeySize), phrase = text(passPhrase);
  Password_to_Key_md5(phrase.data(), static_cast<unsigned>(phrase.size()), engineId.data(),
                      static_cast<unsigned>(engineId.size()), key.data());
  return key;
}

std::pair<Bytes, Bytes> userKeys(const Bytes& engineId) {
  const auto c = usmCredentials();
  return {localise(c.authPassword, engineId), localise(c.privPassword, engineId)};
}

Bytes agentAnswer(const AgentAnswer& a) {
  const auto integer = [](Bytes content) { return tlv(kBerInteger, content); };
  const auto octets = [](const Bytes& content) { return tlv(kBerOctetString, content); };
  Bytes list;
  for (const auto& vb : a.varBinds) list = cat({list, varbind(vb.oid, vb.tag, vb.value)});
  const Bytes pdu = tlv(a.pduTag, cat({integer({1}), integer({a.errorStatus}), integer({0}),
                                       tlv(kBerSequence, a.bindingList.value_or(list))}));
  Bytes msgData =
      tlv(kBerSequence, cat({octets(a.contextEngineId.value_or(a.engineId)), octets({}), pdu}));
  const bool auth = !a.authKey.empty(), priv = !a.privKey.empty();
  if (priv) {
    msgData.resize((msgData.size() + 7) / 8 * 8, 0);
    Bytes iv(8), cipher(msgData.size());
    for (int i = 0; i < 8; ++i) iv[i] = a.privKey[8 + i] ^ a.privParams[i];
    DesEncryption(a.privKey.data(), iv.data(), msgData.data(), msgData.size(), cipher.data(),
                  static_cast<int>(cipher.size()));
    msgData = octets(cipher);
  }
  const std::string user = auth ? usmCredentials().userName : "";
  const Bytes usm =
      tlv(kBerSequence,
          cat({octets(a.engineId), a.bootsElement, integer({100}), octets(text(user)),
               octets(Bytes(auth ? a.macLength : 0, 0)), octets(priv ? a.privParams : Bytes{})}));
  const unsigned char flags = a.flags.value_or((auth ? 0x01 : 0) | (priv ? 0x02 : 0));
  const Bytes global = tlv(kBerSequence, cat({integer({1}), integer({0x00, 0xFF, 0xE3}),
                                              tlv(kBerOctetString, {flags}), integer({3})}));
  Bytes message = tlv(kBerSequence, cat({integer({3}), global, octets(usm), msgData}));
  if (auth && a.macLength > 0) {
    Bytes key = a.authKey, k1(kUsmPadSize), k2(kUsmPadSize), mac(kUsmMacSize);
    AuthKey2K1K2(key.data(), k1.data(), k2.data());
    CalcuateAuthParams(message.data(), static_cast<unsigned>(message.size()), k1.data(), k2.data(),
                       mac.data());
    const Element field = v3Parts(message).usm.at(4);
    std::copy_n(mac.begin(), std::min(field.end - field.content, mac.size()),
                message.begin() + static_cast<long>(field.content));
  }
  return message;
}

RawResponder::Handler scriptedAgents(std::vector<ScriptedAgent> agents) {
  return [agents](const Bytes& request) {
    std::vector<Bytes> out;
    const V3Parts p = v3Parts(request);
    const Element& e = p.usm.at(0);
    const Bytes engine(request.begin() + long(e.content), request.begin() + long(e.end));
    for (const auto& agent : agents) {
      if ((request.at(p.flags.content) & 0x01) == 0) {  // a discovery: usmStatsUnknownEngineIDs.0
        out.push_back(agentAnswer({.engineId = agent.engineId,
                                   .pduTag = kPduReport,
                                   .varBinds = {{fromHex("2b060106030f01010400"), 0x41, {1}}}}));
      } else if (agent.engineId == engine) {
        for (auto& answer : agent.respond(request)) out.push_back(answer);
      }
    }
    return out;
  };
}

AgentAnswer securedAgentAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds) {
  const auto [auth, priv] = userKeys(engineId);
  return {.engineId = engineId, .authKey = auth, .privKey = priv, .varBinds = varBinds};
}

Bytes securedAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds) {
  return agentAnswer(securedAgentAnswer(engineId, varBinds));
}

}  // namespace usbink::test
