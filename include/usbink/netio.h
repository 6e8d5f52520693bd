// The network module: SNMP v1 and SNMPv3 (USM) messaging, the printer status
// reads, single-value queries, agent discovery and a cancellable TCP stream.
//
// CNetIO is declared here once; its members are defined in the folders of the
// subsystems that own them (snmp/, snmpv3/, discovery/, stream/).
#pragma once

#include <cstdint>

#include "usbink/socket.h"
#include "usbink/status.h"

// The read community the tool uses for every SNMP v1 request.
inline constexpr char kDefaultCommunity[] = "mirtal";
// The UDP port of every SNMP agent.
inline constexpr unsigned short kSnmpPort = 161;
// Size of an encoded target identifier of a CNetIO object.
inline constexpr int kTargetOidSize = 32;
// Room the `community` output of CNetIO::parseGetResponse must have: the
// longest community it hands out (longer ones are rejected) and a zero octet.
inline constexpr int kCommunityCapacity = 256;

// Hands one received variable binding to a consumer: the OID content octets,
// the value's BER tag and the value content octets, all pointing into the
// receive buffer and valid during the call only. The result tells whether the
// consumer took the value.
typedef bool (*SnmpValueCallback)(unsigned char* oid, int oidLength, unsigned char valueType,
                                  unsigned char* value, int valueLength);

// Reports one agent found by a discovery: its address text, a null `info`
// and the caller's `user` pointer. The result is ignored.
typedef bool (*SnmpAgentCallback)(char* address, char* info, void* user);

// What one SNMPv3 exchange carries from the engine discovery through the real
// request to its response.
struct _SNMP_PARAM_V3 {
  unsigned char engineID[32];  // msgAuthoritativeEngineID of the last message parsed
  int engineIDLen;
  std::uint32_t engineBoots;
  std::uint32_t engineTime;
  char userName[36];
  char authPassword[36];
  char privPassword[36];
  unsigned char privKey[16];  // DES key (0..7) and pre-IV (8..15), left by the builder
  unsigned char authKey[16];  // left by the builder, checked by the parser
  SnmpValueCallback valueCallback;
};

class CNetIO {
 public:
  CNetIO() = default;

  // ---- BER primitives --------------------------------------------------
  // Reads the length octets at `p`, stores the length in `*length` and
  // returns the first content octet. The caller bounds the read.
  static unsigned char* parseLength(unsigned char* p, int* length);
  // Writes the length octets of `length` just before `end`; returns the
  // first of them.
  static unsigned char* berEncodeLength(unsigned char* end, unsigned long length);
  // Writes the content octets of the dotted identifier `text` to `out`;
  // returns their count, 0 for a character other than a digit or a dot, -1
  // for a null argument or an identifier outside the encodable limits.
  static int oidEncode(const char* text, unsigned char* out);

  // ---- SNMP v1 codec -----------------------------------------------------
  static int BuildGetRequestFor(int count, char* oid, char* community, unsigned char* out);
  static int parseGetResponse(unsigned char* data, int length, int* version, char* community,
                              unsigned char* requestId, unsigned char* errorStatus,
                              unsigned char* errorIndex, SnmpValueCallback callback);
  static int parseForRecvBuf(unsigned char* data, int length, char* out);
  static bool parseForDeviceId(unsigned char* data, int length, PRINTER_STATUS* status);
  int parseForOID(unsigned char* data, int length, unsigned char* reserved, int reservedLength);
  int InitTargetOID(const char* oid1, const char* oid2);

  // ---- SNMP v1 status read and single-value queries -------------------------
  bool NetworkReadStatus(const char* community, const char* address, PRINTER_STATUS* status);
  bool NetworkReadStatusV6(const char* community, const char* address, PRINTER_STATUS* status);
  int TavrenNetworkGetPrinterName(const char* address, unsigned char reserved, char* out, int size);
  int TavrenNetworkGetFwVersion(const char* address, unsigned char reserved, char* out, int size);
  int TavrenNetworkGetFwMCUVersion(const char* address, unsigned char reserved, char* out, int size);
  bool NetSnmpGetV4(const char* address, char* community, char* oid, char* out, int size);
  bool NetSnmpGetV6(const char* address, char* community, char* oid, char* out, int size);

