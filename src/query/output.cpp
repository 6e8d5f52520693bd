#include "query/output.h"

#include <cstring>

namespace usbink::query {

std::size_t utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n;
  unsigned long min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  unsigned long code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < min || code > 0x10FFFF || surrogate ? 0 : n;
}

namespace {

std::string hexByte(const char* prefix, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%s%02X", prefix, c);
  return buf;
}

// Copies `value`, writing each control byte and each byte outside
// well-formed UTF-8 as `prefix` and two hex digits, and each character in
// `quoted` behind a backslash.
std::string escape(const std::string& value, const char* prefix, const char* quoted) {
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    const auto c = static_cast<unsigned char>(value[i]);
    const std::size_t n = utf8Length(value, i);
    if (n == 0 || c < 0x20 || c == 0x7F) {
      out += hexByte(prefix, c);
      ++i;
      continue;
    }
    if (n == 1 && c != 0 && std::strchr(quoted, c) != nullptr) out += '\\';
    out.append(value, i, n);
    i += n;
  }
  return out;
}

}  // namespace

std::string printable(const std::string& value) { return escape(value, "\\x", ""); }

std::string jsonString(const std::string& value) {
  return "\"" + escape(value, "\\u00", "\"\\") + "\"";
}

void printRecord(std::FILE* out, const Record& record, bool json) {
  if (json) {
    std::string line = "{";
    for (const auto& f : record) {
      if (line.size() > 1) line += ",";
      line += jsonString(f.key) + ":" + (f.numeric ? f.value : jsonString(f.value));
    }
    std::fprintf(out, "%s}\n", line.c_str());
  } else {
    for (const auto& f : record) std::fprintf(out, "%s: %s\n", f.key.c_str(), printable(f.value).c_str());
  }
  std::fflush(out);
}

}  // namespace usbink::query
