// Hostile datagrams for both SNMP parsers, each in a heap block of its exact size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "snmp/captured_answers.h"
#include "snmp/v1_test_util.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

enum class Reader { kV1, kV3Discovery, kV3Secured, kV3AuthOnly };

const Bytes kEngine = cat({fromHex("800002a204"), text("usbink-fuzz")});
const auto kKeys = userKeys(kEngine);

using Values = std::vector<std::string>;
using Recorded = std::tuple<std::string, Reader, Bytes, Values>;

std::vector<Recorded> recordedAnswers() {
  const std::string deviceId = "MFG:Acme;CMD:PCL;MDL";
  const std::string sysObjectId = "\x2b\x06\x01\x04\x01\x81\xcd\x1a\x86\x76\x01\x01";
  std::vector<Recorded> out = {
      {"v1 device ID", Reader::kV1, capturedAnswer("device_id"), {deviceId}},
      {"v1 long ID", Reader::kV1, capturedAnswer("long_device_id"), {"MFG:Acme;CMD:PCL,PJL"}},
      {"v1 noSuchName", Reader::kV1, capturedAnswer("no_such_name"), {""}},
      {"v1 sysName", Reader::kV1, capturedAnswer("sys_name"), {"Laser-Agent"}},
      {"v1 sysObjectID", Reader::kV1, capturedAnswer("sys_object_id"), {sysObjectId}}};
  const std::string dir = std::string(USBINK_SOURCE_DIR) + "/fuzz/corpus/fuzz_v3_response/";
  for (const std::string agent : {"snmpd_", "pysnmp_"}) {
    const auto answer = [&](const std::string& name, Reader reader, Values values) {
      out.push_back({agent + name, reader, text(readFile(dir + agent + name)), values});
    };
    answer("report", Reader::kV3Discovery, {"\x01"});  // usmStatsUnknownEngineIDs
    answer("device_id", Reader::kV3Secured, {deviceId});
    answer("three", Reader::kV3Secured, {"Laser-Agent", "FW1.0", "MCU2.0"});
    answer("nosuchobject", Reader::kV3Secured, {"Laser-Agent", "", ""});
    answer("time_window", Reader::kV3Secured, {});
  }
  return out;
}

struct Parsed {
  int result = 0, engineIdLength = 0;
  std::vector<Received> values;
  bool inside = true, consumerHit = false;  // consumerHit: a v1 wrapper succeeded
};

Parsed parse(Reader reader, const Bytes& bytes) {
  Datagram d(bytes);
  Parsed p;
  if (reader == Reader::kV1) {
    p.result = parseRecording(d);
    static CNetIO net;
    net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.1");
    PRINTER_STATUS status;
    p.consumerHit = CNetIO::parseForDeviceId(d.data(), d.size(), &status) ||
                    net.parseForOID(d.data(), d.size(), nullptr, 0) == 1;
  } else {
    g_recorder.watch(d);
    _SNMP_PARAM_V3 params{};
    params.valueCallback = recordingCallback;
    if (reader != Reader::kV3Discovery) std::memcpy(params.authKey, kKeys.first.data(), 16);
    if (reader == Reader::kV3Secured) std::memcpy(params.privKey, kKeys.second.data(), 16);
    unsigned char errorStatus = 0, errorIndex = 0;
    p.result = CNetIO::parseSnmpV3Response(d.data(), d.size(), nullptr, nullptr, &errorStatus,
                                           &errorIndex, &params);
    p.engineIdLength = params.engineIDLen;
  }
  p.values = g_recorder.values;
  p.inside = g_recorder.allInside;
  return p;
}

using Octets = std::vector<std::pair<std::size_t, unsigned char>>;

void collectLengthOctets(const Bytes& m, std::size_t from, std::size_t to, Octets& out) {
  for (const Element& e : children(m, from, to)) {
    for (std::size_t i = e.start + 1; i < e.content; ++i) out.push_back({i, e.tag});
    if ((e.tag & 0x20) ||
        (e.tag == kBerOctetString && e.end > e.content && m[e.content] == kBerSequence)) {
      collectLengthOctets(m, e.content, e.end, out);
    }
  }
}