  // ---- SNMPv3 message builder and parser ------------------------------------
  static int BuildSnmpV3GetEngineIdPacket(unsigned short requestId, unsigned short msgID,
                                          unsigned char* out, int outSize);
  static int BuildSnmpV3RequestPacket(const unsigned char* engineID, int engineIDLen,
                                      unsigned long engineBoots, unsigned long engineTime,
                                      int count, const char** oids, const unsigned char** values,
                                      const char* valueLengths, const unsigned char* valueTypes,
                                      const char* userName, const char* authPassword,
                                      const char* privPassword, unsigned char* authKey,
                                      unsigned char* privKey, unsigned char* out);
  static int BuildSnmpV3msgData(const unsigned char* contextEngineID, int contextEngineIDLen,
                                const char* contextName, unsigned short requestId, int count,
                                const char** oids, const unsigned char** values,
                                const char* valueLengths, const unsigned char* valueTypes,
                                unsigned char* out);
  static int BuildSnmpV3PDU(unsigned short requestId, int count, const char** oids,
                            const unsigned char** values, const char* valueLengths,
                            const unsigned char* valueTypes, unsigned char* out);
  static int BuildSnmpV3GetRequestPDU(unsigned short requestId, int count, const char** oids,
                                      unsigned char* out);
  static int BuildSnmpV3msgSecurityParameters(const unsigned char* engineID, int engineIDLen,
                                              int engineBoots, int engineTime,
                                              const char* userName, const char* authPassword,
                                              const unsigned char* privParams, int privParamsLen,
                                              unsigned char* out, unsigned long* authOffset);
  static int BuildSnmpV3msgGlobalDataUSM(int msgID, int msgMaxSize, int reportable, int priv,
                                         int auth, unsigned char* out);
  static int BuildSnmpV3Packet(unsigned char* globalData, int globalDataLen,
                               unsigned char* securityParameters, int securityParametersLen,
                               unsigned char* msgData, int msgDataLen, unsigned long* authOffset,
                               unsigned char* out);
  static int parseSnmpV3Response(unsigned char* data, int length, int* version,
                                 unsigned char* requestId, unsigned char* errorStatus,
                                 unsigned char* errorIndex, _SNMP_PARAM_V3* params);

  // ---- SNMPv3 status read and single-value queries --------------------------
  // Each wait for datagrams (here and in the searches below) stops after 512
  // of them even while more keep arriving, so that an agent that never stops
  // sending cannot hold the call; the v1 reads and queries take one datagram.
  bool NetworkReadStatusSNMPv3(const char* community, const char* address, PRINTER_STATUS* status);
  bool NetworkReadStatusV6SNMPv3(const char* community, const char* address,
                                 PRINTER_STATUS* status);
  // The three identity queries copy each value that arrives non-empty to its
  // output when that is not null: at most 127 characters and the NUL, so
  // `name`, `fwVersion` and `mcuVersion` must each hold 128 characters
  // (kAgentValueSize). Success (0, true) means at least one value was copied.
  int TavrenNetworkGetNameAndFwAndMCUVersion(const char* address, char* name, char* fwVersion,
                                             char* mcuVersion, int reserved);
  bool NetSnmpGetV4SNMPv3(const char* address, char* name, char* fwVersion, char* mcuVersion,
                          int reserved);
  bool NetSnmpGetV6SNMPv3(const char* address, char* name, char* fwVersion, char* mcuVersion,
                          int reserved);

