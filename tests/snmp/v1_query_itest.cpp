// The SNMP v1 single-value queries against real snmpd and pysnmp agents over
// IPv4 and IPv6, and against a raw responder for what they send and for
// answers no real agent gives.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "snmp/v1_itest_main.h"
#include "snmp/v1_test_util.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

constexpr char kHosts[] =
    "127.0.0.1 localhost\n"
    "127.0.6.9 printer4\n"
    "fd00:6::9 printer6\n";

const Bytes kSysNameOid = fromHex("2b06010201010500");
// The printer-name request: community "mirtal", request-id 0, sysName.0.
const Bytes kSysNameRequest = fromHex(
    "30260201000406"
    "6d697274616c"
    "a019020100020100020100300e300c06082b060102010105000500");

using Query = int (CNetIO::*)(const char*, unsigned char, char*, int);

struct Expected {
  Query query;
  const char* name;
  std::string value;
};

AgentConfig printer(const std::string& address4, const std::string& address6,
                    const std::string& tag) {
  AgentConfig c;
  c.address4 = address4;
  c.address6 = address6;
  c.sysName = tag + "-printer";
  c.fwVersion = "FW-" + tag;
  c.mcuVersion = "MCU-" + tag;
  return c;
}

std::vector<Expected> valuesOf(const AgentConfig& c) {
  return {{&CNetIO::TavrenNetworkGetPrinterName, "name", c.sysName},
          {&CNetIO::TavrenNetworkGetFwVersion, "firmware", c.fwVersion},
          {&CNetIO::TavrenNetworkGetFwMCUVersion, "controller", c.mcuVersion}};
}

struct Answer {
  int result;
  std::string value;
};

Answer ask(Query query, const char* address) {
  CNetIO net;
  std::array<char, 256> out{};
  out.fill('?');
  const int result = (net.*query)(address, 0, out.data(), static_cast<int>(out.size()));
  return {result, result == 0 ? std::string(out.data()) : ""};
}

RawResponder::Handler answering(Bytes answer) {
  return [answer](const Bytes&) { return std::vector<Bytes>{answer}; };
}

RawResponder::Handler silent() {
  return [](const Bytes&) { return std::vector<Bytes>{}; };
}

TEST(Queries, ReadEachValueFromSnmpdAndPysnmpOverBothFamilies) {
  const AgentConfig s = printer("127.0.6.2", "fd00:6::2", "snmpd");
  const AgentConfig p = printer("127.0.6.3", "fd00:6::3", "pysnmp");
  SnmpdAgent snmpd(s);
  PysnmpAgent pysnmp(p);
  for (const AgentConfig* c : {&s, &p}) {
    for (const std::string& address : {c->address4, c->address6}) {
      for (const auto& e : valuesOf(*c)) {
        const Answer a = ask(e.query, address.c_str());
        EXPECT_EQ(a.result, 0) << address << " " << e.name;
        EXPECT_EQ(a.value, e.value) << address << " " << e.name;
      }
    }
  }
}

TEST(Queries, WriteTheirLinesOnStandardOutput) {
  const AgentConfig c = printer("127.0.6.2", "fd00:6::2", "snmpd");
  SnmpdAgent snmpd(c);
  const auto answerSize = v1Response(varbind(kSysNameOid, kBerOctetString, text(c.sysName))).size();
  const std::string receiveLine =
      "NetSnmpGetV4 recvfrom nRecv = " + std::to_string(answerSize) + "\n";
  ::testing::internal::CaptureStdout();
  ask(&CNetIO::TavrenNetworkGetPrinterName, "127.0.6.2");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "TavrenNetworkGetPrinterName enter\n" + receiveLine);
  ::testing::internal::CaptureStdout();
  ask(&CNetIO::TavrenNetworkGetPrinterName, "fd00:6::2");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "TavrenNetworkGetPrinterName enter\nscope id=0" + receiveLine);
}

// The error status is not examined: an agent without the object answers
// noSuchName with a NULL value, which reads as an empty value.
TEST(Queries, MissingObjectsReadAsEmptyValues) {
  AgentConfig s = printer("127.0.6.2", "", "snmpd");
  s.serveVersions = false;
  AgentConfig p = printer("127.0.6.3", "", "pysnmp");
  p.serveVersions = false;
  SnmpdAgent snmpd(s);
  PysnmpAgent pysnmp(p);
  for (const char* address : {"127.0.6.2", "127.0.6.3"}) {
    for (Query q : {&CNetIO::TavrenNetworkGetFwVersion, &CNetIO::TavrenNetworkGetFwMCUVersion}) {
      const Answer a = ask(q, address);
      EXPECT_EQ(a.result, 0) << address;
      EXPECT_EQ(a.value, "") << address;
    }
  }
}

// Three copies go out per attempt; IPv6 makes a second attempt.
TEST(Queries, ASilentPrinterGetsThreeRequestsOverIpv4AndSixOverIpv6) {
  RawResponder v4("127.0.6.9", silent());
  RawResponder v6("fd00:6::9", silent());
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "127.0.6.9").result, -1);
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "fd00:6::9").result, -1);
  EXPECT_EQ(requestsAfter(v4, 3), 3u);
  EXPECT_EQ(requestsAfter(v6, 6), 6u);
  for (const Bytes& request : v4.requests()) EXPECT_EQ(toHex(request), toHex(kSysNameRequest));
  for (const Bytes& request : v6.requests()) EXPECT_EQ(toHex(request), toHex(kSysNameRequest));
}

TEST(Queries, CutALongValueToTheCallersSize) {
  const std::string name(200, 'n');
  RawResponder responder("127.0.6.9",
                         answering(v1Response(varbind(kSysNameOid, kBerOctetString, text(name)))));
  CNetIO net;
  std::array<char, 32> out;
  out.fill('Z');
  ASSERT_EQ(net.TavrenNetworkGetPrinterName("127.0.6.9", 0, out.data(), 16), 0);
  EXPECT_EQ(std::string(out.data()), name.substr(0, 15));
  EXPECT_EQ(std::string(out.begin() + 16, out.end()), std::string(16, 'Z'));
}

// The receive takes 256 octets; a longer answer arrives cut and is rejected.
TEST(Queries, RejectAnAnswerLongerThanTheReceiveBuffer) {
  const Bytes answer =
      v1Response(varbind(kSysNameOid, kBerOctetString, text(std::string(240, 'n'))));
  ASSERT_GT(answer.size(), 256u);
  RawResponder responder("127.0.6.9", answering(answer));
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "127.0.6.9").result, -1);
}

// A name the resolver knows but inet_pton rejects sends nothing over IPv6;
// over IPv4 it becomes the all-ones address, which the socket refuses.
TEST(Queries, HostNamesFailAndTheIpv6PathSendsNothing) {
  RawResponder any6("::",
                    answering(v1Response(varbind(kSysNameOid, kBerOctetString, text("numeric")))));
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "printer4").result, -1);
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "printer6").result, -1);
  // A numeric address afterwards: its three copies are all that arrive.
  EXPECT_EQ(ask(&CNetIO::TavrenNetworkGetPrinterName, "fd00:6::9").value, "numeric");
  EXPECT_EQ(requestsAfter(any6, 3), 3u);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runV1Tests(argc, argv, usbink::test::kHosts,
                                  {"fd00:6::2", "fd00:6::3", "fd00:6::9"});
}
