// One run of the tool: from a queue identifier to the supply report.
#pragma once

struct PRINTER_STATUS;

namespace usbink {

// Exit statuses of the tool.
inline constexpr int kExitReported = 0;   // the report was written
inline constexpr int kExitNoAddress = 1;  // a network queue resolved to no address
inline constexpr int kExitFailed = 255;   // every other failure (exit(-1))

struct ToolSettings {
  const char* statusProgram;  // the USB status program, fixed at build time
  const char* localeDir;      // the message catalogues, fixed at build time
};

// Looks up the queue's device URI, reads the printer's status over USB or
// the network and writes the report to standard output. Returns the exit
// status.
int runQuery(const char* queue, const ToolSettings& settings);

// Asks each address of mDNSIP in turn, SNMP v1 first and SNMPv3 second; the
// first success fills `status` and ends the search. Returns kExitReported
// or kExitFailed.
int readStatusOfAddresses(PRINTER_STATUS* status);

}  // namespace usbink
