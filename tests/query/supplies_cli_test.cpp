// usbink-query supplies against real agents (snmpd serving Printer-MIB
// tables over v1, v2c and SNMPv3 with the test's own user) and against raw
// responders for what no real agent sends: loops, wrong types, a table cut
// by an error, objects without end, an agent too slow for the budget.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "snmp/ber_back_writer.h"
#include "snmp/walk_message.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

const std::string kEntry = "1.3.6.1.2.1.43.11.1.1.";

ProcessResult query(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {USBINK_QUERY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

struct Row {
  const char* description;
  int supplyClass, type, max, level, colorant;
};

// snmpd.conf lines serving `rows` and the colorants' names.
std::string printerMib(const std::vector<Row>& rows, const std::vector<std::string>& colours) {
  std::string conf;
  const auto line = [&](const std::string& oid, const std::string& value) {
    conf += "override ." + oid + " " + value + "\n";
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string at = ".1." + std::to_string(i + 1);
    const Row& r = rows[i];
    line(kEntry + "3" + at, "integer " + std::to_string(r.colorant));
    line(kEntry + "4" + at, "integer " + std::to_string(r.supplyClass));
    line(kEntry + "5" + at, "integer " + std::to_string(r.type));
    line(kEntry + "6" + at, std::string("octet_str \"") + r.description + "\"");
    line(kEntry + "7" + at, "integer 19");
    line(kEntry + "8" + at, "integer " + std::to_string(r.max));
    line(kEntry + "9" + at, "integer " + std::to_string(r.level));
  }
  for (std::size_t i = 0; i < colours.size(); ++i) {
    line("1.3.6.1.2.1.43.12.1.1.4.1." + std::to_string(i + 1), "octet_str \"" + colours[i] + "\"");
  }
  return conf;
}

// A v2c GetResponse to `request` (whose request-id octet sits at 17 with
// the community "public") with `error` and the bindings (OID text, value TLV).
Bytes response(const Bytes& request, const std::vector<std::pair<std::string, Bytes>>& bindings,
               int error = 0) {
  std::array<unsigned char, 4096> area;
  BerBackWriter w(area);
  for (auto it = bindings.rbegin(); it != bindings.rend(); ++it) {
    const int mark = w.size();
    w.bytes(it->second);
    std::array<unsigned char, kOidEncodedMax> oid;
    const int n = CNetIO::oidEncode(it->first.c_str(), oid.data());
    w.bytes(oid.data(), static_cast<std::size_t>(n));
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
const Bytes kEnd = fromHex("8200");

TEST(SuppliesCli, ReadsRealAgentsAndStopsCleanlyOnBadOnes) {
  const std::string colourRows = printerMib(
      {{"Cyan Toner", 3, 3, 100, 40, 1},
       {"Magenta Toner", 3, 3, 100, 65, 2},
       {"Yellow Toner", 3, 3, 100, 15, 3},
       {"Black Toner", 3, 3, 100, 8, 4},
       {"Waste Toner Box", 4, 4, 100, 80, 0},
       {"Drum Unit", 3, 9, -2, -3, 0}},
      {"cyan", "magenta", "yellow", "black"});
  const SnmpdAgent colour({.address4 = "127.0.17.2", .v1 = false, .v3 = false,
                           .serveDeviceId = false, .serveVersions = false,
                           .snmpdLines = "rocommunity public\n" + colourRows});
  const SnmpdAgent black({.address4 = "127.0.17.3", .v1 = false, .v3 = false,
                          .serveDeviceId = false, .serveVersions = false,
                          .snmpdLines = "rocommunity office\n" +
                                        printerMib({{"Black Cartridge", 3, 21, 7000, 3500, 1}},
                                                   {"black"})});
  const SnmpdAgent v3only(
      {.address4 = "127.0.17.4", .v1 = false, .v3 = false, .serveDeviceId = false,
       .serveVersions = false,
       .snmpdLines = "createUser ops MD5 \"ops-auth-1\" DES \"ops-priv-1\"\nrouser ops priv\n" +
                     colourRows});
  // Raw responders: the same object for ever; wrong types; a table cut by
  // genErr; objects without end; answers slower than the budget allows.
  const RawResponder loop("127.0.17.10", [](const Bytes& rq) {
    return std::vector<Bytes>{response(rq, {{kEntry + "9.1.1", kFifty}})};
  });
  const RawResponder types("127.0.17.11", [](const Bytes& rq) {
    return std::vector<Bytes>{response(
        rq, {{kEntry + "6.1.1", kFifty}, {kEntry + "9.1.1", fromHex("04023530")}, {"1.3", kEnd}})};
  });
  int served = 0;
  const RawResponder cut("127.0.17.12", [&](const Bytes& rq) {
    return std::vector<Bytes>{served++ == 0 ? response(rq, {{kEntry + "6.1.1", fromHex("040141")}})
                                            : response(rq, {}, 5)};
  });
  const RawResponder endless("127.0.17.13", [](const Bytes& rq) {
    std::vector<std::pair<std::string, Bytes>> next;
    // Each answer goes one further than the cursor the request carries.
    const auto asked = oidFromBer({rq.data() + 30, rq.size() - 32});
    const std::uint32_t last = asked && asked->size() > 10 ? asked->back() : 0;
    for (std::uint32_t i = 1; i <= 40; ++i) next.push_back({kEntry + "6.1." + std::to_string(last + i), kFifty});
    return std::vector<Bytes>{response(rq, next)};
  });
  const RawResponder slow("127.0.17.14", [](const Bytes& rq) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return std::vector<Bytes>{response(rq, {{kEntry + "6.1.1", fromHex("040141")}})};
  });

  const std::string colourTable =
      "DESCRIPTION      TYPE        COLOUR   LEVEL\n"
      "Cyan Toner       toner       cyan     40%\n"
      "Magenta Toner    toner       magenta  65%\n"
      "Yellow Toner     toner       yellow   15%\n"
      "Black Toner      toner       black    8%\n"
      "Waste Toner Box  wasteToner           80% free\n"
      "Drum Unit        opc                  some remaining\n";
  const std::string v3 = "--user=ops";
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string out, err;  // err: a part of standard error
  } cases[] = {
      {{"supplies", "127.0.17.2"}, 0, "address: 127.0.17.2\nprotocol: SNMPv2c\n" + colourTable, ""},
      {{"supplies", "--v1", "127.0.17.2"}, 0, "address: 127.0.17.2\nprotocol: SNMPv1\n" + colourTable, ""},
      {{"supplies", "--user", "ops", "--auth-pass", "ops-auth-1", "--priv-pass", "ops-priv-1",
        "127.0.17.4"}, 0, "address: 127.0.17.4\nprotocol: SNMPv3\n" + colourTable, ""},
      {{"--json", "supplies", "--community=office", "127.0.17.3"}, 0,
       "{\"address\":\"127.0.17.3\",\"protocol\":\"SNMPv2c\",\"complete\":true,\"supplies\":[{"
       "\"index\":\"1.1\",\"description\":\"Black Cartridge\",\"class\":\"consumed\",\"type\":"
       "\"tonerCartridge\",\"colour\":\"black\",\"unit\":19,\"max\":7000,\"level\":3500,"
       "\"percent\":50,\"level-text\":\"50%\"}]}\n", ""},
      {{"supplies", "--nagios", "20:10", "--community", "office", "127.0.17.3"}, 0,
       "USBINK OK - lowest Black Cartridge 50% | 'Black Cartridge'=50%;20;10;0;100\n", ""},
      {{"supplies", v3, "--auth-pass=ops-auth-1", "--priv-pass=wrong-priv", "--timeout=1", "127.0.17.4"},
       1, "",
       "no authenticated answer (wrong user or pass phrases"},
      {{"supplies", v3, "--auth-pass=ops-auth-1", "--auth-proto=SHA", "127.0.17.4"}, 2, "",
       "authentication protocol SHA is not supported (MD5 only)"},
      {{"supplies", "--timeout=1", "127.0.17.4"}, 1, "", "no answer (wrong community"},
      {{"supplies", "127.0.17.10"}, 1,
       "address: 127.0.17.10\nprotocol: SNMPv2c\nDESCRIPTION  TYPE  COLOUR  LEVEL\n"
       "                           50 of unknown capacity\n",
       "stopped early: the agent answered 1.3.6.1.2.1.43.11.1.1.9.1.1 after "
       "1.3.6.1.2.1.43.11.1.1.9.1.1, which does not go forward"},
      {{"supplies", "127.0.17.11"}, 0,
       "address: 127.0.17.11\nprotocol: SNMPv2c\nDESCRIPTION  TYPE  COLOUR  LEVEL\n"
       "                           not reported\n", ""},
      {{"supplies", "127.0.17.12"}, 1,
       "address: 127.0.17.12\nprotocol: SNMPv2c\nDESCRIPTION  TYPE  COLOUR  LEVEL\n"
       "A                          not reported\n",
       "stopped early: the agent answered error status 5 (genErr) after "
       "1.3.6.1.2.1.43.11.1.1.6.1.1"},
      {{"--json", "supplies", "127.0.17.13"}, 1, "", "stopped early: more than 4096 values"},
      {{"supplies", "--timeout=1", "127.0.17.14"}, 1, "", "stopped early: the time budget ran out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1] + " " + c.args.back());
    const auto r = query(c.args);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    if (!c.out.empty()) {
      EXPECT_EQ(r.out, c.out);
    }
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    }
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv, {});
}
