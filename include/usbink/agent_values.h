// The agent value table: encoded OIDs of the identity objects and the values
// an SNMPv3 query or discovery received for them (process-wide, unguarded).
#pragma once

inline constexpr int kAgentValueSize = 128;

extern unsigned char _sysObjIdOid[kAgentValueSize];
extern unsigned char _sysNameOid[kAgentValueSize];
extern unsigned char _pvtDevIdOid[kAgentValueSize];
extern unsigned char _pvtFwVerOid[kAgentValueSize];
extern unsigned char _pvtMcuVerOid[kAgentValueSize];
extern unsigned char _sysObjIdValue[kAgentValueSize];
extern int _sysObjIdLen;
extern char _sysNameValue[kAgentValueSize];
extern char _pvtFwVerValue[kAgentValueSize];
extern char _pvtMcuVerValue[kAgentValueSize];

// Value consumer that files sysObjectID, sysName and the two firmware
// versions into the table (values cut to 127 bytes plus NUL).
bool searchAgentProCallbackEx2(unsigned char* oid, int oidLength, unsigned char valueType,
                               unsigned char* value, int valueLength);
