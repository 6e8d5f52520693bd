// usbink-query against a private cupsd, snmpd, pysnmp and raw responders for bad walks.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "snmp/v1_test_util.h"
#include "support/cupsd.h"
#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

const std::string kEntry = "1.3.6.1.2.1.43.11.1.1.";
const std::string kAny = "*";  // a stream the case does not check
const std::string kUsage = "Try 'usbink-query --help' for more information.\n";

// Prometheus' own parser (python3-prometheus-client): one line per sample.
constexpr char kParse[] = R"(import sys; from prometheus_client.parser import *
for f in text_string_to_metric_families(sys.stdin.read()):
  for s in f.samples: print(f.type, s.name, ",".join(f"{k}={v!r}" for k, v in sorted(s.labels.items())), s.value))";
const std::string kPipe =
    "\"$0\" $1 | case $1 in --prom*) " USBINK_PYTHON " -c \"$PARSE\";; *) cat;; esac";

// snmpd.conf `conf` and lines serving one supply, 1.1, and its colorant, 1.1.
std::string printerMib(std::string conf, const std::string& description, int cls, int type, int max,
                       int level, const std::string& colour) {
  conf += "override .1.3.6.1.2.1.43.12.1.1.4.1.1 octet_str \"" + colour + "\"\n";
  for (auto [column, value] : {std::pair{3, 1}, {4, cls}, {5, type}, {7, 19}, {8, max}, {9, level}})
    conf += "override ." + kEntry + std::to_string(column) + ".1.1 integer " +
            std::to_string(value) + "\n";
  return conf + "override ." + kEntry + "6.1.1 octet_str \"" + description + "\"\n";
}

// A v2c GetResponse to `rq` (one-octet request-id at 17): `error`, and "A" at each OID.
std::vector<Bytes> response(const Bytes& rq, std::vector<std::string> at, unsigned char error = 0) {
  Bytes list;
  for (const auto& oid : at) {
    std::array<unsigned char, kOidEncodedMax> o;
    const Bytes name(o.begin(), o.begin() + CNetIO::oidEncode(oid.c_str(), o.data()));
    list = cat({list, tlv(kBerSequence, cat({tlv(kBerObjectId, name), fromHex("040141")}))});
  }
  const Bytes pdu = cat({tlv(kBerInteger, {rq.at(17)}), tlv(kBerInteger, {error}),
                         fromHex("020100"), tlv(kBerSequence, list)});
  return {tlv(kBerSequence, cat({fromHex("020101 04067075626c6963"), tlv(kPduGetResponse, pdu)}))};
}

// Command, exit status, output (as Prometheus' parser reads it) and part of stderr ("": none).
struct Case {
  const char* command;
  int exit;
  std::string out, err = kAny;
};

