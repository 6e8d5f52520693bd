// MD5, key localisation, HMAC-MD5-96 and DES-CBC against published answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <tuple>

#include "snmpv3/usm_detail.h"
#include "usbink/md5.h"
#include "usbink/usm.h"
#include "v3_messages.h"

namespace usbink::test {
namespace {

// Digest of `message` fed in pieces of `piece` bytes (0: all at once).
std::string md5Hex(Bytes message, std::size_t piece = 0) {
  MD5Init();
  if (piece == 0) piece = message.size() + 1;
  for (std::size_t at = 0; at < message.size(); at += piece) {
    MD5Update(message.data() + at, static_cast<unsigned>(std::min(piece, message.size() - at)));
  }
  Bytes digest(16);
  MD5Final(digest.data());
  md5FreeBuffer();
  return toHex(digest);
}

TEST(Md5, MatchesTheRfc1321SuiteWhateverThePiecesOfTheUpdates) {
  const std::pair<std::string, std::string> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},  // around the padding boundary
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
  };
  for (const auto& [message, digest] : suite) {
    for (std::size_t piece : {0u, 1u, 3u, 63u, 64u, 65u}) {
      EXPECT_EQ(md5Hex(text(message), piece), digest) << message << " piece " << piece;
    }
  }
  MD5Init();
  EXPECT_STREQ(MD5FinalToString(), "D41D8CD98F00B204E9800998ECF8427E");
}

// Ku is the digest of 1 MiB of the repeated phrase, whatever its length.
TEST(UsmKey, ReproducesTheRfc3414VectorsAndTheRepeatedPhraseOfAnyLength) {
  Bytes engine32(32);
  std::iota(engine32.begin(), engine32.end(), 0);
  EXPECT_EQ(toHex(localise("maplesyrup", fromHex("000000000000000000000002"))),
            "526f5eed9fcce26f8964c2930787d82b");
  EXPECT_EQ(toHex(localise("maplesyrup", engine32)), "4cbaf5280ff0e1a036ba4d361255db11");
  const Bytes engine = fromHex("800002a20401020304");
  for (std::size_t length : {1u, 63u, 64u, 65u}) {
    std::string phrase;
    for (std::size_t i = 0; i < length; ++i) phrase += static_cast<char>('!' + (i * 13) % 90);
    Bytes stream(1u << 20);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = phrase[i % length];
    const Bytes ku = fromHex(md5Hex(stream));
    EXPECT_EQ(toHex(localise(phrase, engine)), md5Hex(cat({ku, engine, ku}))) << length;
  }
}

// A digest under way survives the refused calls untouched.
TEST(UsmKey, RefusesAnEmptyPhraseAndAnOverlongEngineIdWithoutTouchingAnything) {
  const unsigned char phrase[] = "maplesyrup";
  const Bytes engine33(33, 0x01);
  Bytes key(kUsmKeySize, 0xAA), abc = text("abc"), digest(16);
  MD5Init();
  MD5Update(abc.data(), 3);
  Password_to_Key_md5(phrase, 0, engine33.data(), 4, key.data());
  Password_to_Key_md5(phrase, 10, engine33.data(), 33, key.data());
  EXPECT_EQ(key, Bytes(kUsmKeySize, 0xAA));
  MD5Final(digest.data());
  EXPECT_EQ(toHex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(UsmAuth, CodesMatchHmacMd596) {
  const std::tuple<Bytes, std::string, std::string> cases[] = {
      {Bytes(kUsmKeySize, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8"},
      {fromHex("526f5eed9fcce26f8964c2930787d82b"), "maplesyrup", "1cadda241847ea4cc18dbdd2"}};
  for (auto [key, message, code] : cases) {
    Bytes k1(kUsmPadSize), k2(kUsmPadSize), mac(kUsmMacSize + 4, 0xEE), m = text(message);
    AuthKey2K1K2(key.data(), k1.data(), k2.data());
    CalcuateAuthParams(m.data(), static_cast<unsigned>(m.size()), k1.data(), k2.data(), mac.data());
    EXPECT_EQ(toHex(mac), code + "eeeeeeee");
  }
}

// DES itself and the bounds of both directions (the agents decrypt the rest).
TEST(UsmPrivacy, DesCbcMatchesFips81AndStaysInItsBuffers) {
  const Bytes key = fromHex("0123456789abcdef"), iv = fromHex("1234567890abcdef");
  Bytes plain = text("Now is the time for all "), out(24), nine(16, 0x41), dst(16, 0x00);
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), plain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(toHex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 15), 0);
  EXPECT_EQ(DesEncryption(nullptr, iv.data(), nine.data(), 9, dst.data(), 16), 0);
  EXPECT_EQ(dst, Bytes(16, 0x00));
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 16), 9);
  EXPECT_NE(dst, Bytes(16, 0x00));
  Bytes privKey(kUsmKeySize, 1), salt(kUsmSaltSize), twelve(out.begin(), out.begin() + 12);
  EXPECT_EQ(DecryptMsgData(twelve.data(), 12, privKey.data(), salt.data()), 0);
  EXPECT_EQ(twelve, Bytes(out.begin(), out.begin() + 12));
  EXPECT_EQ(DecryptMsgData(out.data(), 0, privKey.data(), salt.data()), 1);
}

}  // namespace
}  // namespace usbink::test
