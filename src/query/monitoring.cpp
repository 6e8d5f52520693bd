#include "query/monitoring.h"

#include <charconv>
#include <cstdio>

#include "query/output.h"

namespace usbink::query {
namespace {

constexpr int kPercentMax = 100;

std::string hexEscape(unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02X", c);
  return buf;
}

// Code point of the well-formed sequence of length `n` at `s[i]`.
unsigned long codePoint(const std::string& s, std::size_t i, std::size_t n) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (n == 1) return lead;
  unsigned long code = lead & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) code = (code << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return code;
}

// Characters a terminal acts on although they are well-formed UTF-8.
bool actsOnTerminal(unsigned long code) {
  return (code >= 0x80 && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

// Copies `text` with `special` characters replaced by their escapes.
template <typename Special>
std::string replaceAscii(const std::string& text, Special special) {
  std::string out;
  for (const char c : text) {
    const std::string replacement = special(c);
    out += replacement.empty() ? std::string(1, c) : replacement;
  }
  return out;
}

std::string formatNumber(double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace

std::string terminalText(const std::string& text) {
  // `printable` leaves only well-formed UTF-8 and ASCII escapes behind.
  const std::string safe = printable(text);
  std::string out;
  for (std::size_t i = 0; i < safe.size();) {
    const std::size_t n = utf8Length(safe, i);
    const unsigned long code = codePoint(safe, i, n);
    if (actsOnTerminal(code)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u{%04lX}", code);
      out += buf;
    } else {
      out.append(safe, i, n);
    }
    i += n;
  }
  return out;
}

std::string prometheusLabelValue(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    const auto c = static_cast<unsigned char>(value[i]);
    const std::size_t n = utf8Length(value, i);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (n == 0 || c < 0x20 || c == 0x7F) {
      out += "\\" + hexEscape(c);  // the text \xHH, its backslash escaped
      i += 1;
      continue;
    } else {
      out.append(value, i, n);
      i += n;
      continue;
    }
    i += 1;
  }
  return out;
}

void PrometheusGauges::add(const std::string& metric, const std::string& help,
                           const Labels& labels, double value) {
  std::string sample;
  for (const auto& [name, labelValue] : labels) {
    sample += (sample.empty() ? "{" : ",") + name + "=\"" + prometheusLabelValue(labelValue) + "\"";
  }
  if (!sample.empty()) sample += "}";
  sample += " " + formatNumber(value);
  for (auto& family : families_) {
    if (family.metric == metric) {
      family.samples.push_back(sample);
      return;
    }
  }
  families_.push_back({metric, help, {sample}});
}

std::string PrometheusGauges::text() const {
  std::string out;
  for (const auto& family : families_) {
    // HELP text escapes backslash and new line only.
    const std::string help = replaceAscii(family.help, [](char c) -> std::string {
      if (c == '\\') return "\\\\";
      if (c == '\n') return "\\n";
      return "";
    });
    out += "# HELP " + family.metric + " " + help + "\n";
    out += "# TYPE " + family.metric + " gauge\n";
    for (const auto& sample : family.samples) out += family.metric + sample + "\n";
  }
  return out;
}

std::optional<NagiosThresholds> parseNagiosThresholds(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto number = [](std::string_view part) -> std::optional<int> {
    int value = 0;
    const char* end = part.data() + part.size();
    if (part.empty() || part[0] < '0' || part[0] > '9') return std::nullopt;
    const auto result = std::from_chars(part.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || value > kPercentMax) return std::nullopt;
    return value;
  };
  const auto warning = number(text.substr(0, colon));
  const auto critical = number(text.substr(colon + 1));
  if (!warning || !critical || *warning < *critical) return std::nullopt;
  return NagiosThresholds{*warning, *critical};
}

NagiosState nagiosState(int level, const NagiosThresholds& thresholds) {
  if (level <= thresholds.critical) return NagiosState::kCritical;
  if (level <= thresholds.warning) return NagiosState::kWarning;
  return NagiosState::kOk;
}

NagiosState worseState(NagiosState a, NagiosState b) {
  const auto rank = [](NagiosState s) {
    switch (s) {
      case NagiosState::kOk: return 0;
      case NagiosState::kUnknown: return 1;
      case NagiosState::kWarning: return 2;
      case NagiosState::kCritical: return 3;
    }
    return 1;
  };
  return rank(a) >= rank(b) ? a : b;
}

const char* nagiosStateName(NagiosState state) {
  switch (state) {
    case NagiosState::kOk: return "OK";
    case NagiosState::kWarning: return "WARNING";
    case NagiosState::kCritical: return "CRITICAL";
    case NagiosState::kUnknown: return "UNKNOWN";
  }
  return "UNKNOWN";
}

std::string nagiosText(const std::string& text) {
  return replaceAscii(terminalText(text), [](char c) -> std::string {
    return c == '|' ? hexEscape('|') : "";
  });
}

std::string nagiosPerfData(const std::string& label, std::optional<int> level,
                           const NagiosThresholds& thresholds) {
  const std::string quoted = replaceAscii(terminalText(label), [](char c) -> std::string {
    if (c == '\'') return "''";
    if (c == '=' || c == '|') return hexEscape(static_cast<unsigned char>(c));
    return "";
  });
  const std::string value = level ? std::to_string(*level) + "%" : "U";
  return "'" + quoted + "'=" + value + ";" + std::to_string(thresholds.warning) + ";" +
         std::to_string(thresholds.critical) + ";0;" + std::to_string(kPercentMax);
}

std::string nagiosLine(NagiosState state, const std::string& summary,
                       const std::vector<std::string>& perfData) {
  std::string line = std::string("USBINK ") + nagiosStateName(state) + " - " + summary;
  if (!perfData.empty()) {
    line += " |";
    for (const auto& datum : perfData) line += " " + datum;
  }
  return line + "\n";
}

}  // namespace usbink::query
