// How long a job's data waits for the usbink-levels filter: the time from
// submission (`lp`) to the first byte at the printer's data sink, for a
// printer that answers SNMPv3 only (a slow peer) and for a silent address,
// through a queue without the filter and through one with each given
// version of it. Whole jobs in a private cupsd, in a private network (needs
// root). Prints one line per printer and filter: the median over the jobs
// of the first byte and of the job's end (when `lpstat -o` no longer lists
// it, looked at every 10 ms), in milliseconds.
//
//   levels_filter_bench USBINK JOBS LABEL=FILTER_TEMPLATE...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/cupsd.h"
#include "support/netns.h"
#include "support/raw_responder.h"
#include "support/snmp_agents.h"

namespace usbink::test {
namespace {

// The bound written into every filter version that has one.
constexpr char kQueryBoundSeconds[] = "40";

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void substitute(std::string& text, const std::string& placeholder, const std::string& value) {
  for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder))
    text.replace(at, placeholder.size(), value);
}

struct Filter {
  std::string label, text;  // text "": a queue without the filter
};

struct Printer {
  std::string label, uri;
};

int bench(const std::string& usbink, int jobs, std::vector<Filter> filters) {
  const Printer printers[] = {{"snmpv3-only", "socket://127.0.18.2"},
                              {"silent", "socket://127.0.18.3"}};
  const SnmpdAgent v3Agent({.address4 = "127.0.18.2", .v1 = false});
  const RawResponder silent("127.0.18.3", [](const Bytes&) { return std::vector<Bytes>{}; });
  Cupsd cups;
  TempDir work("usbink-bench");
  chmod(work.path().c_str(), 0777);
  // The sink stamps the moment its first byte arrives, then takes the rest.
  // Without filters the scheduler hands the backend the file by name.
  cups.installProgram("backend/socket",
                      "#!/bin/sh\n[ -z \"$6\" ] || exec <\"$6\"\n"
                      "head -c 1 >/dev/null\ndate +%s.%N >\"" +
                          work.path() + "/first-$1\"\ncat >/dev/null\n");
  const std::string copy = cups.dir() + "/bin/filter/usbink";
  cups.installProgram("filter/usbink", readFile(usbink));
  // Each filter runs that copy, which the scheduler's unprivileged user can
  // reach.
  for (auto& f : filters) {
    substitute(f.text, "@USBINK_PROGRAM@", copy);
    substitute(f.text, "@USBINK_LEVELS_QUERY_SECONDS@", kQueryBoundSeconds);
  }
  const std::string ppd = USBINK_SOURCE_DIR "/tests/tool/data/levels.ppd";
  for (std::size_t p = 0; p < std::size(printers); ++p) {
    for (std::size_t f = 0; f < filters.size(); ++f) {
      const std::string queue = "q" + std::to_string(p) + "_" + std::to_string(f);
      cups.addQueue(queue, printers[p].uri, filters[f].text.empty() ? "" : ppd);
      runChecked({"lpadmin", "-h", cups.clientEnv().at("CUPS_SERVER"), "-p", queue,
                  "-E"});  // a PPD's does that
    }
  }
  const std::string job = work.file("job.txt");
  writeFile(job, std::string(4096, 'x') + "\n");
  const ProcessOptions env{cups.clientEnv()};

  // [printer][filter] -> samples; the versions take turns job by job.
  std::vector<std::vector<std::vector<double>>> first(std::size(printers)),
      done(std::size(printers));
  for (std::size_t p = 0; p < std::size(printers); ++p) {
    first[p].resize(filters.size());
    done[p].resize(filters.size());
  }
  for (int i = 0; i < jobs; ++i) {
    for (std::size_t p = 0; p < std::size(printers); ++p) {
      for (std::size_t f = 0; f < filters.size(); ++f) {
        if (!filters[f].text.empty()) cups.installProgram("filter/usbink-levels", filters[f].text);
        const std::string queue = "q" + std::to_string(p) + "_" + std::to_string(f);
        const double submitted = nowSeconds();
        const auto lp = run({"lp", "-d", queue, job}, env);
        // "request id is QUEUE-ID (1 file(s))"
        const auto dash = lp.out.find(queue + "-");
        if (lp.exitCode != 0 || dash == std::string::npos)
          throw std::runtime_error("lp: " + lp.err);
        const std::string id = std::to_string(std::atoi(lp.out.c_str() + dash + queue.size() + 1));
        const std::string stamp = work.file("first-" + id);
        if (!waitFor([&] { return readFile(stamp).find('\n') != std::string::npos; },
                     std::chrono::seconds(60))) {
          throw std::runtime_error("no data reached the printer of " + queue);
        }
        if (!waitFor(
                [&] {
                  return run({"lpstat", "-o", queue}, env).out.empty();
                },
                std::chrono::seconds(60))) {
          throw std::runtime_error("the job on " + queue + " did not end");
        }
        done[p][f].push_back((nowSeconds() - submitted) * 1e3);
        first[p][f].push_back((std::stod(readFile(stamp)) - submitted) * 1e3);
      }
    }
  }
  std::printf("%-12s %-8s %16s %12s\n", "printer", "filter", "first byte (ms)", "job end (ms)");
  for (std::size_t p = 0; p < std::size(printers); ++p) {
    for (std::size_t f = 0; f < filters.size(); ++f) {
      std::printf("%-12s %-8s %16.0f %12.0f\n", printers[p].label.c_str(), filters[f].label.c_str(),
                  median(first[p][f]), median(done[p][f]));
    }
  }
  return 0;
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  using namespace usbink::test;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s USBINK JOBS LABEL=FILTER_TEMPLATE...\n", argv[0]);
    return 2;
  }
  if (geteuid() != 0) {
    std::fprintf(stderr, "this benchmark needs root (network namespaces, UDP port 161)\n");
    return 1;
  }
  try {
    enterPrivateNetwork();
    std::vector<Filter> filters = {{"none", ""}};
    for (int i = 3; i < argc; ++i) {
      const std::string arg = argv[i];
      const auto equals = arg.find('=');
      if (equals == std::string::npos) throw std::runtime_error("not LABEL=FILE: " + arg);
      Filter f{arg.substr(0, equals), readFile(arg.substr(equals + 1))};
      if (f.text.empty()) throw std::runtime_error("cannot read " + arg.substr(equals + 1));
      filters.push_back(std::move(f));
    }
    return bench(argv[1], std::atoi(argv[2]), filters);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "levels_filter_bench: %s\n", e.what());
    return 1;
  }
}
