// The agent value table: encoded identity OIDs and the values an SNMPv3
// query or discovery received for them.
#include "usbink/agent_values.h"

#include <algorithm>
#include <cstring>

unsigned char _sysObjIdOid[kAgentValueSize];
unsigned char _sysNameOid[kAgentValueSize];
unsigned char _pvtDevIdOid[kAgentValueSize];
unsigned char _pvtFwVerOid[kAgentValueSize];
unsigned char _pvtMcuVerOid[kAgentValueSize];
unsigned char _sysObjIdValue[kAgentValueSize];
int _sysObjIdLen = 0;
char _sysNameValue[kAgentValueSize];
char _pvtFwVerValue[kAgentValueSize];
char _pvtMcuVerValue[kAgentValueSize];

namespace {

// Text values keep room for their NUL: one of 128 bytes or more is cut to
// 127. The raw sysObjectID value needs no terminator and keeps up to 128.
constexpr int kTextMax = kAgentValueSize - 1;

void copyText(char* to, const unsigned char* value, int length) {
  const int kept = std::min(length, kTextMax);
  std::memcpy(to, value, static_cast<std::size_t>(kept));
  to[kept] = '\0';
}

// A received OID matches a stored encoding when it equals that encoding's
// first `oidLength` octets; an OID longer than the stored area matches none.
bool matches(const unsigned char* stored, const unsigned char* oid, int oidLength) {
  return oidLength <= kAgentValueSize &&
         std::memcmp(stored, oid, static_cast<std::size_t>(oidLength)) == 0;
}

}  // namespace

bool searchAgentProCallbackEx2(unsigned char* oid, int oidLength, unsigned char /*valueType*/,
                               unsigned char* value, int valueLength) {
  if (oid == nullptr || oidLength < 0 || valueLength < 0) return false;
  if (value == nullptr && valueLength > 0) return false;
  if (matches(_sysObjIdOid, oid, oidLength)) {
    _sysObjIdLen = std::min(valueLength, kAgentValueSize);
    std::memcpy(_sysObjIdValue, value, static_cast<std::size_t>(_sysObjIdLen));
    return true;
  }
  if (matches(_sysNameOid, oid, oidLength)) {
    copyText(_sysNameValue, value, valueLength);
    return true;
  }
  if (matches(_pvtFwVerOid, oid, oidLength)) {
    copyText(_pvtFwVerValue, value, valueLength);
    return true;
  }
  if (matches(_pvtMcuVerOid, oid, oidLength)) {
    copyText(_pvtMcuVerValue, value, valueLength);
    return true;
  }
  return false;
}
