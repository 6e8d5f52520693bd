// Every socket a status read opens is closed on every way out, answered or
// not: thousands of reads leave the open-descriptor count as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/snmp_agents.h"
#include "usbink/netio.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

std::size_t openDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

int readRepeatedly(bool (*read)(const char*, const char*, PRINTER_STATUS*),
                   const std::string& address, int count) {
  int succeeded = 0;
  for (int i = 0; i < count; ++i) {
    PRINTER_STATUS status{};
    if (read("mirtal", address.c_str(), &status) && status.tonerLevel == 42) ++succeeded;
  }
  return succeeded;
}

// 1000 v1 reads against snmpd (one that misses its 50 ms under load fails),
// and 200 complete SNMPv3 reads against an agent whose empty datagram after
// each answer ends the exchange's one-second waits at once.
TEST(Resources, ManyReadsKeepTheDescriptorCount) {
  const SnmpdAgent snmpd({.address4 = "127.0.9.2"});
  const Bytes engine = fromHex("800002a20409");
  const Bytes answer = securedAnswer(engine, {{fromHex("2b0601040181cd1a8676822c8271c253010100"),
                                               0x04, text(deviceIdWithToner(42))}});
  const auto scripted =
      scriptedAgents({{engine, [answer](const Bytes&) { return std::vector<Bytes>{answer}; }}});
  RawResponder agent("127.0.9.4", [scripted](const Bytes& request) {
    auto out = scripted(request);
    out.push_back({});
    return out;
  });
  readRepeatedly(NetworkReadStatus, "127.0.9.2", 1);  // the resolver's first use
  readRepeatedly(NetworkReadStatusSNMPv3, "127.0.9.4", 1);
  const std::size_t before = openDescriptors();
  const int succeeded = readRepeatedly(NetworkReadStatus, "127.0.9.2", 1000);
  std::printf("[resources] v1: %d of 1000 reads succeeded\n", succeeded);
  EXPECT_GE(succeeded, 990);
  EXPECT_EQ(readRepeatedly(NetworkReadStatus, "127.0.9.3", 20), 0);  // nobody there
  EXPECT_EQ(readRepeatedly(NetworkReadStatusSNMPv3, "127.0.9.4", 200), 200);
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  return usbink::test::runInPrivateNetwork(argc, argv);
}
