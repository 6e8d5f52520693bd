#!/usr/bin/python3
"""v3_check.py HEX --user U --auth A --priv P: one SNMPv3 message taken apart
by pysnmp's USM code (canonical BER, HMAC-MD5-96, DES) as an independent
check of the builder. Prints "name=value" lines, or "INVALID: reason", exit 1."""
import argparse
import sys

from pyasn1.codec.ber import decoder, encoder
from pyasn1.type import univ
from pysnmp.proto.mpmod.rfc3412 import ScopedPDU, SNMPv3Message
from pysnmp.proto.secmod.rfc3414 import localkey
from pysnmp.proto.secmod.rfc3414.auth.hmacmd5 import HmacMd5
from pysnmp.proto.secmod.rfc3414.priv.des import Des
from pysnmp.proto.secmod.rfc3414.service import UsmSecurityParameters


def fields(raw, user, auth, priv):
    message, rest = decoder.decode(raw, asn1Spec=SNMPv3Message())
    if rest:
        raise ValueError("bytes after the message")
    if encoder.encode(message) != raw:
        raise ValueError("not canonical BER")
    header = message["msgGlobalData"]
    flags = header["msgFlags"].asNumbers()[0]
    usm, rest = decoder.decode(message["msgSecurityParameters"], asn1Spec=UsmSecurityParameters())
    if rest:
        raise ValueError("bytes after the security parameters")
    engine = bytes(usm["msgAuthoritativeEngineId"])
    out = [("version", int(message["msgVersion"])), ("msgID", int(header["msgID"])),
           ("maxSize", int(header["msgMaxSize"])), ("flags", flags),
           ("model", int(header["msgSecurityModel"])), ("engineID", engine.hex()),
           ("boots", int(usm["msgAuthoritativeEngineBoots"])),
           ("time", int(usm["msgAuthoritativeEngineTime"])),
           ("user", bytes(usm["msgUserName"]).decode("latin1")),
           ("privParams", bytes(usm["msgPrivacyParameters"]).hex())]
    if bytes(usm["msgUserName"]).decode("latin1") not in ("", user):
        raise ValueError("unexpected user name")
    if flags & 1:
        key = univ.OctetString(localkey.passwordToKeyMD5(auth.encode(), univ.OctetString(engine)))
        HmacMd5().authenticateIncomingMsg(key, usm["msgAuthenticationParameters"], raw)
        out.append(("authentic", 1))
    data = message["msgData"]
    if flags & 2:
        cipher = data["encryptedPDU"]
        key = univ.OctetString(localkey.passwordToKeyMD5(priv.encode(), univ.OctetString(engine)))
        plain = Des().decryptData(key, (usm["msgAuthoritativeEngineBoots"],
                                        usm["msgAuthoritativeEngineTime"],
                                        usm["msgPrivacyParameters"]), cipher)
        scoped, padding = decoder.decode(plain, asn1Spec=ScopedPDU())
        out += [("encryptedLength", len(cipher)), ("padding", bytes(padding).hex())]
    else:
        scoped = data["plaintext"]
    pdu = scoped["data"].getComponent()
    out += [("contextEngineID", bytes(scoped["contextEngineId"]).hex()),
            ("contextName", bytes(scoped["contextName"]).decode("latin1")),
            ("pdu", pdu.__class__.__name__), ("requestID", int(pdu["request-id"]))]
    for bind in pdu["variable-bindings"]:
        out.append(("oid", str(bind[0])))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("hex")
    for option in ("--user", "--auth", "--priv"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    try:
        decoded = fields(bytes.fromhex(args.hex), args.user, args.auth, args.priv)
    except Exception as error:  # pyasn1 and pysnmp raise many kinds
        print(f"INVALID: {type(error).__name__}: {error}")
        return 1
    for name, value in decoded:
        print(f"{name}={value}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
