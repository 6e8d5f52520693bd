// Printer name and firmware versions over SNMPv3 from real agents (snmpd,
// pysnmp) over IPv4 and IPv6, and from scripted agents for answers a real
// agent does not give.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

const Bytes kSysNameOid = fromHex("2b06010201010500");
const Bytes kFwOid = fromHex("2b0601040181cd1a8676822c8271c25301020100");
const Bytes kMcuOid = fromHex("2b0601040181cd1a8676822c8271c25301020300");
const Bytes kEngineA = fromHex("800002a204aaaa");
const Bytes kEngineB = fromHex("800002a204bbbb");

struct Values {
  int result = 99;
  std::string name, fw, mcu;
};

// Runs the query with outputs that start as "untouched".
Values query(const std::string& address) {
  std::array<char, 128> name{"untouched"}, fw{"untouched"}, mcu{"untouched"};
  CNetIO io;
  Values v;
  v.result = io.TavrenNetworkGetNameAndFwAndMCUVersion(address.c_str(), name.data(), fw.data(),
                                                       mcu.data(), 0);
  v.name = name.data();
  v.fw = fw.data();
  v.mcu = mcu.data();
  return v;
}

VarBind textValue(const Bytes& oid, const std::string& value) {
  return {oid, 0x04, text(value)};
}
VarBind missing(const Bytes& oid) {
  return {oid, 0x80, {}};
}

TEST(V3Query, ReadsTheThreeValuesFromSnmpdAndPysnmpOverIpv4AndIpv6) {
  AgentConfig s;
  s.address4 = "127.0.53.2";
  s.address6 = "fd00:53::2";
  s.v1 = false;
  s.sysName = "snmpd-laser";
  s.fwVersion = std::string(200, 'f');  // cut to 127 on arrival
  AgentConfig p;
  p.address4 = "127.0.53.3";
  p.address6 = "fd00:53::3";
  p.v1 = false;
  p.sysName = "pysnmp-laser";
  SnmpdAgent snmpd(s);
  PysnmpAgent pysnmp(p);
  struct Case {
    std::string address, name, fw;
  };
  for (const auto& c :
       {Case{"127.0.53.2", "snmpd-laser", std::string(127, 'f')},
        Case{"fd00:53::2", "snmpd-laser", std::string(127, 'f')},
        Case{"127.0.53.3", "pysnmp-laser", "FW1.0"}, Case{"fd00:53::3", "pysnmp-laser", "FW1.0"}}) {
    const Values v = query(c.address);
    EXPECT_EQ(v.result, 0) << c.address;
    EXPECT_EQ(v.name, c.name) << c.address;
    EXPECT_EQ(v.fw, c.fw) << c.address;
    EXPECT_EQ(v.mcu, "MCU2.0") << c.address;
  }
}

TEST(V3Query, WritesItsDiagnosticLinesOnStandardOutput) {
  RawResponder agent("127.0.53.4", scriptedAgents({{kEngineA, [](const Bytes&) {
                                                      return std::vector<Bytes>{securedAnswer(
                                                          kEngineA, {textValue(kFwOid, "FW9")})};
                                                    }}}));
  testing::internal::CaptureStdout();
  const Values v = query("127.0.53.4");
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(out, "ipv4=127.0.53.4\nsendto: nRet=57\nrecvfrom nRecv = " +
                     std::to_string(discoveryReport(kEngineA).size()) +
                     ", szAddr=127.0.53.4\nparseSnmpV3Response begin\n");
}

TEST(V3Query, WritesOnlyTheValuesThatArrived) {
  RawResponder agent(
      "127.0.53.5", scriptedAgents({{kEngineA, [](const Bytes&) {
                                       return std::vector<Bytes>{securedAnswer(
                                           kEngineA, {missing(kSysNameOid),
                                                      textValue(kFwOid, "FW9"), missing(kMcuOid)})};
                                     }}}));
  const Values v = query("127.0.53.5");
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.name, "untouched");
  EXPECT_EQ(v.fw, "FW9");
  EXPECT_EQ(v.mcu, "untouched");
}

// Both agents behind one address are asked in turn; each delivery
// overwrites what it carries, so the last one wins value by value.
TEST(V3Query, TwoAgentsAtOneAddressAreBothAsked) {
  RawResponder agent(
      "127.0.53.6",
      scriptedAgents({{kEngineA,
                       [](const Bytes&) {
                         return std::vector<Bytes>{securedAnswer(
                             kEngineA, {textValue(kSysNameOid, "A-name"), textValue(kFwOid, "A-fw"),
                                        textValue(kMcuOid, "A-mcu")})};
                       }},
                      {kEngineB, [](const Bytes&) {
                         return std::vector<Bytes>{securedAnswer(
                             kEngineB,
                             {missing(kSysNameOid), textValue(kFwOid, "B-fw"), missing(kMcuOid)})};
                       }}}));
  const Values v = query("127.0.53.6");
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.name, "A-name");
  EXPECT_EQ(v.fw, "B-fw");
  EXPECT_EQ(v.mcu, "A-mcu");
  EXPECT_EQ(agent.requestCount(), 3u);  // one discovery, two real requests
}

// Answers that must not fill any output: the query fails and leaves them.
TEST(V3Query, AnswersThatCannotBeTrustedFillNothing) {
  struct Case {
    const char* what;
    Bytes engine;
    std::function<Bytes()> answer;
    std::size_t requests;
  };
  const std::vector<Case> cases = {
      {"engine of another enterprise", fromHex("800002a304aaaa"), [] { return Bytes{}; }, 1},
      {"forged plaintext answer", kEngineA,
       [] {
         AgentAnswer a;
         a.engineId = kEngineA;
         a.varBinds = {textValue(kSysNameOid, "forged")};
         return agentAnswer(a);
       },
       2},
  };
  for (const auto& c : cases) {
    RawResponder agent(
        "127.0.53.7",
        scriptedAgents({{c.engine, [&](const Bytes&) { return std::vector<Bytes>{c.answer()}; }}}));
    const Values v = query("127.0.53.7");
    EXPECT_EQ(v.result, -1) << c.what;
    EXPECT_EQ(v.name, "untouched") << c.what;
    EXPECT_EQ(agent.requestCount(), c.requests) << c.what;
  }
  EXPECT_EQ(query("127.0.53.8").result, -1);  // nobody there
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:53::2", "fd00:53::3"});
}
