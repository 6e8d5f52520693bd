// The walk fed answers, well-behaved or not, and its requests. Over the wire: exchange_test.
#include "snmp/table_walk.h"

#include <gtest/gtest.h>

#include <array>

#include "support/raw_responder.h"
#include "usbink/ber.h"

namespace usbink {
namespace {

const Oid kRoot = *oidFromText("1.3.6.1.2.1.43.11.1.1");

Varbind cell(const std::string& suffix, unsigned char type = kBerInteger) {
  return {*oidFromText("1.3.6.1.2.1.43.11.1.1." + suffix), type, {0x05}};
}

TEST(TableWalk, EndsCleanlyOnEveryKindOfAnswer) {
  using enum SnmpVersion;
  using enum WalkEnd;
  const Varbind outside{*oidFromText("1.3.6.1.2.1.43.12.1.1.2.1.1"), kBerInteger, {1}};
  const Varbind c1 = cell("6.1.1"), c2 = cell("6.1.2");
  const std::tuple<SnmpVersion, std::vector<WalkAnswer>, WalkEnd, std::size_t> cases[] = {
      {kV2c, {{1, 0, 0, {c1, c2}}, {2, 0, 0, {cell("9.1.1"), outside}}}, kComplete, 3},
      {kV2c, {{1, 0, 0, {c1, {kRoot, kEndOfMibView, {}}}}}, kComplete, 1},
      {kV1, {{1, 0, 0, {c1}}, {2, kErrorNoSuchName, 1, {}}}, kComplete, 1},  // v1 end of MIB
      {kV2c, {{1, kErrorNoSuchName, 1, {c1}}}, kErrorStatus, 0},
      {kV2c, {{1, 0, 0, {c1}}, {2, 0, 0, {c1}}}, kLoop, 1},  // the same object again
      {kV2c, {{1, 0, 0, {c2, c1}}}, kLoop, 1},               // backwards in one answer
      {kV2c, {{1, 0, 0, {}}}, kMalformed, 0},
      {kV2c, {{1, 0, 0, {c1}, true}}, kMalformed, 0},  // undecodable name
      {kV2c, {{1, 0, 0, {c1, c2, cell("6.1.3"), cell("6.1.4")}}}, kValueCap, 3}};
  for (const auto& [version, answers, end, values] : cases) {
    SubtreeWalk walk(kRoot, 3);
    for (const auto& a : answers) walk.take(a, version);
    EXPECT_EQ(std::pair(walk.end(), walk.values().size()), std::pair(end, values));
    EXPECT_EQ(walk.message().empty(), end == kComplete) << walk.message();
  }
}

TEST(TableWalk, NamesAndRequests) {
  const Oid big = *oidFromText("1.3.6.1.4.1.4294967295.16384.0");
  EXPECT_EQ(oidFromBer(test::fromHex("2B06010401 8FFFFFFF7F 818000 00")), big);
  for (const char* bad : {"2B80 01", "2B 86", "2B 9080808001", ""})
    EXPECT_FALSE(oidFromBer(test::fromHex(bad))) << bad;
  for (const char* bad : {"1", "1..3", "1.3.", "3.1", "1.40", "1.3.4294967296", "1.3.x"})
    EXPECT_FALSE(oidFromText(bad)) << bad;
  for (const auto& [version, id, head] :
       {std::tuple{SnmpVersion::kV2c, 1, "3027020101 0406 7075626C6963 A51A 020101 020100 020130"},
        {SnmpVersion::kV1, 2, "3027020100 0406 7075626C6963 A11A 020102 020100 020100"}}) {
    std::array<unsigned char, 128> out{};
    const int n = buildCommunityWalkRequest(version, "public", id, kRoot, 48, out);
    const std::string tail = "300F 300D 0609 2B06010201 2B0B0101 0500";
    EXPECT_EQ(test::toHex({out.begin(), out.begin() + n}), test::toHex(test::fromHex(head + tail)));
  }
}

}  // namespace
}  // namespace usbink