// snmpd with v2c and SNMPv3, snmpd v3-only but for "office" with one supply.
TEST(QueryCli, AnswersEachCommandAndFormatAndFailsCleanly) {
  TempDir dir{"usbink-query"};
  Cupsd cups;
  const std::string mib = printerMib(
      "rocommunity public\ncreateUser ops MD5 \"ops-auth-1\" DES \"ops-priv-1\"\nrouser ops priv\n",
      "Cyan Toner", 3, 3, 100, 40, "cyan");
  const SnmpdAgent both{{.address4 = "127.0.4.2", .address6 = "fd00:4::2", .snmpdLines = mib}};
  const std::string office =
      printerMib("rocommunity office\n", "Black Cartridge", 3, 21, 7000, 3500, "black");
  const SnmpdAgent v3{{.address4 = "127.0.4.3", .v1 = false, .toner = 15, .snmpdLines = office}};
  const PysnmpAgent hostile{{.address4 = "127.0.4.4", .toner = 5, .sysName = "La\"s\\er\n1"}};
  std::istringstream queues(
      "Lab|2=x socket://127.0.4.2 v3 socket://127.0.4.3 low ipp://127.0.4.4/ "
      "silent socket://127.0.4.9 serial serial:/dev/null die socket://127.0.4.2");
  for (std::string name, uri; queues >> name >> uri;) cups.addQueue(name, uri);
  // usbink, except that the process for queue "die" is killed.
  writeFile(dir.file("usbink"),
            "#!/bin/sh\n[ \"$1\" = die ] && kill -9 $$\nexec " USBINK_TOOL " \"$1\"\n", 0755);
  int served = 0;
  const RawResponder cut("127.0.4.12", [&](const Bytes& rq) {
    return served++ ? response(rq, {}, 5) : response(rq, {kEntry + "6.1.1"});
  });
  int sent = 0;  // each answer goes 40 objects further
  const RawResponder endless("127.0.4.13", [&](const Bytes& rq) {
    std::vector<std::string> next;
    while (next.size() < 40) next.push_back(kEntry + "6.1." + std::to_string(++sent));
    return response(rq, next);
  });
  const RawResponder slow("127.0.4.14", [](const Bytes& rq) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return response(rq, {kEntry + "6.1.1"});
  });
  auto env = cups.clientEnv();
  env["USBINK_PROGRAM"] = dir.file("usbink");
  env["PARSE"] = kParse;
  const auto check = [&](const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.command);
      const auto r = run({"bash", "-o", "pipefail", "-c", kPipe, USBINK_QUERY, c.command}, {env});
      EXPECT_EQ(r.exitCode, c.exit) << r.err;
      EXPECT_TRUE(c.out == kAny || r.out == c.out) << r.out;
      EXPECT_TRUE(c.err == kAny ||
                  (c.err.empty() ? r.err.empty() : r.err.find(c.err) != std::string::npos))
          << r.err;
    }
  };
  const std::string table = "DESCRIPTION  TYPE   COLOUR  LEVEL\nCyan Toner   toner  cyan    40%\n";
  for (const char* usage : {"", "name", "name a b", "name --v1 127.0.4.2", "--loud name x",
                            "status --v1 --v3 127.0.4.2"})
    check({{usage, 2, "", kUsage}});
  check({
      {"firmware fd00:4::2", 0, "address: fd00:4::2\nfirmware: FW1.0\n"},
      {"mcu-firmware 127.0.4.2", 0, "address: 127.0.4.2\nmcu-firmware: MCU2.0\n"},
      {"identity 127.0.4.4", 0,
       "address: 127.0.4.4\nname: La\"s\\er\\x0A1\nfirmware: FW1.0\nmcu-firmware: MCU2.0\n"},
      {"--verbose status office.printers.test", 0,
       "address: 127.0.4.2\nprotocol: SNMPv1\nlevel: 42\n", "printers.test is 127.0.4.2\n"},
      {"--json status --v3 127.0.4.2", 0,
       "{\"address\":\"127.0.4.2\",\"protocol\":\"SNMPv3\",\"level\":42}\n", ""},
      {"--verbose name 127.0.4.2", 0, "address: 127.0.4.2\nname: Laser-Agent\n",
       "TavrenNetworkGetPrinterName enter"},
      {"status --v1 127.0.4.3", 1, "", "usbink-query: status: no answer from 127.0.4.3\n"},
      {"status gone.printers.test", 1, "", "usbink-query: cannot resolve 'gone.printers.test': "},
      {"bogus 127.0.4.2", 2, "", "usbink-query: unknown command 'bogus'\n" + kUsage},
      {"queues --jobs 2", 1,
       "die\tnetwork\tusbink died\nLab|2=x\tnetwork\t42%\nlow\tnetwork\t5%\nserial\tnetwork\tno "
       "address\nsilent\tnetwork\tno answer\nv3\tnetwork\t15%\n"},
      {"--json queues v3 nope", 1,
       "{\"queue\":\"v3\",\"kind\":\"network\",\"level\":15}\n"
       "{\"queue\":\"nope\",\"kind\":\"\",\"reason\":\"no such queue\"}\n"},
      {"--nagios 20:10 queues Lab|2=x v3 low", 2,
       "USBINK CRITICAL - 3 queues: v3 15%, low 5% | 'Lab\\x7C2\\x3Dx'=42%;20;10;0;100 "
       "'v3'=15%;20;10;0;100 'low'=5%;20;10;0;100\n"},
      {"--nagios=20:10 status 127.0.4.3", 1,
       "USBINK WARNING - 127.0.4.3 toner 15% (SNMPv3) | 'toner'=15%;20;10;0;100\n"},
      {"--nagios 20:10 status 127.0.4.9", 3,
       "USBINK UNKNOWN - no answer from 127.0.4.9 | 'toner'=U;20;10;0;100\n"},
      {"--prometheus queues Lab|2=x nope", 1,
       "gauge usbink_scheduler_up  1.0\n"
       "gauge usbink_toner_level_percent kind='network',queue='Lab|2=x' 42.0\n"
       "gauge usbink_read_success kind='network',queue='Lab|2=x' 1.0\n"
       "gauge usbink_read_success kind='',queue='nope' 0.0\n"},
      {"--prometheus identity 127.0.4.4", 0,
       "gauge usbink_printer_info address='127.0.4.4',firmware='FW1.0',mcu_firmware='MCU2.0',"
       "name='La\"s\\\\er\\n1' 1.0\ngauge usbink_read_success address='127.0.4.4' 1.0\n"},
      {"supplies 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv2c\n" + table},
      {"supplies --v1 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv1\n" + table},
      {"supplies --user=ops --auth-pass=ops-auth-1 --priv-pass ops-priv-1 127.0.4.2", 0,
       "address: 127.0.4.2\nprotocol: SNMPv3\n" + table, ""},
      {"--json supplies --community=office 127.0.4.3", 0,
       "{\"address\":\"127.0.4.3\",\"protocol\":\"SNMPv2c\",\"complete\":true,\"supplies\":[{"
       "\"index\":\"1.1\",\"description\":\"Black Cartridge\",\"class\":\"consumed\",\"type\":"
       "\"tonerCartridge\",\"colour\":\"black\",\"unit\":19,\"max\":7000,\"level\":3500,"
       "\"percent\":50,\"level-text\":\"50%\"}]}\n"},
      {"supplies --nagios 20:10 --community office 127.0.4.3", 0,
       "USBINK OK - lowest Black Cartridge 50% | 'Black Cartridge'=50%;20;10;0;100\n"},
      {"supplies --user=ops --auth-pass=ops-auth-1 --priv-pass=wrong-priv --timeout=1 127.0.4.2", 1,
       kAny, "no authenticated answer (wrong user or pass phrases"},
      {"supplies --user=ops --auth-pass=ops-auth-1 --auth-proto=SHA 127.0.4.2", 2, kAny,
       "authentication protocol SHA is not supported (MD5 only)\n" + kUsage},
      {"supplies --timeout=1 127.0.4.3", 1, kAny, "no answer (wrong community"},
      {"supplies 127.0.4.12", 1,
       "address: 127.0.4.12\nprotocol: SNMPv2c\nDESCRIPTION  TYPE  COLOUR  LEVEL\nA                "
       "          not reported\n",
       "stopped early: the agent answered error status 5 (genErr) after "
       "1.3.6.1.2.1.43.11.1.1.6.1.1"},
      {"--json supplies 127.0.4.13", 1, kAny, "stopped early: more than 4096 values"},
      {"supplies --timeout=1 127.0.4.14", 1, kAny, "stopped early: the time budget ran out"},
  });
  env["CUPS_SERVER"] = "/nonexistent/cups.sock";
  check({{"queues a", 1, "a\t-\tno scheduler\n",
          "usbink-query: queues: no scheduler answers at /nonexistent/cups.sock\n"}});
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost\n127.0.4.2 office.printers.test\n");
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:4::2"});
}
