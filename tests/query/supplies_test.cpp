// Supplies joined from the two tables, their levels in words and percent,
// and the Nagios decision over them.
#include <gtest/gtest.h>

#include "query/supplies.h"
#include "usbink/ber.h"

namespace usbink::query {
namespace {

Varbind integer(const std::string& oid, std::vector<unsigned char> octets) {
  return {*oidFromText(oid), kBerInteger, std::move(octets)};
}
Varbind text(const std::string& oid, const std::string& s) {
  return {*oidFromText(oid), kBerOctetString, {s.begin(), s.end()}};
}

TEST(Supplies, LevelsInWordsAndPercent) {
  const struct {
    int supplyClass, level, max;
    const char* text;
  } cases[] = {
      {3, 40, 100, "40%"},          {3, 3, 8, "37%"},
      {3, -3, -2, "some remaining"}, {3, -2, 100, "unknown"},
      {3, -1, 100, "other"},        {3, 5, 0, "5 of unknown capacity"},
      {3, 5, -1, "5 of unknown capacity"}, {3, -7, 100, "invalid (-7)"},
      {4, 80, 100, "80% free"},     {4, -3, 100, "some room left"},
      {3, INT32_MAX, 1, "214748364700%"},
  };
  for (const auto& c : cases) {
    Supply s;
    s.supplyClass = c.supplyClass;
    s.level = c.level;
    s.maxCapacity = c.max;
    EXPECT_EQ(levelText(s), c.text) << c.level << "/" << c.max;
  }
  EXPECT_EQ(levelText(Supply{}), "not reported");
}

TEST(Supplies, JoinsColoursAndDecidesNagios) {
  const std::string e = "1.3.6.1.2.1.43.11.1.1.";
  const std::vector<Varbind> entries = {
      integer(e + "3.1.1", {2}),       integer(e + "3.1.2", {0}),
      integer(e + "4.1.2", {4}),       integer(e + "5.1.1", {3}),
      text(e + "6.1.1", "Black"),      text(e + "6.1.2", "Waste"),
      text(e + "6.1.3", "Odd"),        integer(e + "8.1.1", {100}),
      integer(e + "8.1.2", {100}),     integer(e + "8.1.3", {100}),
      integer(e + "9.1.1", {50}),      integer(e + "9.1.2", {9}),
      text(e + "9.1.3", "50"),         integer(e + "9.1.3.7", {1}),  // wrong type, wrong index
  };
  const std::vector<Varbind> colorants = {text("1.3.6.1.2.1.43.12.1.1.4.1.2", "black"),
                                          text("1.3.6.1.2.1.43.12.1.1.4.2.2", "not ours")};
  SuppliesReport r{"192.0.2.1", "SNMPv2c", joinSupplies(entries, colorants), true, ""};
  ASSERT_EQ(r.supplies.size(), 3u);
  EXPECT_EQ(r.supplies[0].colour, "black");
  EXPECT_EQ(supplyTypeName(r.supplies[0].type), "toner");
  EXPECT_EQ(r.supplies[1].colour, "");
  EXPECT_EQ(levelText(r.supplies[2]), "not reported");

  // The waste container with 9% room left decides, as low toner would.
  int state = -1;
  EXPECT_EQ(suppliesNagios(r, 20, 10, &state),
            "USBINK CRITICAL - lowest Waste 9% free | 'Black'=50%;20;10;0;100 "
            "'Waste'=9%;20;10;0;100 'Odd'=U;20;10;0;100\n");
  EXPECT_EQ(state, 2);
  r.supplies.resize(1);
  r.complete = false;
  r.message = "the agent answered error status 5 (genErr) after 1.3";
  suppliesNagios(r, 20, 10, &state);
  EXPECT_EQ(state, 3);
  r.supplies.clear();
  r.complete = true;
  suppliesNagios(r, 20, 10, &state);
  EXPECT_EQ(state, 3);
}

}  // namespace
}  // namespace usbink::query
