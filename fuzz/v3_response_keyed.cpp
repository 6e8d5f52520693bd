// SNMPv3 datagrams as they reach the response loop: the record holds the
// keys that the real request was built with (engine ID "usbink-fuzz" of the
// captured seeds). Each input is parsed three ways:
//  1. as it is (forgeries, the security-level checks, the code check);
//  2. re-signed: the 12-octet code replaced by the right one, so that
//     mutations reach the decryption and the scoped PDU;
//  3. sealed: the encryptedPDU content taken as plaintext, encrypted with
//     the privacy key and then re-signed, so that mutations of a readable
//     scoped PDU reach the binding walk.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "snmp/ber_cursor.h"
#include "snmpv3/credentials.h"
#include "usbink/netio.h"
#include "usbink/usm.h"
#include "v3_consumer.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Keys {
  std::array<unsigned char, kUsmKeySize> auth, priv;
};

const Keys& keys() {
  static const Keys k = [] {
    const unsigned char engine[] = {0x80, 0x00, 0x02, 0xA2, 0x04, 'u', 's', 'b',
                                    'i',  'n',  'k',  '-',  'f',  'u', 'z', 'z'};
    const auto c = usbink::usmCredentials();
    Keys out{};
    Password_to_Key_md5(reinterpret_cast<const unsigned char*>(c.authPassword),
                        usbink::kUsmPassPhraseLength, engine, sizeof engine, out.auth.data());
    Password_to_Key_md5(reinterpret_cast<const unsigned char*>(c.privPassword),
                        usbink::kUsmPassPhraseLength, engine, sizeof engine, out.priv.data());
    return out;
  }();
  return k;
}

// Where the security fields and the encryptedPDU lie in a datagram.
struct Layout {
  std::size_t mac = 0, macLength = 0;
  std::size_t salt = 0, saltLength = 0;
  std::size_t cipher = 0, cipherLength = 0;
  bool encrypted = false;
};

bool locate(Bytes& m, Layout* out) {
  usbink::BerCursor c(m.data(), m.data() + m.size());
  unsigned char* p = nullptr;
  int n = 0;
  const auto tlv = [&](unsigned char tag) { return c.readTlv(tag, &p, &n); };
  const auto at = [&] { return static_cast<std::size_t>(p - m.data()); };
  if (!c.enter(0x30) || !tlv(0x02) || !c.enter(0x30) || !tlv(0x02) || !tlv(0x02) || !tlv(0x04) ||
      n < 1) {
    return false;
  }
  const unsigned char flags = *p;
  if (!tlv(0x02) || !c.enter(0x04) || !c.enter(0x30) || !tlv(0x04) || !tlv(0x02) || !tlv(0x02) ||
      !tlv(0x04) || !tlv(0x04)) {
    return false;
  }
  out->mac = at();
  out->macLength = static_cast<std::size_t>(n);
  if (!tlv(0x04)) return false;
  out->salt = at();
  out->saltLength = static_cast<std::size_t>(n);
  if ((flags & 0x02) && tlv(0x04)) {
    out->cipher = at();
    out->cipherLength = static_cast<std::size_t>(n);
    out->encrypted = true;
  }
  return true;
}

void parse(Bytes m) {
  _SNMP_PARAM_V3 params{};
  std::memcpy(params.authKey, keys().auth.data(), kUsmKeySize);
  std::memcpy(params.privKey, keys().priv.data(), kUsmKeySize);
  params.valueCallback = touchEveryOctet;
  unsigned char errorStatus = 0;
  unsigned char errorIndex = 0;
  CNetIO::parseSnmpV3Response(m.data(), static_cast<int>(m.size()), nullptr, nullptr, &errorStatus,
                              &errorIndex, &params);
}

bool resign(Bytes& m, const Layout& l) {
  if (l.macLength != kUsmMacSize) return false;
  std::memset(m.data() + l.mac, 0, kUsmMacSize);
  std::array<unsigned char, kUsmPadSize> k1, k2;
  auto authKey = keys().auth;
  AuthKey2K1K2(authKey.data(), k1.data(), k2.data());
  CalcuateAuthParams(m.data(), static_cast<unsigned>(m.size()), k1.data(), k2.data(),
                     m.data() + l.mac);
  return true;
}

bool seal(Bytes& m, const Layout& l) {
  if (!l.encrypted || l.saltLength < kDesBlockSize || l.cipherLength % kDesBlockSize != 0) {
    return false;
  }
  std::array<unsigned char, kDesBlockSize> iv;
  for (int i = 0; i < kDesBlockSize; ++i) iv[i] = keys().priv[8 + i] ^ m[l.salt + i];
  DesEncryption(keys().priv.data(), iv.data(), m.data() + l.cipher, l.cipherLength,
                m.data() + l.cipher, static_cast<int>(l.cipherLength));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes message(data, data + size);
  parse(message);
  Layout layout;
  if (!locate(message, &layout)) return 0;
  Bytes signed_ = message;
  if (resign(signed_, layout)) parse(signed_);
  Bytes sealed = message;
  if (seal(sealed, layout) && resign(sealed, layout)) parse(sealed);
  return 0;
}
