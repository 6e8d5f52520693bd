#include "v3_messages.h"

#include <stdexcept>

#include "snmpv3/credentials.h"
#include "support/process.h"
#include "usbink/usm.h"

namespace usbink::test {

Bytes berInteger(std::uint32_t value) {
  Bytes content;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto octet = static_cast<unsigned char>(value >> shift);
    if (!content.empty() || octet != 0 || shift == 0) content.push_back(octet);
  }
  if (content[0] & 0x80) content.insert(content.begin(), 0x00);
  return tlv(0x02, content);
}

std::vector<Element> children(const Bytes& bytes, std::size_t from, std::size_t to) {
  std::vector<Element> out;
  std::size_t at = from;
  while (at + 2 <= to) {
    Element e{bytes[at], at, 0, 0};
    std::size_t p = at + 1;
    std::size_t length = bytes[p++];
    if (length & 0x80) {
      const std::size_t count = length & 0x7F;
      length = 0;
      for (std::size_t i = 0; i < count && p < to; ++i) length = length * 256 + bytes[p++];
    }
    e.content = p;
    e.end = p + length;
    if (e.end > to) throw std::runtime_error("element runs past its parent");
    out.push_back(e);
    at = e.end;
  }
  return out;
}

V3Parts v3Parts(const Bytes& m) {
  const auto top = children(m, 0, m.size());
  const auto message = childrenOf(m, top.at(0));
  V3Parts parts{message.at(1), message.at(2), message.at(3), {}, {}};
  parts.flags = childrenOf(m, parts.global).at(2);
  const auto usmSequence = childrenOf(m, parts.security).at(0);
  parts.usm = childrenOf(m, usmSequence);
  return parts;
}

Bytes localise(const std::string& passPhrase, const Bytes& engineId) {
  Bytes key(kUsmKeySize);
  Password_to_Key_md5(reinterpret_cast<const unsigned char*>(passPhrase.data()),
                      static_cast<unsigned>(passPhrase.size()), engineId.data(),
                      static_cast<unsigned>(engineId.size()), key.data());
  return key;
}

std::pair<Bytes, Bytes> userKeys(const Bytes& engineId) {
  const auto c = usmCredentials();
  return {localise(c.authPassword, engineId), localise(c.privPassword, engineId)};
}

Bytes agentAnswer(const AgentAnswer& a) {
  Bytes list;
  for (const auto& vb : a.varBinds) {
    const Bytes binding = tlv(0x30, cat({tlv(0x06, vb.oid), tlv(vb.tag, vb.value)}));
    list.insert(list.end(), binding.begin(), binding.end());
  }
  if (a.bindingList) list = *a.bindingList;
  const Bytes pdu = tlv(a.pduTag, cat({berInteger(a.requestId), berInteger(a.errorStatus),
                                       berInteger(0), tlv(0x30, list)}));
  const Bytes scoped =
      tlv(0x30, cat({tlv(0x04, a.contextEngineId.value_or(a.engineId)), tlv(0x04, {}), pdu}));
  const bool auth = !a.authKey.empty();
  const bool priv = !a.privKey.empty();
  const unsigned char flags =
      a.flags.value_or(static_cast<unsigned char>((auth ? 0x01 : 0) | (priv ? 0x02 : 0)));

  Bytes msgData = scoped;
  if (priv) {
    Bytes plain = scoped;
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    Bytes iv(8);
    for (int i = 0; i < 8; ++i) iv[i] = a.privKey[8 + i] ^ a.privParams[i];
    Bytes cipher(plain.size());
    DesEncryption(a.privKey.data(), iv.data(), plain.data(), plain.size(), cipher.data(),
                  static_cast<int>(cipher.size()));
    msgData = tlv(0x04, cipher);
  }
  const Bytes usm = tlv(
      0x30,
      cat({tlv(0x04, a.engineId), berInteger(a.boots), berInteger(a.time), tlv(0x04, text(a.user)),
           tlv(0x04, Bytes(auth ? a.macLength : 0, 0)), tlv(0x04, priv ? a.privParams : Bytes{})}));
  const Bytes global = tlv(
      0x30, cat({berInteger(a.requestId), berInteger(65507), tlv(0x04, {flags}), berInteger(3)}));
  Bytes message = tlv(0x30, cat({berInteger(3), global, tlv(0x04, usm), msgData}));
  if (auth && a.macLength > 0) {
    Bytes k1(kUsmPadSize), k2(kUsmPadSize), mac(kUsmMacSize);
    Bytes key = a.authKey;
    AuthKey2K1K2(key.data(), k1.data(), k2.data());
    CalcuateAuthParams(message.data(), static_cast<unsigned>(message.size()), k1.data(), k2.data(),
                       mac.data());
    const Element field = v3Parts(message).usm.at(4);
    for (std::size_t i = 0; i < field.end - field.content && i < mac.size(); ++i) {
      message[field.content + i] = mac[i];
    }
  }
  return message;
}

Bytes discoveryReport(const Bytes& engineId, std::uint32_t boots, std::uint32_t time) {
  AgentAnswer a;
  a.engineId = engineId;
  a.boots = boots;
  a.time = time;
  a.pduTag = 0xA8;
  a.varBinds = {{fromHex("2b060106030f01010400"), 0x41, Bytes{1}}};  // usmStatsUnknownEngineIDs.0
  return agentAnswer(a);
}

RawResponder::Handler scriptedAgents(std::vector<ScriptedAgent> agents) {
  return [agents](const Bytes& request) {
    std::vector<Bytes> out;
    const V3Parts p = v3Parts(request);
    const bool discovery = (request[p.flags.content] & 0x01) == 0;
    const Bytes engine = contentOf(request, p.usm.at(0));
    for (const auto& agent : agents) {
      if (discovery) {
        out.push_back(discoveryReport(agent.engineId));
      } else if (agent.engineId == engine) {
        for (auto& answer : agent.respond(request)) out.push_back(answer);
      }
    }
    return out;
  };
}

AgentAnswer securedAgentAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds) {
  const auto [auth, priv] = userKeys(engineId);
  AgentAnswer a;
  a.engineId = engineId;
  a.authKey = auth;
  a.privKey = priv;
  a.user = usmCredentials().userName;
  a.varBinds = varBinds;
  return a;
}

Bytes securedAnswer(const Bytes& engineId, const std::vector<VarBind>& varBinds) {
  return agentAnswer(securedAgentAnswer(engineId, varBinds));
}

std::string pysnmpCheck(const Bytes& message) {
  const auto c = usmCredentials();
  const auto r = run({USBINK_PYTHON, std::string(USBINK_SOURCE_DIR) + "/tests/harness/v3_check.py",
                      toHex(message), "--user", c.userName, "--auth", c.authPassword, "--priv",
                      c.privPassword});
  return r.out + r.err;
}

}  // namespace usbink::test
