// snmpd and pysnmp agents at UDP port 161 serving the printer's objects and the USM user.
#pragma once

#include <optional>
#include <string>

#include "support/process.h"

namespace usbink::test {

struct AgentConfig {
  std::string address4{}, address6{};     // addresses to listen on ("" for none)
  bool v1 = true;                         // answer community "mirtal"
  std::string engineId{};                 // hex; "" derives one with the 80 00 02 A2 prefix
  int toner = 42;                         // level in the default device ID's status block
  std::optional<std::string> deviceId{};  // replaces the default device ID; nullopt keeps it
  bool serveDeviceId = true;              // false: the object is missing
  std::string sysName = "Laser-Agent", sysObjectId = "1.3.6.1.4.1.26266.886.1.1";
  std::string fwVersion = "FW1.0", mcuVersion = "MCU2.0";
  std::string snmpdLines{};  // further snmpd.conf lines (SnmpdAgent only)
};

// A printer's device ID, and its Base64 status block (byte 0 `toner`, then 1..107).
std::string deviceIdWithToner(int toner);
std::string statusBlockWithToner(int toner);

struct SnmpdAgent {
  explicit SnmpdAgent(const AgentConfig& config);
  TempDir m_dir{"usbink-snmpd"};
  Child m_child;
};

struct PysnmpAgent {
  explicit PysnmpAgent(const AgentConfig& config);
  TempDir m_dir{"usbink-pysnmp"};
  Child m_child;
};

}  // namespace usbink::test