  // ---- Agent discovery --------------------------------------------------------
  // An agent is reported only when its sysObjectID begins with targetOid1 or
  // targetOid2, so every search, FindSnmpV3Agent included, reports nothing
  // until InitTargetOID has set a target.
  bool FindSnmpAgent(const char* community, const char* address, const char* oid,
                     SnmpAgentCallback callback, void* user, bool broadcast);
  bool FindSnmpAgentV6_(const char* community, const char* address, const char* oid,
                        SnmpAgentCallback callback, void* user, bool broadcast);
  bool FindSnmpAgentV6(const char* community, const char* address, const char* oid,
                       SnmpAgentCallback callback, void* user, bool broadcast);
  bool FindSnmpAgent3Times(const char* community, const char* oid, SnmpAgentCallback callback,
                           void* user);
  bool FindSnmpV3Agent(const char* community, const char* address, const char* oid,
                       SnmpAgentCallback callback, void* user, bool broadcast);
  bool FindSnmpV3AgentV6_(const char* community, const char* address, const char* oid,
                          SnmpAgentCallback callback, void* user, bool broadcast);

  // ---- TCP stream -----------------------------------------------------------------
  // A wait another thread ended with CSocket::Cancel fails with the
  // platform's ECANCELED (125 on Linux); NetworkConnect passes it on.
  int NetworkConnect(char* server, int port);
  int NetworkConnectV6(char* server, int port);
  unsigned long NetworkWrite(int, void* buffer, unsigned long length);
  unsigned long NetworkRead(int, void* buffer, unsigned long length);
  void NetworkClose(int);

 private:
  // True when the `length` octets at `objectId` (a sysObjectID value) equal
  // the start of targetOid1 or targetOid2; an identifier of 4 octets or
  // fewer, or longer than a target, never does. The v1 answer test and the
  // SNMPv3 discovery's agent test.
  bool matchesTarget(const unsigned char* objectId, int length) const;

  CSocket m_stream;
  // Zeroed so that a test against targets before InitTargetOID reads
  // defined bytes (matching only an all-zero identifier).
  unsigned char targetOid1[kTargetOidSize] = {};
  unsigned char targetOid2[kTargetOidSize] = {};
};

// ---- Value consumers and the buffers they fill (process-wide, unguarded) ----
inline constexpr int kDeviceIdSize = 4032;
inline constexpr int kRecvBufSize = 1024;
inline constexpr int kSysObjIdSize = 128;

extern char g_deviceid[kDeviceIdSize];
extern char g_RecvBuf[kRecvBufSize];
extern unsigned char sysObjId[kSysObjIdSize];
extern int sysObjIdLen;

bool outputRecvBufValue(unsigned char* oid, int oidLength, unsigned char valueType,
                        unsigned char* value, int valueLength);
bool outputDeviceIdValue(unsigned char* oid, int oidLength, unsigned char valueType,
                         unsigned char* value, int valueLength);
bool outputOidValue(unsigned char* oid, int oidLength, unsigned char valueType,
                    unsigned char* value, int valueLength);

// The network module's own copy of Big2LittleEndian (status.h), with the
// same behaviour: reverses the four bytes at `p` on a big-endian host only.
void Big2LittleEndian_(char* p);

// The 27-octet GetRequest PDU for sysObjectID.0 that v1 discovery sends.
inline constexpr int kRequestOidPfSize = 27;
extern const unsigned char request_oid_pf[kRequestOidPfSize];

// ---- SNMPv3 counters (process-wide, unguarded) ----------------------------------
extern std::uint16_t SNMPv3MsgID;
extern std::uint16_t SNMPv3RequestID;

// ---- Status reads for the tool ------------------------------------------------
extern "C" {
bool NetworkReadStatus(const char* community, const char* address, PRINTER_STATUS* status);
bool NetworkReadStatusV6(const char* community, const char* address, PRINTER_STATUS* status);
bool NetworkReadStatusSNMPv3(const char* community, const char* address, PRINTER_STATUS* status);
bool NetworkReadStatusV6SNMPv3(const char* community, const char* address,
                               PRINTER_STATUS* status);
}
