// The agent value table's consumer: which OID files where, and values that
// do not fit.
#include "usbink/agent_values.h"

#include <gtest/gtest.h>

#include <string>

#include "usbink/netio.h"
#include "usbink/oids.h"

namespace {

bool offer(const char* oidText, std::string value) {
  unsigned char oid[64];
  const int n = CNetIO::oidEncode(oidText, oid);
  return searchAgentProCallbackEx2(oid, n, 0x04, reinterpret_cast<unsigned char*>(value.data()),
                                   static_cast<int>(value.size()));
}

TEST(AgentValues, FilesEachObjectInItsSlotCuttingWhatDoesNotFit) {
  CNetIO::oidEncode(kOidSysObjectId, _sysObjIdOid);
  CNetIO::oidEncode(kOidSysName, _sysNameOid);
  CNetIO::oidEncode(kOidFwVersion, _pvtFwVerOid);
  CNetIO::oidEncode(kOidMcuVersion, _pvtMcuVerOid);
  EXPECT_TRUE(offer(kOidSysName, "Laser") && offer(kOidMcuVersion, "MCU2"));
  EXPECT_TRUE(offer(kOidFwVersion, std::string(200, 'f')));
  EXPECT_TRUE(offer(kOidSysObjectId, std::string(300, 'o')));
  EXPECT_FALSE(offer(kOidDeviceId, "STS:"));
  EXPECT_STREQ(_sysNameValue, "Laser");
  EXPECT_STREQ(_pvtMcuVerValue, "MCU2");
  EXPECT_EQ(std::string(_pvtFwVerValue), std::string(127, 'f'));
  EXPECT_EQ(_sysObjIdLen, kAgentValueSize);  // raw octets, no terminator needed
  // "1.3.6.1.2.1.1" is a prefix of sysObjectID.0 and is taken as it.
  EXPECT_TRUE(offer("1.3.6.1.2.1.1", "\x2b"));
  EXPECT_EQ(_sysObjIdLen, 1);
  // An OID longer than a stored encoding's area matches nothing.
  unsigned char longOid[kAgentValueSize + 1] = {};
  EXPECT_FALSE(searchAgentProCallbackEx2(longOid, sizeof longOid, 0x04, longOid, 1));
}

}  // namespace
