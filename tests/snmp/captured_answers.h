// GetResponses captured from snmpd 5.9 and pysnmp 4.4, kept as the v1 parser's fuzz seeds.
#pragma once

#include <stdexcept>
#include <string>

#include "support/process.h"
#include "support/raw_responder.h"

namespace usbink::test {

// `name`: device_id (232 octets, lengths in the 0x81 form), long_device_id (more fields before the
// status block, the 0x82 form), both ending in deviceIdWithToner(42); no_such_name (the missing
// controller firmware: error-index 1, NULL echoed); sys_name; sys_object_id.
inline Bytes capturedAnswer(const std::string& name) {
  const std::string path = USBINK_SOURCE_DIR "/fuzz/corpus/fuzz_v1_response/" + name + ".parse";
  const std::string seed = readFile(path);
  if (seed.empty()) throw std::runtime_error("no fuzz seed " + path);
  return Bytes(seed.begin() + 1, seed.end());  // after the octet that picks the fuzzed consumer
}

}  // namespace usbink::test
