// usbink-query as an administrator or a script runs it, against a private
// cupsd, snmpd (both families, v1, v2c, SNMPv3, Printer-MIB tables), pysnmp
// with a hostile name, and raw responders for what no real agent sends.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "snmp/ber_back_writer.h"
#include "snmp/walk_message.h"
#include "support/cupsd.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

const std::string kEntry = "1.3.6.1.2.1.43.11.1.1.";
const std::string kAny = "*";  // a stream the case does not check
const std::string kUsage = "Try 'usbink-query --help' for more information.\n";

// Prometheus' text parser (python3-prometheus-client): one line per sample,
// "name label=value,... value", labels sorted, values as Python shows them.
constexpr char kParse[] = R"(
import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(sys.stdin.read()):
    for s in family.samples:
        labels = ",".join(f"{k}={v!r}" for k, v in sorted(s.labels.items()))
        print(family.type, s.name, labels, s.value))";

struct Supply {
  const char* description;
  int supplyClass, type, max, level, colorant;
};

// snmpd.conf lines serving the supplies table and the colorants' names.
std::string printerMib(const std::vector<Supply>& rows, const std::vector<std::string>& colours) {
  std::string conf;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Supply& r = rows[i];
    const int columns[] = {r.colorant, r.supplyClass, r.type, 0, 19, r.max, r.level};  // 3 to 9
    for (int c = 3; c <= 9; ++c) {
      conf += "override ." + kEntry + std::to_string(c) + ".1." + std::to_string(i + 1) +
              (c == 6 ? " octet_str \"" + std::string(r.description) + "\"\n"
                      : " integer " + std::to_string(columns[c - 3]) + "\n");
    }
  }
  for (std::size_t i = 0; i < colours.size(); ++i) {
    conf += "override .1.3.6.1.2.1.43.12.1.1.4.1." + std::to_string(i + 1) + " octet_str \"" +
            colours[i] + "\"\n";
  }
  return conf;
}

const std::string kColourRows = printerMib({{"Cyan Toner", 3, 3, 100, 40, 1},
                                            {"Magenta Toner", 3, 3, 100, 65, 2},
                                            {"Yellow Toner", 3, 3, 100, 15, 3},
                                            {"Black Toner", 3, 3, 100, 8, 4},
                                            {"Waste Toner Box", 4, 4, 100, 80, 0},
                                            {"Drum Unit", 3, 9, -2, -3, 0}},
                                           {"cyan", "magenta", "yellow", "black"});

// One scheduler and three agents serve every case; the queues lead to them.
// snmpd on 127.0.4.2 also serves four colours and the user "ops" to supplies.
struct Peers {
  TempDir dir{"usbink-query"};
  Cupsd cups;
  SnmpdAgent both{{.address4 = "127.0.4.2",
                   .address6 = "fd00:4::2",
                   .toner = 57,
                   .sysName = "Office-Laser",
                   .fwVersion = "FW7.1",
                   .mcuVersion = "MCU3.2",
                   .snmpdLines = "rocommunity public\ncreateUser ops MD5 \"ops-auth-1\" DES "
                                 "\"ops-priv-1\"\nrouser ops priv\n" +
                                 kColourRows}};
  // No community but "office", which reads a black-only Printer MIB.
  SnmpdAgent v3{{.address4 = "127.0.4.3",
                 .v1 = false,
                 .toner = 15,
                 .snmpdLines = "rocommunity office\n" +
                               printerMib({{"Black Cartridge", 3, 21, 7000, 3500, 1}}, {"black"})}};
  PysnmpAgent hostile{{.address4 = "127.0.4.4", .toner = 5, .sysName = "La\"s\\er\n1"}};
  Peers() {
    for (const auto& [name, uri] : {std::pair{"Lab|2=x", "socket://127.0.4.2"},
                                    {"v3", "socket://127.0.4.3"},
                                    {"low", "ipp://127.0.4.4/"},
                                    {"silent", "socket://127.0.4.9"},
                                    {"serial", "serial:/dev/null"},
                                    {"die", "socket://127.0.4.2"}}) {
      cups.addQueue(name, uri);
    }
    // usbink, except that the process for queue "die" is killed.
    writeFile(dir.file("usbink"),
              "#!/bin/sh\n[ \"$1\" = die ] && kill -9 $$\nexec " USBINK_TOOL " \"$1\"\n", 0755);
  }
};

