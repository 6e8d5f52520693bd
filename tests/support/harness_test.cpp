// The test harness itself: each real peer starts, answers and stops.
#include <gtest/gtest.h>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

std::string snmpgetV1(const std::string& address) {
  return run({"snmpget", "-v1", "-c", "mirtal", "-On", "-Oqv", "-t", "1", "-r", "0", address,
              kOidSysName}).out;
}

TEST(Harness, SnmpdAndPysnmpAnswerOnTheirOwnAddresses) {
  AgentConfig a;
  a.address4 = "127.0.9.2";
  a.address6 = "fd00:9::2";
  a.sysName = "snmpd-one";
  SnmpdAgent snmpd(a);
  AgentConfig b;
  b.address4 = "127.0.9.3";
  b.sysName = "pysnmp-one";
  PysnmpAgent pysnmp(b);
  EXPECT_NE(snmpgetV1("127.0.9.2").find("snmpd-one"), std::string::npos);
  EXPECT_NE(snmpgetV1("udp6:[fd00:9::2]").find("snmpd-one"), std::string::npos);
  EXPECT_NE(snmpgetV1("127.0.9.3").find("pysnmp-one"), std::string::npos);
}

TEST(Harness, CupsdKeepsQueuesWithAnyScheme) {
  Cupsd cups;
  cups.addQueue("q_usb", "usb://Acme/Laser%201?serial=X1");
  cups.addQueue("q_socket", "socket://127.0.0.2:9100");
  auto r = run({"lpstat", "-v"}, withEnv(cups.clientEnv()));
  EXPECT_NE(r.out.find("usb://Acme/Laser%201?serial=X1"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("socket://127.0.0.2:9100"), std::string::npos);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:9::2"});
}
