// Output for the monitoring systems administrators already run:
// Prometheus' text exposition format (node_exporter's textfile collector)
// and the Monitoring Plugins conventions of Nagios and Icinga. Queue and
// printer names are untrusted; every writer here escapes them for its
// format, so a hostile name can neither break a file apart nor drive a
// terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace usbink::query {

// Text for a terminal: what `printable` escapes (control bytes, DEL,
// ill-formed UTF-8, as \xHH) and also the C1 controls U+0080..U+009F (some
// terminals act on them as on ESC sequences) and the bidirectional
// overrides and isolates U+202A..U+202E, U+2066..U+2069 (which reorder the
// rest of the line), written as \u{HHHH}.
std::string terminalText(const std::string& text);

// --- Prometheus -----------------------------------------------------------

using Labels = std::vector<std::pair<std::string, std::string>>;

// A label value as the text format quotes it (without the quotes):
// backslash, double quote and new line escaped; other control bytes and
// ill-formed UTF-8 written as the four characters \xHH (an escaped
// backslash), so the file stays one valid UTF-8 line per sample.
std::string prometheusLabelValue(const std::string& value);

// Gauges collected by family and written as one exposition: every family's
// "# HELP" and "# TYPE" lines once, before all of its samples, families in
// the order they were first added. Metric and label names are the
// caller's constants ([a-zA-Z_:][a-zA-Z0-9_:]*); only values are escaped.
class PrometheusGauges {
 public:
  void add(const std::string& metric, const std::string& help, const Labels& labels, double value);
  std::string text() const;

 private:
  struct Family {
    std::string metric;
    std::string help;
    std::vector<std::string> samples;  // "{labels} value"
  };
  std::vector<Family> families_;
};

// --- Nagios / Icinga (Monitoring Plugins) ----------------------------------

enum class NagiosState { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

// Toner thresholds in percent: a level at or below `critical` is
// CRITICAL, at or below `warning` WARNING (a lower level is worse).
struct NagiosThresholds {
  int warning = 0;
  int critical = 0;
};

// Parses "WARN:CRIT": two whole numbers 0..100 with WARN >= CRIT; anything
// else (signs, spaces, ranges, WARN < CRIT) is refused.
std::optional<NagiosThresholds> parseNagiosThresholds(std::string_view text);

NagiosState nagiosState(int level, const NagiosThresholds& thresholds);

// The state that wins when several are combined: CRITICAL over WARNING
// over UNKNOWN over OK, so a printer that could not be read is never
// hidden behind one that is fine.
NagiosState worseState(NagiosState a, NagiosState b);

// "OK", "WARNING", "CRITICAL", "UNKNOWN"; the process exit status is the
// enum's value.
const char* nagiosStateName(NagiosState state);

// Text for the status line: what terminalText escapes, and "|" (which
// starts the performance data) as \x7C.
std::string nagiosText(const std::string& text);

// One performance datum 'label'=57%;WARN;CRIT;0;100, or 'label'=U;... when
// the level is unknown. The label is quoted; a quote inside it is doubled,
// "=" and "|" are written as \x3D and \x7C, control bytes as \xHH.
std::string nagiosPerfData(const std::string& label, std::optional<int> level,
                           const NagiosThresholds& thresholds);

// A whole plugin output line: "USBINK STATE - summary | perfdata...\n";
// untrusted parts of `summary` must come through nagiosText.
std::string nagiosLine(NagiosState state, const std::string& summary,
                       const std::vector<std::string>& perfData);

}  // namespace usbink::query
