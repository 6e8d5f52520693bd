// Hostile GetResponses, derived from answers captured from real agents: every
// truncation, trailing octets, every value of every length octet, lengths
// past the datagram, oversize answers. Each is rejected or accepted with
// exactly the variables the agent sent; the sanitizer build proves that no
// parse reads outside the datagram.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/captured_answers.h"
#include "snmp/v1_test_util.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

struct Capture {
  const char* name;
  const char* hex;
};

const Capture kCaptures[] = {
    {"device ID", kDeviceIdAnswer},      {"long device ID", kLongDeviceIdAnswer},
    {"noSuchName", kNoSuchNameAnswer},   {"sysName", kSysNameAnswer},
    {"sysObjectID", kSysObjectIdAnswer},
};

const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");

struct LengthOctet {
  std::size_t offset;
  unsigned char tag;  // of the element whose length it belongs to
};

// Every length octet of a well-formed message, found by walking its
// elements (constructed ones recursively).
void collectLengthOctets(const Bytes& m, std::size_t pos, std::size_t end,
                         std::vector<LengthOctet>& out) {
  while (pos + 1 < end) {
    const unsigned char tag = m[pos];
    const unsigned char first = m[pos + 1];
    const std::size_t count = first < 0x80 ? 1 : 1 + (first & 0x7F);
    std::size_t length = first < 0x80 ? first : 0;
    for (std::size_t i = 1; i < count; ++i) length = length * 256 + m[pos + 1 + i];
    for (std::size_t i = 0; i < count; ++i) out.push_back({pos + 1 + i, tag});
    const std::size_t content = pos + 1 + count;
    if (tag & 0x20) collectLengthOctets(m, content, content + length, out);
    pos = content + length;
  }
}

std::vector<LengthOctet> lengthOctets(const Bytes& m) {
  std::vector<LengthOctet> out;
  collectLengthOctets(m, 0, m.size(), out);
  return out;
}

class HostileResponses : public ::testing::Test {
 protected:
  // The variables the unchanged answer carries.
  static std::vector<Received> variablesOf(const Bytes& answer) {
    Datagram d(answer);
    EXPECT_EQ(parseRecording(d), 1);
    return g_recorder.values;
  }

  // Runs the parser and every consumer over `bytes`. An accepted parse must
  // hand out `original` (or nothing, for a list whose length became 0 or
  // the lone 0x80), and every callback pointer must lie inside the datagram.
  // Returns the parser's result.
  int expectSafe(const Bytes& bytes, const std::vector<Received>& original,
                 const std::string& what) {
    Datagram d(bytes);
    const int result = parseRecording(d);
    EXPECT_TRUE(g_recorder.allInside) << what;
    const bool intact = result == 1 && g_recorder.values == original;
    if (result == 1) {
      EXPECT_TRUE(intact || g_recorder.values.empty()) << what;
    }

    char out[kRecvBufSize];
    EXPECT_EQ(CNetIO::parseForRecvBuf(d.data(), d.size(), out), result) << what;
    PRINTER_STATUS status;
    if (CNetIO::parseForDeviceId(d.data(), d.size(), &status)) {
      EXPECT_TRUE(intact) << what;
    }
    if (net.parseForOID(d.data(), d.size(), nullptr, 0) == 1) {
      EXPECT_TRUE(intact) << what;
    }
    return result;
  }

  void expectRejected(const Bytes& bytes, const std::string& what) {
    EXPECT_EQ(expectSafe(bytes, {}, what), 0) << what;
  }

  void SetUp() override {
    net.InitTargetOID("1.3.6.1.4.1.26266.886.1.1", "1.3.6.1.4.1.26266.886.1.1");
  }

  CNetIO net;
};

TEST_F(HostileResponses, EveryTruncationAndOneExtraOctetIsRejected) {
  for (const auto& c : kCaptures) {
    const Bytes answer = fromHex(c.hex);
    for (std::size_t n = 0; n < answer.size(); ++n) {
      expectRejected(Bytes(answer.begin(), answer.begin() + n),
                     std::string(c.name) + " cut to " + std::to_string(n));
    }
    for (unsigned char extra : {0x00, 0x30, 0xFF}) {
      expectRejected(cat({answer, {extra}}), std::string(c.name) + " + one octet");
    }
  }
}

