// usbink-query's escaping, Prometheus families, Nagios states and Printer-MIB supplies.
#include "query/output.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "query/monitoring.h"
#include "query/supplies.h"
#include "usbink/ber.h"

namespace usbink::query {
namespace {

TEST(QueryOutput, EscapesUntrustedTextForEachFormat) {
  const std::tuple<std::string (*)(const std::string&), std::string, std::string> rows[] = {
      {printable, "caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
      {printable, "a\x1B[2Jb\n\x7F", "a\\x1B[2Jb\\x0A\\x7F"},
      {printable, std::string("x\0y", 3), "x\\x00y"},
      // Lone continuation, cut sequence, overlong form, surrogate.
      {printable, "\x80\xC3 \xC0\xAF \xED\xA0\x80", "\\x80\\xC3 \\xC0\\xAF \\xED\\xA0\\x80"},
      {jsonString, "Laser \"5\" \\ x", "\"Laser \\\"5\\\" \\\\ x\""},
      {jsonString, "a\nb\x01\xFF", "\"a\\u000Ab\\u0001\\u00FF\""},
      {jsonString, "caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {terminalText, "caf\xC3\xA9 \x1B[2J", "caf\xC3\xA9 \\x1B[2J"},
      {terminalText, "a\u009B31mb\u202E", "a\\u{009B}31mb\\u{202E}"},
      {prometheusLabelValue, "a\\b\"c\nd", "a\\\\b\\\"c\\nd"},
      {prometheusLabelValue, "t\tx\xFF", "t\\\\x09x\\\\xFF"},
      {nagiosText, "Lab|1\nx", "Lab\\x7C1\\x0Ax"}};
  for (const auto& [escape, in, out] : rows) EXPECT_EQ(escape(in), out) << in;
}

TEST(QueryOutput, WritesEachPrometheusFamilyOnce) {
  PrometheusGauges g;
  g.add("a", "x\\y", {{"q", "1"}}, 57);
  g.add("b", "h", {{"q", "1"}}, 1);
  g.add("a", "x\\y", {{"q", "2\""}, {"k", "u"}}, 3);
  EXPECT_EQ(g.text(),
            "# HELP a x\\\\y\n# TYPE a gauge\na{q=\"1\"} 57\na{q=\"2\\\"\",k=\"u\"} 3\n"
            "# HELP b h\n# TYPE b gauge\nb{q=\"1\"} 1\n");
}

TEST(QueryOutput, ParsesNagiosThresholdsAndRatesLevels) {
  using enum NagiosState;
  for (auto [text, level, state] : {std::tuple{"20:10", 57, kOk},
                                    {"20:10", 20, kWarning},
                                    {"20:10", 10, kCritical},
                                    {"0:0", 0, kCritical}})
    EXPECT_EQ(nagiosState(level, parseNagiosThresholds(text).value()), state) << text << level;
  for (const char* bad : {"10:20", "20", "-1:0", "101:5", "20:1x", " 20:10", "+20:10", ""})
    EXPECT_FALSE(parseNagiosThresholds(bad)) << bad;
  EXPECT_EQ(worseState(kOk, kUnknown), kUnknown);
  EXPECT_EQ(worseState(kUnknown, kWarning), kWarning);
  EXPECT_EQ(worseState(kCritical, kWarning), kCritical);
  const NagiosThresholds t{20, 10};
  EXPECT_EQ(
      nagiosLine(kOk, "57%", {nagiosPerfData("toner", 57, t), nagiosPerfData("it's=a|b\n", {}, t)}),
      "USBINK OK - 57% | 'toner'=57%;20;10;0;100 'it''s\\x3Da\\x7Cb\\x0A'=U;20;10;0;100\n");
}

TEST(QueryOutput, SupplyLevelsInWordsAndPercent) {
  const std::tuple<int, int, int, const char*> rows[] = {{3, 3, 8, "37%"},
                                                         {3, -2, 100, "unknown"},
                                                         {3, -1, 100, "other"},
                                                         {3, 5, 0, "5 of unknown capacity"},
                                                         {3, -7, 100, "invalid (-7)"},
                                                         {4, 80, 100, "80% free"},
                                                         {3, -3, 100, "some remaining"},
                                                         {3, INT32_MAX, 1, "214748364700%"}};
  for (const auto& [cls, level, max, text] : rows) {
    Supply s;
    s.supplyClass = cls;
    s.maxCapacity = max;
    s.level = level;
    EXPECT_EQ(levelText(s), text);
  }
  EXPECT_EQ(levelText(Supply{}), "not reported");
}

// Wrong-type or wrong-index cells and another device's colorant are left out.
TEST(QueryOutput, JoinsSupplyColoursAndDecidesNagios) {
  const auto cell = [](const std::string& suffix, unsigned char type, std::string v) {
    return Varbind{*oidFromText("1.3.6.1.2.1.43." + suffix), type, {v.begin(), v.end()}};
  };
  const unsigned char i = kBerInteger, s = kBerOctetString;
  const std::vector<Varbind> entries = {
      cell("11.1.1.3.1.1", i, "\x02"),  cell("11.1.1.4.1.2", i, "\x04"),
      cell("11.1.1.6.1.1", s, "Black"), cell("11.1.1.6.1.2", s, "Waste"),
      cell("11.1.1.6.1.3", i, "Odd"),   cell("11.1.1.8.1.1", i, "d"),
      cell("11.1.1.8.1.2", i, "d"),     cell("11.1.1.8.1.3", i, "d"),
      cell("11.1.1.9.1.1", i, "2"),     cell("11.1.1.9.1.2", i, "\x09"),
      cell("11.1.1.9.1.3", s, "50"),    cell("11.1.1.9.1.3.7", i, "\x01")};
  const std::vector<Varbind> colorants = {cell("12.1.1.4.1.2", s, "black"),
                                          cell("12.1.1.4.2.2", s, "not ours")};
  SuppliesReport r{"192.0.2.1", "SNMPv2c", joinSupplies(entries, colorants), true, ""};
  ASSERT_EQ(r.supplies.size(), 3u);
  EXPECT_EQ(r.supplies[0].colour, "black");
  int state = -1;
  EXPECT_EQ(suppliesNagios(r, 20, 10, &state),
            "USBINK CRITICAL - lowest Waste 9% free | 'Black'=50%;20;10;0;100 "
            "'Waste'=9%;20;10;0;100 '1.3'=U;20;10;0;100\n");
  EXPECT_EQ(state, 2);
  for (auto [n, complete] : {std::pair{1, false}, {0, true}}) {  // cut short; found nothing
    r.supplies.resize(n);
    r.complete = complete;
    suppliesNagios(r, 20, 10, &state);
    EXPECT_EQ(state, 3) << n;
  }
}

}  // namespace
}  // namespace usbink::query