Bytes resigned(Bytes m, std::size_t offset) {
  std::memset(m.data() + offset, 0, kUsmMacSize);
  Bytes key = kKeys.first, k1(kUsmPadSize), k2(kUsmPadSize);
  AuthKey2K1K2(key.data(), k1.data(), k2.data());
  CalcuateAuthParams(m.data(), unsigned(m.size()), k1.data(), k2.data(), m.data() + offset);
  return m;
}

TEST(HostileAnswers, TruncationsAndLengthChangesOfRecordedAnswers) {
  for (const auto& [name, reader, whole, expected] : recordedAnswers()) {
    const std::size_t header = whole[1] < 0x80 ? 2 : 2 + (whole[1] & 0x7F);
    for (std::size_t n = 0; n < whole.size(); ++n) {
      const std::string what = name + " cut to " + std::to_string(n);
      const Parsed cut = parse(reader, Bytes(whole.begin(), whole.begin() + n));
      EXPECT_TRUE(cut.result == 0 && cut.inside && cut.engineIdLength == 0) << what;
      const Bytes inner(whole.begin() + std::min(header, n), whole.begin() + n);
      EXPECT_EQ(parse(reader, tlv(kBerSequence, inner)).result, 0) << what << ", re-wrapped";
    }
    EXPECT_EQ(parse(reader, cat({whole, {0x30}})).result, 0) << name << " + one octet";
    const Parsed original = parse(reader, whole);
    ASSERT_EQ(original.result, name.ends_with("time_window") ? 0 : 1) << name;
    Values values;
    for (const auto& v : original.values)
      values.emplace_back(v.value.begin(), v.value.begin() + std::min<long>(v.value.size(), 20));
    EXPECT_EQ(values, expected) << name;
    EXPECT_EQ(original.engineIdLength, reader == Reader::kV1 ? 0 : 16) << name;
    Octets octets;
    collectLengthOctets(whole, 0, whole.size(), octets);
    const bool secured = reader == Reader::kV3Secured;
    const std::size_t code = secured ? v3Parts(whole).usm.at(4).content : 0;
    for (const auto& [offset, tag] : octets) {
      for (int v = 0; v < 256; ++v) {
        Bytes changed = whole;
        changed[offset] = static_cast<unsigned char>(v);
        if (changed == whole) continue;
        const std::string what = name + " @" + std::to_string(offset) + "=" + std::to_string(v);
        if (secured) {
          EXPECT_EQ(parse(reader, changed).result, 0) << what;
          changed = resigned(changed, code);
        }
        const Parsed p = parse(reader, changed);
        EXPECT_TRUE(p.inside) << what;
        if (tag == kBerObjectId) continue;
        const bool intact = p.result == 1 && p.values == original.values;
        EXPECT_TRUE(p.result != 1 || intact || p.values.empty()) << what;
        EXPECT_TRUE(!p.consumerHit || intact) << what;
      }
    }
  }
}

struct Crafted {
  const char* what;
  Reader reader;
  Bytes bytes;
  int result, callbacks, engineIdLength = -1;  // engine ID length stored, unless -1
};

