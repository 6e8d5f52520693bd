// usbink-query's escaping, Prometheus families, Nagios states and Printer-MIB supplies.
#include "query/output.h"

#include <gtest/gtest.h>

#include <string>

#include "query/monitoring.h"
#include "query/supplies.h"
#include "usbink/ber.h"

namespace usbink::query {
namespace {

TEST(QueryOutput, EscapesUntrustedTextForEachFormat) {
  const struct {
    std::string (*escape)(const std::string&);
    std::string in, out;
  } rows[] = {
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
  for (const auto& r : rows) EXPECT_EQ(r.escape(r.in), r.out) << r.in;
}

TEST(QueryOutput, WritesEachPrometheusFamilyOnce) {
  PrometheusGauges g;
  g.add("usbink_toner_level_percent", "Toner level\\percent", {{"queue", "a"}}, 57);
  g.add("usbink_read_success", "1 if read", {{"queue", "a"}}, 1);
  g.add("usbink_toner_level_percent", "Toner level\\percent", {{"queue", "b\""}, {"kind", "usb"}},
        3);
  EXPECT_EQ(g.text(),
            "# HELP usbink_toner_level_percent Toner level\\\\percent\n"
            "# TYPE usbink_toner_level_percent gauge\n"
            "usbink_toner_level_percent{queue=\"a\"} 57\n"
            "usbink_toner_level_percent{queue=\"b\\\"\",kind=\"usb\"} 3\n"
            "# HELP usbink_read_success 1 if read\n"
            "# TYPE usbink_read_success gauge\n"
            "usbink_read_success{queue=\"a\"} 1\n");
}

TEST(QueryOutput, ParsesNagiosThresholdsAndRatesLevels) {
  using enum NagiosState;
  const struct {
    const char* text;
    int level;
    NagiosState state;
  } rows[] = {
      {"20:10", 57, kOk}, {"20:10", 20, kWarning}, {"20:10", 10, kCritical}, {"0:0", 0, kCritical}};
  for (const auto& r : rows)
    EXPECT_EQ(nagiosState(r.level, parseNagiosThresholds(r.text).value()), r.state)
        << r.text << " " << r.level;
  for (const char* bad : {"10:20", "20", "-1:0", "101:5", "20:1x", " 20:10", "+20:10", ""}) {
    EXPECT_FALSE(parseNagiosThresholds(bad)) << bad;
  }
  EXPECT_EQ(worseState(kOk, kUnknown), kUnknown);
  EXPECT_EQ(worseState(kUnknown, kWarning), kWarning);
  EXPECT_EQ(worseState(kCritical, kWarning), kCritical);
  const NagiosThresholds t{20, 10};
  EXPECT_EQ(
      nagiosLine(kOk, "57%", {nagiosPerfData("toner", 57, t), nagiosPerfData("it's=a|b\n", {}, t)}),
      "USBINK OK - 57% | 'toner'=57%;20;10;0;100 'it''s\\x3Da\\x7Cb\\x0A'=U;20;10;0;100\n");
}

TEST(QueryOutput, SupplyLevelsInWordsAndPercent) {
  const struct {
    int cls, level, max;
    const char* text;
  } rows[] = {{3, 3, 8, "37%"},
              {3, -2, 100, "unknown"},
              {3, -1, 100, "other"},
              {3, 5, 0, "5 of unknown capacity"},
              {3, 5, -1, "5 of unknown capacity"},
              {3, -7, 100, "invalid (-7)"},
              {4, -3, 100, "some room left"},
              {3, INT32_MAX, 1, "214748364700%"}};
  for (const auto& [cls, level, max, text] : rows) {
    Supply s;
    s.supplyClass = cls, s.maxCapacity = max, s.level = level;
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
      cell("11.1.1.6.1.3", s, "Odd"),   cell("11.1.1.8.1.1", i, "d"),
      cell("11.1.1.8.1.2", i, "d"),     cell("11.1.1.8.1.3", i, "d"),
      cell("11.1.1.9.1.1", i, "2"),     cell("11.1.1.9.1.2", i, "\x09"),
      cell("11.1.1.9.1.3", s, "50"),    cell("11.1.1.9.1.3.7", i, "\x01")};
  SuppliesReport r{"192.0.2.1", "SNMPv2c",
                   joinSupplies(entries, {cell("12.1.1.4.1.2", s, "black"),
                                          cell("12.1.1.4.2.2", s, "not ours")}),
                   true, ""};
  ASSERT_EQ(r.supplies.size(), 3u);
  EXPECT_EQ(r.supplies[0].colour, "black");
  int state = -1;
  EXPECT_EQ(suppliesNagios(r, 20, 10, &state),
            "USBINK CRITICAL - lowest Waste 9% free | 'Black'=50%;20;10;0;100 "
            "'Waste'=9%;20;10;0;100 'Odd'=U;20;10;0;100\n");
  EXPECT_EQ(state, 2);
  // A walk cut short, and one that found nothing, are UNKNOWN.
  for (auto [n, complete] : {std::pair{1, false}, {0, true}}) {
    r.supplies.resize(n), r.complete = complete;
    suppliesNagios(r, 20, 10, &state);
    EXPECT_EQ(state, 3) << n;
  }
}

}  // namespace
}  // namespace usbink::query
