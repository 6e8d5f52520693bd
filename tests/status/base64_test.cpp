// The Base64 codec, with the lenient decoder's stopping rules.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "usbink/base64.h"

namespace {

struct Decoded {
  long result;
  std::string bytes;
};

Decoded decode(std::string text, unsigned long capacity = 64) {
  std::vector<unsigned char> out(capacity + 1, 0xEE);
  const long n = base64_decode(text.data(), out.data(), capacity);
  return {n, n > 0 ? std::string(out.begin(), out.begin() + n) : std::string()};
}

std::string encode(const std::string& bytes, unsigned long capacity, int* result = nullptr) {
  std::vector<char> out(capacity + 1, '#');
  std::vector<unsigned char> in(bytes.begin(), bytes.end());
  const int r = base64_encode(in.data(), in.size(), out.data(), capacity);
  if (result != nullptr) *result = r;
  return r == 1 ? std::string(out.data()) : std::string(out.begin(), out.end() - 1);
}

TEST(Base64Encode, PadsAndNeedsRoomForTheTerminator) {
  int r = 0;
  EXPECT_EQ(encode("abc", 5, &r), "YWJj");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(encode("abc", 4, &r), "####");  // too small: nothing written
  EXPECT_EQ(r, 0);
  EXPECT_EQ(encode("a", 5), "YQ==");
  EXPECT_EQ(encode("ab", 5), "YWI=");
  EXPECT_EQ(encode("", 1, &r), "");
  EXPECT_EQ(r, 1);
  encode("", 0, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(encode(std::string(60, 'x'), 81).find('\n'), std::string::npos);
}

TEST(Base64Decode, ReadsPaddedAndUnpaddedText) {
  EXPECT_EQ(decode("YWJj").bytes, "abc");
  EXPECT_EQ(decode("YQ").result, 1);
  EXPECT_EQ(decode("YQ").bytes, "a");
  EXPECT_EQ(decode("YWI=").bytes, "ab");
  EXPECT_EQ(decode("").result, 0);
}

TEST(Base64Decode, SkipsForeignCharactersAnywhere) {
  EXPECT_EQ(decode("YW Jj").bytes, "abc");
  EXPECT_EQ(decode("YW\r\nJj").bytes, "abc");
  EXPECT_EQ(decode("Y;W:J\xC3\xA9j").bytes, "abc");
}

TEST(Base64Decode, StopsAtTheFirstShortOrMalformedGroup) {
  EXPECT_EQ(decode("YQ==YWJj").result, 1);
  EXPECT_EQ(decode("Y=Jj").result, 0);
  EXPECT_EQ(decode("YWJjY=Jj").result, 3);  // the bytes before the bad group stay
  EXPECT_EQ(decode("YWJj====").result, 3);
  EXPECT_EQ(decode("YWJjA===").result, 3);
}

TEST(Base64Decode, TooLittleRoomIsAnErrorNotATruncation) {
  EXPECT_EQ(decode("YWJj", 3).result, 3);
  EXPECT_EQ(decode("YWJj", 2).result, -1);
  std::string block(144, 'A');
  EXPECT_EQ(decode(block, 108).result, 108);
  EXPECT_EQ(decode(block + "AA", 108).result, -1);
  EXPECT_EQ(decode(block + "A", 108).result, 108);  // one lone character decodes to nothing
}

TEST(Base64Groups, FollowTheTable) {
  auto group = [](const char* four) {
    std::array<char, 4> text{};
    std::copy(four, four + 4, text.begin());
    char out[3] = {0, 0, 0};
    return _base64_decode_triple(text.data(), out);
  };
  EXPECT_EQ(group("YWJj"), 3);
  EXPECT_EQ(group("YWI="), 2);
  EXPECT_EQ(group("YQ=="), 1);
  EXPECT_EQ(group("Y==="), 0);
  EXPECT_EQ(group("===="), 0);
  EXPECT_EQ(group("Y=Jj"), 0);
  EXPECT_EQ(group("YW J"), 0);
  EXPECT_EQ(_base64_char_value('A'), 0);
  EXPECT_EQ(_base64_char_value('/'), 63);
  EXPECT_EQ(_base64_char_value('='), -1);
  EXPECT_EQ(_base64_char_value(0xC3), -1);
}

TEST(Base64, RoundTripsEveryLength) {
  for (int n = 0; n < 200; ++n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += static_cast<char>((i * 37 + n) & 0xFF);
    const std::string text = encode(bytes, 300);
    const Decoded back = decode(text, 300);
    // Decoding stops at the first short group: a length that is a multiple
    // of three ends on the appended padding, others on their own padding.
    EXPECT_EQ(back.result, n);
    EXPECT_EQ(back.bytes, bytes);
  }
}

}  // namespace
