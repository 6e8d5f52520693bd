// BER built by hand, datagrams in heap blocks of their exact size, a recording value callback.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/raw_responder.h"
#include "usbink/ber.h"
#include "usbink/netio.h"

namespace usbink::test {

// The content octets of the device-ID and sysName.0 identifiers.
inline const Bytes kDeviceIdOid = fromHex("2b0601040181cd1a8676822c8271c253010100");
inline const Bytes kSysNameOid = fromHex("2b06010201010500");

inline Bytes tlv(unsigned char tag, const Bytes& content) {
  const std::size_t n = content.size();
  const auto high = static_cast<unsigned char>(n >> 8);
  Bytes out = n < 0x80 ? Bytes{tag} : high ? Bytes{tag, 0x82, high} : Bytes{tag, 0x81};
  out.push_back(static_cast<unsigned char>(n));
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes varbind(const Bytes& oid, unsigned char valueType, const Bytes& value) {
  return tlv(kBerSequence, cat({tlv(kBerObjectId, oid), tlv(valueType, value)}));
}

// A v1 response with request-id 0 and error-index 0 around `varbinds`.
inline Bytes v1Response(const Bytes& varbinds, unsigned char pduTag = kPduGetResponse,
                        unsigned char errorStatus = 0, const std::string& community = "mirtal") {
  const Bytes zero = tlv(kBerInteger, {0}), error = tlv(kBerInteger, {errorStatus});
  const Bytes pdu = tlv(pduTag, cat({zero, error, zero, tlv(kBerSequence, varbinds)}));
  return tlv(kBerSequence, cat({zero, tlv(kBerOctetString, text(community)), pdu}));
}

struct Datagram {
  explicit Datagram(const Bytes& b) : bytes(b) {}  // a copy's capacity is its size
  unsigned char* data() { return bytes.data(); }
  int size() const { return static_cast<int>(bytes.size()); }
  Bytes bytes;
};

struct Received {
  Bytes oid;
  unsigned char type;
  Bytes value;
  bool operator==(const Received&) const = default;
};

// What recordingCallback was handed since watch(), all inside the datagram?
struct Recorder {
  std::vector<Received> values;
  const unsigned char *begin = nullptr, *end = nullptr;
  bool allInside = true;
  void watch(Datagram& d) { *this = {{}, d.data(), d.data() + d.size(), true}; }
  bool inside(const unsigned char* p, int n) const {
    return n >= 0 && p >= begin && p <= end && n <= end - p;
  }
};
inline Recorder g_recorder;

inline bool recordingCallback(unsigned char* oid, int oidLength, unsigned char type,
                              unsigned char* value, int valueLength) {
  Recorder& r = g_recorder;
  r.allInside = r.allInside && r.inside(oid, oidLength) && r.inside(value, valueLength);
  if (r.allInside) r.values.push_back({{oid, oid + oidLength}, type, {value, value + valueLength}});
  return r.allInside;
}

inline int parseRecording(Datagram& d) {
  g_recorder.watch(d);
  int version = -1;
  char community[kCommunityCapacity];
  unsigned char requestId = 0, errorStatus = 0, errorIndex = 0;
  return CNetIO::parseGetResponse(d.data(), d.size(), &version, community, &requestId, &errorStatus,
                                  &errorIndex, recordingCallback);
}

}  // namespace usbink::test
