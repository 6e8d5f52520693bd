// SNMPv3 answers taken apart: real agent captures, forged and malformed
// messages, and the security an answer must carry once its request was
// authenticated and encrypted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/process.h"
#include "usbink/netio.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

// Engine ID of the agents whose answers were captured into the fuzz corpus.
const Bytes kCapturedEngine = cat({fromHex("800002a204"), text("usbink-fuzz")});
const Bytes kEngine = fromHex("800002a2040a0b0c0d");
const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");

Bytes captured(const std::string& name) {
  return text(readFile(std::string(USBINK_SOURCE_DIR) + "/fuzz/corpus/fuzz_v3_response/" + name));
}

struct Delivered {
  unsigned char tag;
  std::string value;
};
std::vector<Delivered> g_delivered;

bool record(unsigned char*, int, unsigned char tag, unsigned char* value, int length) {
  g_delivered.push_back({tag, std::string(reinterpret_cast<char*>(value), length)});
  return true;
}

_SNMP_PARAM_V3 withoutKeys() {
  _SNMP_PARAM_V3 p{};
  p.valueCallback = record;
  return p;
}

_SNMP_PARAM_V3 withKeys(const Bytes& engine, bool privacy = true) {
  _SNMP_PARAM_V3 p = withoutKeys();
  const auto [auth, priv] = userKeys(engine);
  std::memcpy(p.authKey, auth.data(), kUsmKeySize);
  if (privacy) std::memcpy(p.privKey, priv.data(), kUsmKeySize);
  return p;
}

struct Outcome {
  int result;
  unsigned char errorStatus = 0xEE;
  _SNMP_PARAM_V3 params;
  Bytes data;  // the datagram after the parse
};

Outcome parse(Bytes message, _SNMP_PARAM_V3 params) {
  g_delivered.clear();
  Outcome o{0, 0xEE, params, {}};
  unsigned char errorIndex = 0;
  o.result = CNetIO::parseSnmpV3Response(message.data(), static_cast<int>(message.size()), nullptr,
                                         nullptr, &o.errorStatus, &errorIndex, &o.params);
  o.data = message;
  return o;
}

// A genuine authPriv answer of the agent with engine ID kEngine.
AgentAnswer genuine() {
  return securedAgentAnswer(kEngine, {{kDeviceIdOid, 0x04, text("MFG:Acme;STS:AAAA;")}});
}

TEST(V3Parser, RealAnswersOfSnmpdAndPysnmpAreAccepted) {
  for (const char* agent : {"snmpd", "pysnmp"}) {
    const std::string name(agent);
    const Outcome report = parse(captured(name + "_report"), withoutKeys());
    EXPECT_EQ(report.result, 1) << name;
    EXPECT_EQ(Bytes(report.params.engineID, report.params.engineID + report.params.engineIDLen),
              kCapturedEngine);
    ASSERT_EQ(g_delivered.size(), 1u);
    EXPECT_EQ(g_delivered[0].tag, 0x41);  // usmStatsUnknownEngineIDs counter

    const Outcome response = parse(captured(name + "_device_id"), withKeys(kCapturedEngine));
    EXPECT_EQ(response.result, 1) << name;
    EXPECT_EQ(response.errorStatus, 0);
    ASSERT_EQ(g_delivered.size(), 1u);
    EXPECT_EQ(g_delivered[0].value.substr(0, 20), "MFG:Acme;CMD:PCL;MDL");

    const Outcome three = parse(captured(name + "_three"), withKeys(kCapturedEngine));
    EXPECT_EQ(three.result, 1);
    ASSERT_EQ(g_delivered.size(), 3u);
    EXPECT_EQ(g_delivered[0].value, "Laser-Agent");
    EXPECT_EQ(g_delivered[1].value, "FW1.0");
    EXPECT_EQ(g_delivered[2].value, "MCU2.0");

    // A missing object comes back as noSuchObject (tag 80) with status 0.
    const Outcome missing = parse(captured(name + "_nosuchobject"), withKeys(kCapturedEngine));
    EXPECT_EQ(missing.result, 1);
    ASSERT_EQ(g_delivered.size(), 3u);
    EXPECT_EQ(g_delivered[1].tag, 0x80);
  }
}

TEST(V3Parser, GenuineAnswerIsVerifiedDecryptedAndItsCodeZeroed) {
  const Bytes message = agentAnswer(genuine());
  const Outcome o = parse(message, withKeys(kEngine));
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(g_delivered.size(), 1u);
  EXPECT_EQ(g_delivered[0].value, "MFG:Acme;STS:AAAA;");
  const V3Parts p = v3Parts(message);
  EXPECT_EQ(contentOf(o.data, p.usm[4]), Bytes(12, 0));
  EXPECT_EQ(o.params.engineBoots, 1u);
  EXPECT_EQ(o.params.engineTime, 100u);
}

