#include "discovery/discovery_test.h"

#include <cstdio>

#include "support/netns.h"
#include "usbink/interfaces.h"

namespace usbink::test {
namespace {

std::unique_ptr<DiscoveryPrinters> g_printers;

}  // namespace

std::map<std::string, int> Reports::counts() const {
  std::map<std::string, int> out;
  for (const auto& a : addresses) ++out[a];
  return out;
}

bool record(char* address, char* info, void* user) {
  EXPECT_EQ(info, nullptr);
  static_cast<Reports*>(user)->addresses.emplace_back(address);
  return true;
}

DiscoveryPrinters& printers() {
  return *g_printers;
}

void PrintersEnvironment::SetUp() {
  g_printers = std::make_unique<DiscoveryPrinters>();
}
void PrintersEnvironment::TearDown() {
  g_printers.reset();
}

void forgetInterface() {
  scope_id = 0;
  std::snprintf(g_ifsName, kIfsNameSize, "%%en0");
}

void rememberClientInterface(int i) {
  scope_id = DiscoverySegment::clientIndex(i);
  std::snprintf(g_ifsName, kIfsNameSize, "%%%s", kClientInterfaces[i]);
}

int runDiscoveryTests(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new PrintersEnvironment);
  return runInPrivateNetwork(argc, argv);
}

}  // namespace usbink::test