// A changed OID length moves the boundary between the OID and the value;
// where the value's header then still ends exactly with the list, the
// agent's octets read, by the rules, as another well-formed variable. Any
// other accepted change must leave the agent's variables (or none) intact.
TEST_F(HostileResponses, EveryValueOfEveryLengthOctetIsSafe) {
  for (const auto& c : kCaptures) {
    const Bytes answer = fromHex(c.hex);
    const auto original = variablesOf(answer);
    for (const auto& octet : lengthOctets(answer)) {
      for (int v = 0; v < 256; ++v) {
        if (v == answer[octet.offset]) continue;
        Bytes changed = answer;
        changed[octet.offset] = static_cast<unsigned char>(v);
        const std::string what = std::string(c.name) + " octet " + std::to_string(octet.offset) +
                                 " = " + std::to_string(v);
        if (octet.tag == kBerObjectId) {
          Datagram d(changed);
          parseRecording(d);
          EXPECT_TRUE(g_recorder.allInside) << what;
        } else {
          expectSafe(changed, original, what);
        }
      }
    }
  }
}

struct Crafted {
  const char* what;
  Bytes bytes;
  int expected;  // parser result
};

TEST_F(HostileResponses, CraftedLengthFormsAreRejectedOrReadByTheRules) {
  const Bytes oid = tlv(kBerObjectId, kDeviceIdOid);
  const Bytes value = text("abc");
  auto withValueHeader = [&](const Bytes& header) {
    return v1Response(tlv(kBerSequence, cat({oid, header, value})));
  };
  const Bytes body =
      cat({tlv(kBerInteger, {0}), tlv(kBerOctetString, text("mirtal")),
           tlv(kPduGetResponse, cat({tlv(kBerInteger, {0}), tlv(kBerInteger, {0}),
                                     tlv(kBerInteger, {0}), tlv(kBerSequence, {})}))});
  const auto n = static_cast<unsigned char>(body.size());
  const Crafted cases[] = {
      {"empty datagram", {}, 0},
      {"message length in five octets", cat({{kBerSequence, 0x85, 0, 0, 0, 0, n}, body}), 0},
      {"message length in four octets", cat({{kBerSequence, 0x84, 0, 0, 0, n}, body}), 1},
      {"lone 0x80 as message length", cat({{kBerSequence, 0x80}, body}), 0},
      {"value length in five octets", withValueHeader({kBerOctetString, 0x85, 0, 0, 0, 0, 3}), 0},
      {"value length in two octets", withValueHeader({kBerOctetString, 0x82, 0, 3}), 1},
      {"lone 0x80 as value length", withValueHeader({kBerOctetString, 0x80}), 0},
      {"value length past the list", withValueHeader({kBerOctetString, 4}), 0},
      {"value length past the datagram",
       withValueHeader({kBerOctetString, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}), 0},
      {"lone 0x80 as varbind length",
       v1Response(cat({{kBerSequence, 0x80}, oid, tlv(kBerOctetString, value)})), 1},
      {"lone 0x80 as OID length",
       v1Response(tlv(kBerSequence,
                      cat({{kBerObjectId, 0x80}, kDeviceIdOid, tlv(kBerOctetString, value)}))),
       0},
  };
  for (const auto& c : cases) {
    Datagram d(c.bytes);
    EXPECT_EQ(parseRecording(d), c.expected) << c.what;
    EXPECT_TRUE(g_recorder.allInside) << c.what;
    if (c.expected == 1 && !g_recorder.values.empty()) {
      EXPECT_EQ(g_recorder.values[0].value, value) << c.what;
    }
  }
}

// An answer beyond the 4024-octet receive buffer arrives cut and is
// rejected; whole, its device ID is too long for the device-ID buffer and
// is refused rather than cut.
TEST_F(HostileResponses, OversizeAnswersAreRejectedOrRefused) {
  const std::string deviceId =
      "SN:" + std::string(kDeviceIdSize, 'x') + ";" + deviceIdWithToner(42);
  const Bytes whole = v1Response(varbind(kDeviceIdOid, kBerOctetString, text(deviceId)));
  ASSERT_GT(whole.size(), 4024u);
  expectRejected(Bytes(whole.begin(), whole.begin() + 4024), "cut to 4024 octets");

  Datagram d(whole);
  ASSERT_EQ(parseRecording(d), 1);
  PRINTER_STATUS status;
  EXPECT_FALSE(CNetIO::parseForDeviceId(d.data(), d.size(), &status));
  EXPECT_STREQ(g_deviceid, "");
  char out[kRecvBufSize];
  EXPECT_EQ(CNetIO::parseForRecvBuf(d.data(), d.size(), out), 1);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace usbink::test
