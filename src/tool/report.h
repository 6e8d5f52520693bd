// The supply report: a property list describing the black toner cartridge.
#pragma once

#include <cstdio>

namespace usbink {

// Writes the report for `level` percent with the (already translated)
// `description` to `out`, in three pieces and without a line end.
void writeSupplyReport(std::FILE* out, const char* description, int level);

}  // namespace usbink