// A command line, with VAR=value words first for its environment; output of
// --prometheus is what Prometheus' own parser reads from it.
struct Case {
  const char* command;
  int exit;
  std::string out, err = "";  // err: a part of standard error; "" when it must be empty
};

class QueryCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { peers = new Peers; }
  static void TearDownTestSuite() { delete peers; }
  static void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.command);
      std::vector<std::string> argv = {USBINK_QUERY};
      auto env = peers->cups.clientEnv();
      env["USBINK_PROGRAM"] = peers->dir.file("usbink");
      std::istringstream words(c.command);
      for (std::string w; words >> w;) {
        if (argv.size() == 1 && w.find('=') != std::string::npos && w[0] != '-') {
          env[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
        } else {
          argv.push_back(w);
        }
      }
      auto r = run(argv, withEnv(env));
      if (argv[1] == "--prometheus") {
        writeFile(peers->dir.file("exposition"), r.out);
        r.out = run({"sh", "-c",
                     std::string(USBINK_PYTHON) + " -c '" + kParse + "' < " +
                         peers->dir.file("exposition")})
                    .out;
      }
      EXPECT_EQ(r.exitCode, c.exit) << r.err;
      EXPECT_TRUE(c.out == kAny || r.out == c.out) << r.out;
      EXPECT_TRUE(c.err == kAny ||
                  (c.err.empty() ? r.err.empty() : r.err.find(c.err) != std::string::npos))
          << r.err;
    }
  }
  static inline Peers* peers = nullptr;
};

const std::string kName = "address: 127.0.4.2\nname: Office-Laser\n";

// Single values over v1 on both families, over SNMPv3 and from pysnmp, host
// names, and the usage errors; the library's diagnostics only with --verbose.
TEST_F(QueryCli, PrintsWhatTheAgentAnswersAndFailsCleanly) {
  check({
      {"name 127.0.4.2", 0, kName},
      {"firmware fd00:4::2", 0, "address: fd00:4::2\nfirmware: FW7.1\n"},
      {"--json mcu-firmware 127.0.4.2", 0,
       "{\"address\":\"127.0.4.2\",\"mcu-firmware\":\"MCU3.2\"}\n"},
      {"identity 127.0.4.2", 0, kName + "firmware: FW7.1\nmcu-firmware: MCU3.2\n"},
      {"status 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv1\nlevel: 57\n"},
      {"--json status 127.0.4.3", 0,
       "{\"address\":\"127.0.4.3\",\"protocol\":\"SNMPv3\",\"level\":15}\n"},
      {"status --v3 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv3\nlevel: 57\n"},
      {"name 127.0.4.4", 0, "address: 127.0.4.4\nname: La\"s\\er\\x0A1\n"},
      {"--verbose name 127.0.4.2", 0, kName, "TavrenNetworkGetPrinterName enter"},
      {"status --v1 127.0.4.3", 1, "", "usbink-query: status: no answer from 127.0.4.3\n"},
      {"--verbose status office.printers.test", 0,
       "address: 127.0.4.2\nprotocol: SNMPv1\nlevel: 57\n",
       "usbink-query: office.printers.test is 127.0.4.2\n"},
      {"status gone.printers.test", 1, "", "usbink-query: cannot resolve 'gone.printers.test': "},
      {"", 2, "", kUsage},
      {"name", 2, "", kUsage},
      {"bogus 127.0.4.2", 2, "", "usbink-query: unknown command 'bogus'\n" + kUsage},
      {"name a b", 2, "", kUsage},
      {"--loud name x", 2, "", kUsage},
      {"status --v1 --v3 127.0.4.2", 2, "", kUsage},
      {"name --v1 127.0.4.2", 2, "", kUsage},
      {"discover --target=1.3.x", 2, "",
       "usbink-query: bad object identifier '1.3.x' for '--target'\n" + kUsage},
  });
  // With no descriptor left for copies of its streams, the answer still
  // comes, behind the library's diagnostics, instead of a crash.
  const auto starved =
      run({"sh", "-c",
           "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&- prlimit --nofile=4 \"$0\" name 127.0.4.2",
           USBINK_QUERY});
  EXPECT_EQ(starved.exitCode, 0) << starved.err;
  EXPECT_TRUE(starved.out.ends_with(kName)) << starved.out;
}