// Once the request was authenticated and encrypted, only an answer that is
// authenticated over its full 12-octet code with the right key and
// encrypted is taken; anyone able to send a datagram could forge the rest.
TEST(V3Parser, AnswerToASecuredRequestMustBeAuthenticatedAndEncrypted) {
  struct Case {
    const char* what;
    AgentAnswer answer;
  };
  std::vector<Case> cases;
  {
    AgentAnswer a = genuine();
    a.authKey.clear();
    a.privKey.clear();
    cases.push_back({"plaintext without authentication", a});
  }
  {
    AgentAnswer a = genuine();
    a.authKey = localise("another pass phrase!", kEngine);
    cases.push_back({"code under another key", a});
  }
  {
    AgentAnswer a = genuine();
    a.privKey.clear();
    cases.push_back({"authenticated but in plaintext", a});
  }
  {
    AgentAnswer a = genuine();
    a.pduTag = 0xA8;
    a.privKey.clear();
    a.varBinds = {{fromHex("2b060106030f01010200"), 0x41, Bytes{1}}};
    cases.push_back({"authenticated Report (not in time window)", a});
  }
  for (const auto& c : cases) {
    const Outcome o = parse(agentAnswer(c.answer), withKeys(kEngine));
    EXPECT_EQ(o.result, 0) << c.what;
    EXPECT_TRUE(g_delivered.empty()) << c.what;
    // The engine fields are stored before the checks all the same.
    EXPECT_EQ(o.params.engineIDLen, static_cast<int>(kEngine.size())) << c.what;
  }
  // An exchange that asked for authentication only takes an authNoPriv answer.
  AgentAnswer authOnly = genuine();
  authOnly.privKey.clear();
  EXPECT_EQ(parse(agentAnswer(authOnly), withKeys(kEngine, false)).result, 1);
  EXPECT_EQ(parse(agentAnswer(genuine()), withKeys(kEngine)).result, 1);
}

TEST(V3Parser, StructuralChecksOfAnAnswerWithoutKeys) {
  struct Case {
    const char* what;
    Bytes message;
    int result;
    std::size_t callbacks;
  };
  AgentAnswer plain;
  plain.engineId = kEngine;
  plain.varBinds = {{kDeviceIdOid, 0x04, text("x")}};
  const auto variant = [&](auto change) {
    AgentAnswer a = plain;
    change(a);
    return agentAnswer(a);
  };
  Bytes bindings3 = variant([](AgentAnswer& a) {
    a.varBinds = {{Bytes{0x2b, 1}, 0x04, text("a")},
                  {Bytes{0x2b, 2}, 0x02, Bytes{7}},
                  {Bytes{0x2b, 3}, 0x05, {}}};
  });
  // A second binding that does not start with 30.
  Bytes badSecond = variant([](AgentAnswer& a) {
    a.varBinds = {{Bytes{0x2b, 1}, 0x04, text("a")}, {Bytes{0x2b, 2}, 0x04, text("b")}};
  });
  badSecond[badSecond.size() - 9] = 0x31;

  const std::vector<Case> cases = {
      {"plain answer", agentAnswer(plain), 1, 1},
      {"three bindings", bindings3, 1, 3},
      {"second binding without 30", badSecond, 0, 1},
      {"empty binding list", variant([](AgentAnswer& a) { a.varBinds.clear(); }), 1, 0},
      {"SetRequest tag", variant([](AgentAnswer& a) { a.pduTag = 0xA3; }), 1, 1},
      {"Report tag", variant([](AgentAnswer& a) { a.pduTag = 0xA8; }), 1, 1},
      {"GetRequest tag", variant([](AgentAnswer& a) { a.pduTag = 0xA0; }), 0, 0},
      {"empty context engine ID", variant([](AgentAnswer& a) { a.contextEngineId = Bytes{}; }), 0,
       0},
      {"other context engine ID",
       variant([](AgentAnswer& a) { a.contextEngineId = fromHex("800002a2040a0b0c0e"); }), 0, 0},
  };
  for (const auto& c : cases) {
    const Outcome o = parse(c.message, withoutKeys());
    EXPECT_EQ(o.result, c.result) << c.what;
    EXPECT_EQ(g_delivered.size(), c.callbacks) << c.what;
  }
}

TEST(V3Parser, ErrorStatusIsReportedAndTheAnswerStillAccepted) {
  AgentAnswer a = genuine();
  a.errorStatus = 2;
  const Outcome o = parse(agentAnswer(a), withKeys(kEngine));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.errorStatus, 2);
}

}  // namespace
}  // namespace usbink::test