std::vector<Crafted> craftedCases() {
  const Bytes oid = tlv(kBerObjectId, kDeviceIdOid), abc = text("abc");
  const Bytes longForm = cat({oid, {kBerOctetString, 0x85, 0, 0, 0, 0, 3}, abc});
  const Bytes binding = tlv(kBerSequence, cat({oid, tlv(kBerOctetString, abc)}));
  const std::vector<VarBind> binds = {{kDeviceIdOid, kBerOctetString, abc}};
  const auto v3 = [&](AgentAnswer a) {
    if (a.engineId.empty()) a.engineId = kEngine;
    if (a.varBinds.empty()) a.varBinds = binds;
    return agentAnswer(a);
  };
  const auto secured = [&](auto change) {
    AgentAnswer a = securedAgentAnswer(kEngine, binds);
    change(a);
    return agentAnswer(a);
  };
  const auto code = [&](int n) { return secured([n](AgentAnswer& a) { a.macLength = n; }); };
  const auto salt = [&](int n) { return v3({.privKey = Bytes(16), .privParams = Bytes(n)}); };
  const auto encrypted = [&](const Bytes& msgData) {
    const Bytes head = v3({.flags = 0x03});
    const auto start = static_cast<long>(v3Parts(head).msgData.start);
    return tlv(kBerSequence, cat({Bytes(head.begin() + 2, head.begin() + start), msgData}));
  };
  const Bytes v1Empty = v1Response({}), v1Body(v1Empty.begin() + 1, v1Empty.end());
  const Bytes inPlaintext = secured([](AgentAnswer& a) { a.privKey.clear(); });
  const Reader v1 = Reader::kV1, bare = Reader::kV3Discovery, keyed = Reader::kV3Secured;
  return {{"message length in 5 octets", v1, cat({{0x30, 0x85, 0, 0, 0, 0}, v1Body}), 0, 0},
          {"message length in 4 octets", v1, cat({{0x30, 0x84, 0, 0, 0}, v1Body}), 1, 0},
          {"value length in 5 octets", v1, v1Response(tlv(kBerSequence, longForm)), 0, 0},
          {"Report tag", v1, v1Response(binding, kPduReport), 0, 0},
          {"empty binding list", v1, v1Empty, 1, 0},
          {"second item no SEQUENCE", v1, v1Response(cat({binding, {kBerOctetString, 0}})), 0, 1},
          {"engine ID of 32 octets", bare, v3({.engineId = Bytes(32, 1)}), 1, 1},
          {"engine ID of 33 octets", bare, v3({.engineId = Bytes(33, 1)}), 0, 0},
          {"genuine answer", keyed, secured([](AgentAnswer&) {}), 1, 1},
          {"error status 2", keyed, secured([](AgentAnswer& a) { a.errorStatus = 2; }), 1, 1},
          {"plaintext answer to a secured request", keyed, v3({}), 0, 0, 16},
          {"other key", keyed, secured([](AgentAnswer& a) { a.authKey = Bytes(16, 1); }), 0, 0, 16},
          {"authenticated, in plaintext", keyed, inPlaintext, 0, 0, 16},
          {"the same to an authNoPriv request", Reader::kV3AuthOnly, inPlaintext, 1, 1},
          {"code of 0 octets", keyed, code(0), 0, 0},
          {"code of 1 octet (the right one)", keyed, code(1), 0, 0},
          {"code of 13 octets", keyed, code(13), 0, 0},
          {"code of 13 octets, no keys", bare, code(13), 0, 0},
          {"engine boots missing", bare, v3({.bootsElement = {}}), 0, 0},
          {"engine boots an OCTET STRING", bare, v3({.bootsElement = {0x04, 0x01, 0x01}}), 0, 0},
          {"privacy parameters of 64 octets", bare, salt(64), 1, 1},
          {"privacy parameters of 65 octets", bare, salt(65), 0, 0},
          {"ciphertext of 60 octets", bare, encrypted(tlv(kBerOctetString, Bytes(60, 1))), 0, 0},
          {"ciphertext of 0 octets", bare, encrypted(tlv(kBerOctetString, {})), 0, 0},
          {"past the end", bare,
           v3({.bindingList = cat({binding, {0x30, 0x7F}, oid, {0x04, 0x7F}})}), 0, 1},
          {"v3 empty binding list", bare, v3({.bindingList = Bytes{}}), 1, 0},
          {"v3 GetRequest tag", bare, v3({.pduTag = kPduGetRequest}), 0, 0},
          {"v3 Report tag", bare, v3({.pduTag = kPduReport}), 1, 1},
          {"empty context engine ID", bare, v3({.contextEngineId = Bytes{}}), 0, 0},
          {"other context engine ID", bare, v3({.contextEngineId = Bytes(9, 1)}), 0, 0}};
}

TEST(HostileAnswers, CraftedLengthFormsAndFieldSizes) {
  for (const auto& c : craftedCases()) {
    const Parsed p = parse(c.reader, c.bytes);
    EXPECT_EQ(p.result, c.result) << c.what;
    EXPECT_EQ(int(p.values.size()), c.callbacks) << c.what;
    EXPECT_TRUE(p.inside) << c.what;
    EXPECT_TRUE(c.engineIdLength < 0 || p.engineIdLength == c.engineIdLength) << c.what;
    for (const auto& v : p.values) EXPECT_EQ(v.oid, kDeviceIdOid) << c.what;
  }
}

}  // namespace
}  // namespace usbink::test
