// What usbink-query prints for values that come from the network.
#include "query/output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace usbink::query {
namespace {

std::string print(const Record& record, bool json) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  printRecord(out, record, json);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST(QueryOutput, EscapesWhatCouldDriveATerminal) {
  EXPECT_EQ(printable("Laser 5"), "Laser 5");
  EXPECT_EQ(printable("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(printable("a\x1B[2Jb\n\x7F"), "a\\x1B[2Jb\\x0A\\x7F");
  EXPECT_EQ(printable(std::string("x\0y", 3)), "x\\x00y");
  // Ill-formed UTF-8: a lone continuation, a cut sequence, an overlong form,
  // a surrogate.
  EXPECT_EQ(printable("\x80\xC3 \xC0\xAF \xED\xA0\x80"), "\\x80\\xC3 \\xC0\\xAF \\xED\\xA0\\x80");
}

TEST(QueryOutput, AlwaysWritesValidJson) {
  EXPECT_EQ(jsonString("Laser \"5\" \\ x"), "\"Laser \\\"5\\\" \\\\ x\"");
  EXPECT_EQ(jsonString("a\nb\x01\xFF"), "\"a\\u000Ab\\u0001\\u00FF\"");
  EXPECT_EQ(jsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
}

TEST(QueryOutput, PrintsOneRecordAsLinesOrOneJsonObject) {
  const Record r = {{"address", "192.0.2.7"}, {"level", "42", true}, {"name", "Lab\n1"}};
  EXPECT_EQ(print(r, false), "address: 192.0.2.7\nlevel: 42\nname: Lab\\x0A1\n");
  EXPECT_EQ(print(r, true), "{\"address\":\"192.0.2.7\",\"level\":42,\"name\":\"Lab\\u000A1\"}\n");
}

}  // namespace
}  // namespace usbink::query
