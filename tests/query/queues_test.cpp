// usbink-query's administrator outputs against a private cupsd and real
// agents: `queues` in every format, the monitoring formats of `status` and
// `identity` read back by Prometheus' own parser, host names.
#include <gtest/gtest.h>

#include <string>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

// Prometheus' text parser (python3-prometheus-client): one line per sample,
// "name label=value,... value", labels sorted, values as Python shows them.
constexpr char kParse[] = R"(
import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(sys.stdin.read()):
    for s in family.samples:
        labels = ",".join(f"{k}={v!r}" for k, v in sorted(s.labels.items()))
        print(family.type, s.name, labels, s.value))";

class Queues : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cups = new Cupsd;
    agents[0] = new SnmpdAgent({.address4 = "127.0.5.2", .toner = 57});
    agents[1] = new SnmpdAgent({.address4 = "127.0.5.3", .v1 = false, .toner = 15});
    hostile = new PysnmpAgent({.address4 = "127.0.5.4", .toner = 5, .sysName = "La\"s\\er\n1"});
    for (const auto& [name, uri] : {std::pair{"Lab|2=x", "socket://127.0.5.2"},
                                    {"v3", "socket://127.0.5.3"},
                                    {"low", "ipp://127.0.5.4/"},
                                    {"silent", "socket://127.0.5.9"},
                                    {"serial", "serial:/dev/null"},
                                    {"die", "socket://127.0.5.2"}}) {
      cups->addQueue(name, uri);
    }
    // usbink, except that the process for queue "die" is killed.
    writeFile(dir->file("usbink"),
              "#!/bin/sh\n[ \"$1\" = die ] && kill -9 $$\nexec " USBINK_TOOL " \"$1\"\n", 0755);
  }
  static void TearDownTestSuite() {
    delete hostile;
    delete agents[1];
    delete agents[0];
    delete cups;
    delete dir;
  }
  static ProcessResult query(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv = {USBINK_QUERY};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = cups->clientEnv();
    env["USBINK_PROGRAM"] = dir->file("usbink");
    auto r = run(argv, withEnv(env));
    if (!input.empty()) {
      writeFile(dir->file("exposition"), r.out);
      r.out = run({"sh", "-c", std::string(USBINK_PYTHON) + " -c '" + kParse + "' < " +
                                   dir->file("exposition")})
                  .out;
    }
    return r;
  }
  static inline TempDir* dir = new TempDir("usbink-queues");
  static inline Cupsd* cups = nullptr;
  static inline SnmpdAgent* agents[2] = {};
  static inline PysnmpAgent* hostile = nullptr;
};

TEST_F(Queues, ReportsEveryQueueInEachFormat) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string parse = "";  // "prometheus": read back by the real parser
  } cases[] = {
      {{"queues", "--jobs", "2"},
       1,
       "die\tnetwork\tusbink died\nLab|2=x\tnetwork\t57%\nlow\tnetwork\t5%\nserial\tnetwork\tno "
       "address\nsilent\tnetwork\tno answer\nv3\tnetwork\t15%\n"},
      {{"--json", "queues", "v3", "nope"},
       1,
       "{\"queue\":\"v3\",\"kind\":\"network\",\"level\":15}\n"
       "{\"queue\":\"nope\",\"kind\":\"\",\"reason\":\"no such queue\"}\n"},
      {{"--nagios", "20:10", "queues", "Lab|2=x", "v3", "low"},
       2,
       "USBINK CRITICAL - 3 queues: v3 15%, low 5% | 'Lab\\x7C2\\x3Dx'=57%;20;10;0;100 "
       "'v3'=15%;20;10;0;100 'low'=5%;20;10;0;100\n"},
      {{"--nagios=20:10", "status", "127.0.5.3"},
       1,
       "USBINK WARNING - 127.0.5.3 toner 15% (SNMPv3) | 'toner'=15%;20;10;0;100\n"},
      {{"--nagios", "20:10", "status", "127.0.5.9"},
       3,
       "USBINK UNKNOWN - no answer from 127.0.5.9 | 'toner'=U;20;10;0;100\n"},
      {{"--prometheus", "queues", "Lab|2=x", "nope"},
       1,
       "gauge usbink_scheduler_up  1.0\n"
       "gauge usbink_toner_level_percent kind='network',queue='Lab|2=x' 57.0\n"
       "gauge usbink_read_success kind='network',queue='Lab|2=x' 1.0\n"
       "gauge usbink_read_success kind='',queue='nope' 0.0\n",
       "prometheus"},
      {{"--prometheus", "identity", "127.0.5.4"},
       0,
       "gauge usbink_printer_info address='127.0.5.4',firmware='FW1.0',mcu_firmware='MCU2.0',"
       "name='La\"s\\\\er\\n1' 1.0\ngauge usbink_read_success address='127.0.5.4' 1.0\n",
       "prometheus"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const auto r = query(c.args, c.parse);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(Queues, ResolvesNamesAndNamesWhatIsWrong) {
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int exitCode;
    std::string out, err;
  } cases[] = {
      {{"--verbose", "status", "office.printers.test"}, {}, 0,
       "address: 127.0.5.2\nprotocol: SNMPv1\nlevel: 57\n",
       "usbink-query: office.printers.test is 127.0.5.2\n"},
      {{"status", "gone.printers.test"}, {}, 1, "",
       "usbink-query: cannot resolve 'gone.printers.test': "},
      {{"queues", "a"}, {{"CUPS_SERVER", "/nonexistent/cups.sock"}}, 1, "a\t-\tno scheduler\n",
       "usbink-query: queues: no scheduler answers at /nonexistent/cups.sock\n"},
      {{"bogus", "127.0.5.2"}, {}, 2, "",
       "usbink-query: unknown command 'bogus'\nTry 'usbink-query --help' for more information.\n"},
      {{"discover", "--target=1.3.x"}, {}, 2, "",
       "usbink-query: bad object identifier '1.3.x' for '--target'\nTry 'usbink-query --help' "
       "for more information.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> argv = {USBINK_QUERY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = run(argv, withEnv(c.env));
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost\n127.0.5.2 office.printers.test\n");
  return usbink::test::runInPrivateNetwork(argc, argv);
}
