// The Base64 codec, with the lenient decoder's stopping rules. Output
// buffers have exactly the size given, so the sanitizers see any write past.
#include "usbink/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Decoded {
  long result;
  std::string bytes;
};

Decoded decode(std::string text, unsigned long capacity = 64) {
  std::vector<unsigned char> out(capacity);
  const long n = base64_decode(text.data(), out.data(), capacity);
  return {n, n > 0 ? std::string(out.begin(), out.begin() + n) : std::string()};
}

// The text written, or the untouched buffer ("#"...) when the result is 0.
std::string encode(const std::string& bytes, unsigned long capacity, int* result) {
  std::vector<char> out(capacity, '#');
  std::vector<unsigned char> in(bytes.begin(), bytes.end());
  *result = base64_encode(in.data(), in.size(), out.data(), capacity);
  return *result == 1 ? std::string(out.data()) : std::string(out.begin(), out.end());
}

TEST(Base64Encode, PadsAndNeedsRoomForTheTerminator) {
  const struct {
    std::string bytes;
    unsigned long capacity;
    int result;
    std::string text;
  } cases[] = {
      {"abc", 5, 1, "YWJj"}, {"abc", 4, 0, "####"}, {"a", 5, 1, "YQ=="},
      {"ab", 5, 1, "YWI="},  {"", 1, 1, ""},        {"", 0, 0, ""},
  };
  for (const auto& c : cases) {
    int result = -1;
    EXPECT_EQ(encode(c.bytes, c.capacity, &result), c.text) << c.bytes << " in " << c.capacity;
    EXPECT_EQ(result, c.result) << c.bytes << " in " << c.capacity;
  }
  int result = 0;
  EXPECT_EQ(encode(std::string(60, 'x'), 81, &result).find('\n'), std::string::npos);
}

// Padding optional, foreign characters skipped, a stop at the first short or
// malformed group keeping the bytes before it, too little room an error.
TEST(Base64Decode, SkipsForeignCharactersStopsAtAShortGroupAndNeverTruncates) {
  const std::string block(144, 'A');
  const struct {
    std::string text;
    unsigned long capacity;
    long result;
    std::string bytes;
  } cases[] = {
      {"YQ", 64, 1, "a"},
      {"YW\r\nJ j", 64, 3, "abc"},
      {"Y;W:J\xC3\xA9j", 64, 3, "abc"},
      {"YQ==YWJj", 64, 1, "a"},
      {"Y=Jj", 64, 0, ""},
      {"YWJjY=Jj", 64, 3, "abc"},
      {"YWJj====", 64, 3, "abc"},
      {"YWJjA===", 64, 3, "abc"},
      {"YWJj", 3, 3, "abc"},
      {"YWJj", 2, -1, ""},
      {block, 108, 108, std::string(108, '\0')},
      {block + "AA", 108, -1, ""},
      {block + "A", 108, 108, std::string(108, '\0')},  // a lone character decodes to nothing
  };
  for (const auto& c : cases) {
    const Decoded d = decode(c.text, c.capacity);
    EXPECT_EQ(d.result, c.result) << c.text.substr(0, 12) << " in " << c.capacity;
    EXPECT_EQ(d.bytes, c.bytes) << c.text.substr(0, 12) << " in " << c.capacity;
  }
}

TEST(Base64, RoundTripsEveryLength) {
  for (int n = 0; n < 200; ++n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += static_cast<char>((i * 37 + n) & 0xFF);
    int result = 0;
    const Decoded back = decode(encode(bytes, 300, &result), 300);
    EXPECT_EQ(back.result, n);
    EXPECT_EQ(back.bytes, bytes);
  }
}

}  // namespace
