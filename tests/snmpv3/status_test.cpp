// The SNMPv3 status read against real agents: snmpd and pysnmp serving only
// SNMPv3, over IPv4 and IPv6, with the right and the wrong pass phrases.
#include <gtest/gtest.h>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

struct Read {
  bool ok;
  int toner;
};

Read readV3(const std::string& address, bool viaV6Entry = false) {
  PRINTER_STATUS status{};
  const bool ok = viaV6Entry ? NetworkReadStatusV6SNMPv3("mirtal", address.c_str(), &status)
                             : NetworkReadStatusSNMPv3("mirtal", address.c_str(), &status);
  return {ok, status.tonerLevel & 0x7F};
}

AgentConfig v3Only(const std::string& address4, const std::string& address6, int toner) {
  AgentConfig c;
  c.address4 = address4;
  c.address6 = address6;
  c.v1 = false;
  c.toner = toner;
  return c;
}

TEST(V3Status, ReadsTheLevelFromSnmpdAndPysnmpOverIpv4AndIpv6) {
  SnmpdAgent snmpd(v3Only("127.0.54.2", "fd00:54::2", 37));
  PysnmpAgent pysnmp(v3Only("127.0.54.3", "fd00:54::3", 58));
  struct Case {
    std::string address;
    bool viaV6Entry;
    int toner;
  };
  for (const auto& c :
       {Case{"127.0.54.2", false, 37}, Case{"fd00:54::2", false, 37}, Case{"fd00:54::2", true, 37},
        Case{"127.0.54.3", false, 58}, Case{"fd00:54::3", true, 58}}) {
    const Read r = readV3(c.address, c.viaV6Entry);
    EXPECT_TRUE(r.ok) << c.address;
    EXPECT_EQ(r.toner, c.toner) << c.address;
  }
}

TEST(V3Status, AReadCountsItsRequestsAndSalts) {
  SnmpdAgent snmpd(v3Only("127.0.54.4", "", 20));
  const std::uint16_t msgId = SNMPv3MsgID, requestId = SNMPv3RequestID;
  const std::uint32_t salt = salt_low;
  EXPECT_TRUE(readV3("127.0.54.4").ok);
  EXPECT_EQ(SNMPv3MsgID, static_cast<std::uint16_t>(msgId + 2));
  EXPECT_EQ(SNMPv3RequestID, static_cast<std::uint16_t>(requestId + 2));
  EXPECT_EQ(salt_low, salt + 1);
  EXPECT_FALSE(readV3("127.0.54.5").ok);  // nobody there
  EXPECT_EQ(SNMPv3MsgID, static_cast<std::uint16_t>(msgId + 3));
  EXPECT_EQ(salt_low, salt + 1);
}

TEST(V3Status, AgentsWithOtherPassPhrasesGiveNothing) {
  AgentConfig s = v3Only("127.0.54.6", "", 30);
  s.authPassPhrase = "Other-Auth.0123456789";
  s.privPassPhrase = "Other-Priv.0123456789";
  AgentConfig p = s;
  p.address4 = "127.0.54.7";
  SnmpdAgent snmpd(s);
  PysnmpAgent pysnmp(p);
  EXPECT_FALSE(readV3("127.0.54.6").ok);
  EXPECT_FALSE(readV3("127.0.54.7").ok);
}

// A missing object comes back as noSuchObject with error status 0; the
// device-ID text of the read before must not be decoded in its place.
TEST(V3Status, MissingObjectAfterAGoodReadFails) {
  AgentConfig good = v3Only("127.0.54.8", "", 44);
  AgentConfig bare = v3Only("127.0.54.9", "", 0);
  bare.serveDeviceId = false;
  SnmpdAgent snmpd(good);
  SnmpdAgent snmpdBare(bare);
  AgentConfig pyBare = bare;
  pyBare.address4 = "127.0.54.10";
  PysnmpAgent pysnmpBare(pyBare);
  for (const char* bareAddress : {"127.0.54.9", "127.0.54.10"}) {
    EXPECT_TRUE(readV3("127.0.54.8").ok);
    EXPECT_FALSE(readV3(bareAddress).ok) << bareAddress;
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:54::2", "fd00:54::3"});
}
