#!/usr/bin/python3
"""pysnmp GETs from a fixed table: v1 for a community, v3 for one MD5/DES user; then says ready."""
import argparse
import socket

from pysnmp.carrier.asyncore.dgram import udp, udp6
from pysnmp.entity import config, engine
from pysnmp.entity.rfc3413 import cmdrsp, context
from pysnmp.proto import rfc1905
from pysnmp.proto.api import v2c
from pysnmp.smi import instrum

PRIVATE = "1.3.6.1.4.1.26266.886.300.369.8531.1."
parser = argparse.ArgumentParser()
for option in ("addr", "addr6", "community", "user", "auth", "priv", "device-id", "fw", "mcu",
               "engine-id", "sys-name", "sys-object-id"):
    parser.add_argument("--" + option)
args = parser.parse_args()
table = {"1.3.6.1.2.1.1.5.0": v2c.OctetString(args.sys_name),
         "1.3.6.1.2.1.1.2.0": v2c.ObjectIdentifier(args.sys_object_id)}
table.update({PRIVATE + suffix: v2c.OctetString(value) for suffix, value in
              (("1.0", args.device_id), ("2.1.0", args.fw), ("2.3.0", args.mcu)) if value is not None})


class FixedTable(instrum.AbstractMibInstrumController):
    def readVars(self, varBinds, acInfo=(None, None)):
        return [(oid, table.get(str(oid), rfc1905.noSuchObject)) for oid, _ in varBinds]


snmp = engine.SnmpEngine(snmpEngineID=v2c.OctetString(hexValue=args.engine_id))
if args.addr:
    config.addTransport(snmp, udp.domainName, udp.UdpTransport().openServerMode((args.addr, 161)))
if args.addr6:
    transport6 = udp6.Udp6Transport()
    # IPv6 only, or a socket on "::" beside the IPv4 one answers every IPv4 broadcast twice.
    transport6.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    config.addTransport(snmp, udp6.domainName, transport6.openServerMode((args.addr6, 161)))
if args.community:
    config.addV1System(snmp, "printer-area", args.community)
    config.addVacmUser(snmp, 1, "printer-area", "noAuthNoPriv", (1, 3, 6))
config.addV3User(snmp, args.user, config.usmHMACMD5AuthProtocol, args.auth,
                 config.usmDESPrivProtocol, args.priv)
config.addVacmUser(snmp, 3, args.user, "authPriv", (1, 3, 6))
ctx = context.SnmpContext(snmp)
ctx.unregisterContextName(v2c.OctetString(""))
ctx.registerContextName(v2c.OctetString(""), FixedTable())
cmdrsp.GetCommandResponder(snmp, ctx)
print("pysnmp agent ready", flush=True)
snmp.transportDispatcher.jobStarted(1)
snmp.transportDispatcher.runDispatcher()
