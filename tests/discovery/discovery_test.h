// What the discovery test binaries share: the printers, brought up once per
// binary, and a callback that records what a search reports.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discovery/printers.h"

namespace usbink::test {

// Every address text a search reported, in order.
struct Reports {
  std::vector<std::string> addresses;
  // How often each address was reported.
  std::map<std::string, int> counts() const;
};

// The discovery callback: appends the address to the Reports at `user`.
bool record(char* address, char* info, void* user);

// The printers of this test binary.
DiscoveryPrinters& printers();

// Starts the printers before the first test and stops them after the last.
class PrintersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// Forgets the interface a discovery remembered, as at process start.
void forgetInterface();
// Remembers client interface `i` as a discovery would.
void rememberClientInterface(int i);

// main() of a discovery test binary.
int runDiscoveryTests(int argc, char** argv);

}  // namespace usbink::test
