// The monitoring formats' escaping and threshold rules.
#include "query/monitoring.h"

#include <gtest/gtest.h>

namespace usbink::query {
namespace {

TEST(Monitoring, EscapesUntrustedTextForEachFormat) {
  struct Row {
    std::string (*escape)(const std::string&);
    std::string in, out;
  } rows[] = {
      {terminalText, "caf\xC3\xA9 \x1B[2J", "caf\xC3\xA9 \\x1B[2J"},
      {terminalText, "a\xC2\x9B" "31mb\xE2\x80\xAE", "a\\u{009B}31mb\\u{202E}"},
      {prometheusLabelValue, "a\\b\"c\nd", "a\\\\b\\\"c\\nd"},
      {prometheusLabelValue, "t\tx\xFF", "t\\\\x09x\\\\xFF"},
      {nagiosText, "Lab|1\nx", "Lab\\x7C1\\x0Ax"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.escape(r.in), r.out) << r.in;
}

TEST(Monitoring, WritesEachFamilyOnce) {
  PrometheusGauges g;
  g.add("usbink_toner_level_percent", "Toner level\\percent", {{"queue", "a"}}, 57);
  g.add("usbink_read_success", "1 if read", {{"queue", "a"}}, 1);
  g.add("usbink_toner_level_percent", "Toner level\\percent", {{"queue", "b\""}, {"kind", "usb"}}, 3);
  EXPECT_EQ(g.text(),
            "# HELP usbink_toner_level_percent Toner level\\\\percent\n"
            "# TYPE usbink_toner_level_percent gauge\n"
            "usbink_toner_level_percent{queue=\"a\"} 57\n"
            "usbink_toner_level_percent{queue=\"b\\\"\",kind=\"usb\"} 3\n"
            "# HELP usbink_read_success 1 if read\n"
            "# TYPE usbink_read_success gauge\n"
            "usbink_read_success{queue=\"a\"} 1\n");
}

TEST(Monitoring, ParsesThresholdsAndRatesLevels) {
  struct Row {
    const char* text;
    bool valid;
    int level = 0;
    NagiosState state = NagiosState::kOk;
  } rows[] = {
      {"20:10", true, 57, NagiosState::kOk},       {"20:10", true, 20, NagiosState::kWarning},
      {"20:10", true, 10, NagiosState::kCritical}, {"0:0", true, 0, NagiosState::kCritical},
      {"10:20", false},  {"20", false},  {"-1:0", false}, {"101:5", false},
      {"20:1x", false},  {" 20:10", false}, {"+20:10", false}, {"", false},
  };
  for (const auto& r : rows) {
    const auto t = parseNagiosThresholds(r.text);
    ASSERT_EQ(t.has_value(), r.valid) << r.text;
    if (t) {
      EXPECT_EQ(nagiosState(r.level, *t), r.state) << r.text << " " << r.level;
    }
  }
  EXPECT_EQ(worseState(NagiosState::kOk, NagiosState::kUnknown), NagiosState::kUnknown);
  EXPECT_EQ(worseState(NagiosState::kUnknown, NagiosState::kWarning), NagiosState::kWarning);
  EXPECT_EQ(worseState(NagiosState::kCritical, NagiosState::kWarning), NagiosState::kCritical);
}

TEST(Monitoring, WritesPluginOutput) {
  const NagiosThresholds t{20, 10};
  EXPECT_EQ(nagiosLine(NagiosState::kOk, "57%",
                       {nagiosPerfData("toner", 57, t), nagiosPerfData("it's=a|b\n", std::nullopt, t)}),
            "USBINK OK - 57% | 'toner'=57%;20;10;0;100 'it''s\\x3Da\\x7Cb\\x0A'=U;20;10;0;100\n");
}

}  // namespace
}  // namespace usbink::query