// `queues` in every format and each reason, and the monitoring formats of
// `status` and `identity`, Prometheus' read back by its own parser.
TEST_F(QueryCli, ReportsEveryQueueInEachFormat) {
  check({
      {"queues --jobs 2", 1,
       "die\tnetwork\tusbink died\nLab|2=x\tnetwork\t57%\nlow\tnetwork\t5%\nserial\tnetwork\tno "
       "address\nsilent\tnetwork\tno answer\nv3\tnetwork\t15%\n",
       kAny},
      {"--json queues v3 nope", 1,
       "{\"queue\":\"v3\",\"kind\":\"network\",\"level\":15}\n"
       "{\"queue\":\"nope\",\"kind\":\"\",\"reason\":\"no such queue\"}\n",
       kAny},
      {"CUPS_SERVER=/nonexistent/cups.sock queues a", 1, "a\t-\tno scheduler\n",
       "usbink-query: queues: no scheduler answers at /nonexistent/cups.sock\n"},
      {"--nagios 20:10 queues Lab|2=x v3 low", 2,
       "USBINK CRITICAL - 3 queues: v3 15%, low 5% | 'Lab\\x7C2\\x3Dx'=57%;20;10;0;100 "
       "'v3'=15%;20;10;0;100 'low'=5%;20;10;0;100\n",
       kAny},
      {"--nagios=20:10 status 127.0.4.3", 1,
       "USBINK WARNING - 127.0.4.3 toner 15% (SNMPv3) | 'toner'=15%;20;10;0;100\n", kAny},
      {"--nagios 20:10 status 127.0.4.9", 3,
       "USBINK UNKNOWN - no answer from 127.0.4.9 | 'toner'=U;20;10;0;100\n", kAny},
      {"--prometheus queues Lab|2=x nope", 1,
       "gauge usbink_scheduler_up  1.0\n"
       "gauge usbink_toner_level_percent kind='network',queue='Lab|2=x' 57.0\n"
       "gauge usbink_read_success kind='network',queue='Lab|2=x' 1.0\n"
       "gauge usbink_read_success kind='',queue='nope' 0.0\n",
       kAny},
      {"--prometheus identity 127.0.4.4", 0,
       "gauge usbink_printer_info address='127.0.4.4',firmware='FW1.0',mcu_firmware='MCU2.0',"
       "name='La\"s\\\\er\\n1' 1.0\ngauge usbink_read_success address='127.0.4.4' 1.0\n"},
  });
}

// A v2c GetResponse to `request` (request-id octet at 17 with the community
// "public") with `error` and the bindings (OID text, value TLV).
Bytes response(const Bytes& request, const std::vector<std::pair<std::string, Bytes>>& bindings,
               int error = 0) {
  std::array<unsigned char, 4096> area;
  BerBackWriter w(area);
  for (auto it = bindings.rbegin(); it != bindings.rend(); ++it) {
    const int mark = w.size();
    w.bytes(it->second);
    std::array<unsigned char, kOidEncodedMax> oid;
    w.bytes(oid.data(), static_cast<std::size_t>(CNetIO::oidEncode(it->first.c_str(), oid.data())));
    w.wrap(kBerObjectId, mark + static_cast<int>(it->second.size()));
    w.wrap(kBerSequence, mark);
  }
  w.wrap(kBerSequence, 0);
  w.integer(0);
  w.integer(static_cast<std::uint32_t>(error));
  w.integer(request.size() > 17 ? request[17] : 0);
  w.wrap(kPduGetResponse, 0);
  w.shortOctetString(reinterpret_cast<const unsigned char*>("public"), 6);
  w.integer(1);
  w.wrap(kBerSequence, 0);
  return {w.written().begin(), w.written().end()};
}

