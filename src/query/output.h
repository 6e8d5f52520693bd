// How usbink-query prints: plain "key: value" lines for people, or one JSON
// object per line for scripts. Values come from the network and are never
// trusted: control characters are escaped in both forms.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace usbink::query {

// One printed record: an ordered list of fields. A field is text, or a
// number when `numeric` is set.
struct Field {
  std::string key;
  std::string value;
  bool numeric = false;
};
using Record = std::vector<Field>;

// Length of the well-formed UTF-8 sequence at `s[i]` (i < s.size()), or 0
// for a byte that does not start one.
std::size_t utf8Length(const std::string& s, std::size_t i);

// Text with every byte below 0x20, 0x7F and every byte that is not part of
// well-formed UTF-8 written as \xHH, so a value cannot drive a terminal.
std::string printable(const std::string& value);
// A JSON string literal (with its quotes); ill-formed UTF-8 bytes become
// \u00HH (read as Latin-1), so the output is always valid JSON.
std::string jsonString(const std::string& value);

// Writes `record` to `out` as "key: value" lines (plain) or one JSON object
// on one line, and flushes, so that each result shows as it arrives.
void printRecord(std::FILE* out, const Record& record, bool json);

}  // namespace usbink::query