const Bytes kFifty = fromHex("020132");

// supplies from snmpd over v1, v2c and SNMPv3 with the test's own user, and
// from raw responders: the same object for ever, wrong types, a table cut by
// genErr, objects without end, answers slower than the budget allows.
TEST_F(QueryCli, ReadsSuppliesAndStopsCleanlyOnBadAgents) {
  const RawResponder loop("127.0.4.10", [](const Bytes& rq) {
    return std::vector<Bytes>{response(rq, {{kEntry + "9.1.1", kFifty}})};
  });
  const RawResponder types("127.0.4.11", [](const Bytes& rq) {
    return std::vector<Bytes>{response(rq, {{kEntry + "6.1.1", kFifty},
                                            {kEntry + "9.1.1", fromHex("04023530")},
                                            {"1.3", fromHex("8200")}})};
  });
  int served = 0;
  const RawResponder cut("127.0.4.12", [&](const Bytes& rq) {
    return std::vector<Bytes>{served++ == 0 ? response(rq, {{kEntry + "6.1.1", fromHex("040141")}})
                                            : response(rq, {}, 5)};
  });
  const RawResponder endless("127.0.4.13", [](const Bytes& rq) {
    // Each answer goes one further than the cursor the request carries.
    const auto asked = oidFromBer({rq.data() + 30, rq.size() - 32});
    const std::uint32_t last = asked && asked->size() > 10 ? asked->back() : 0;
    std::vector<std::pair<std::string, Bytes>> next;
    for (std::uint32_t i = 1; i <= 40; ++i)
      next.push_back({kEntry + "6.1." + std::to_string(last + i), kFifty});
    return std::vector<Bytes>{response(rq, next)};
  });
  const RawResponder slow("127.0.4.14", [](const Bytes& rq) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return std::vector<Bytes>{response(rq, {{kEntry + "6.1.1", fromHex("040141")}})};
  });
  const std::string table =
      "DESCRIPTION      TYPE        COLOUR   LEVEL\n"
      "Cyan Toner       toner       cyan     40%\n"
      "Magenta Toner    toner       magenta  65%\n"
      "Yellow Toner     toner       yellow   15%\n"
      "Black Toner      toner       black    8%\n"
      "Waste Toner Box  wasteToner           80% free\n"
      "Drum Unit        opc                  some remaining\n";
  const std::string raw = "protocol: SNMPv2c\nDESCRIPTION  TYPE  COLOUR  LEVEL\n";
  check({
      {"supplies 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv2c\n" + table},
      {"supplies --v1 127.0.4.2", 0, "address: 127.0.4.2\nprotocol: SNMPv1\n" + table},
      {"supplies --user=ops --auth-pass=ops-auth-1 --priv-pass ops-priv-1 127.0.4.2", 0,
       "address: 127.0.4.2\nprotocol: SNMPv3\n" + table},
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
      {"supplies 127.0.4.10", 1,
       "address: 127.0.4.10\n" + raw + "                           50 of unknown capacity\n",
       "stopped early: the agent answered 1.3.6.1.2.1.43.11.1.1.9.1.1 after "
       "1.3.6.1.2.1.43.11.1.1.9.1.1, which does not go forward"},
      {"supplies 127.0.4.11", 0,
       "address: 127.0.4.11\n" + raw + "                           not reported\n"},
      {"supplies 127.0.4.12", 1,
       "address: 127.0.4.12\n" + raw + "A                          not reported\n",
       "stopped early: the agent answered error status 5 (genErr) after "
       "1.3.6.1.2.1.43.11.1.1.6.1.1"},
      {"--json supplies 127.0.4.13", 1, kAny, "stopped early: more than 4096 values"},
      {"supplies --timeout=1 127.0.4.14", 1, kAny, "stopped early: the time budget ran out"},
  });
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost\n127.0.4.2 office.printers.test\n");
  return usbink::test::runInPrivateNetwork(argc, argv, {"fd00:4::2"});
}
