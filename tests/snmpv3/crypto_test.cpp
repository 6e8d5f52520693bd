// MD5, key localisation, HMAC-MD5-96 and DES-CBC against published answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "snmpv3/usm_detail.h"
#include "support/raw_responder.h"
#include "usbink/md5.h"
#include "usbink/usm.h"

namespace {

using usbink::test::Bytes;
using usbink::test::fromHex;
using usbink::test::toHex;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

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

std::string localisedKey(const std::string& password, const Bytes& engineId) {
  Bytes key(kUsmKeySize);
  Password_to_Key_md5(reinterpret_cast<const unsigned char*>(password.data()),
                      static_cast<unsigned>(password.size()), engineId.data(),
                      static_cast<unsigned>(engineId.size()), key.data());
  return toHex(key);
}

TEST(Md5, MatchesTheRfc1321TestSuite) {
  const std::vector<std::pair<std::string, std::string>> suite = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, digest] : suite) EXPECT_EQ(md5Hex(bytesOf(text)), digest) << text;
  MD5Init();
  EXPECT_STREQ(MD5FinalToString(), "D41D8CD98F00B204E9800998ECF8427E");
  const MD5Context zero{};
  EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);  // the context is left all zero
}

TEST(Md5, GivesTheSameDigestWhateverThePiecesOfTheUpdates) {
  Bytes message(1000);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<unsigned char>(i * 7);
  for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
    Bytes m(message.begin(), message.begin() + static_cast<long>(length));
    const std::string whole = md5Hex(m);
    for (std::size_t piece : {1u, 3u, 17u, 63u, 64u, 65u}) {
      EXPECT_EQ(md5Hex(m, piece), whole) << "length " << length << " piece " << piece;
    }
  }
}

TEST(UsmKey, ReproducesTheRfc3414Vectors) {
  const Bytes engine2 = fromHex("000000000000000000000002");
  EXPECT_EQ(localisedKey("maplesyrup", engine2), "526f5eed9fcce26f8964c2930787d82b");
  Bytes engine32(32);
  for (int i = 0; i < 32; ++i) engine32[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(localisedKey("maplesyrup", engine32), "4cbaf5280ff0e1a036ba4d361255db11");
}

// Ku is the digest of 1 MiB of the repeated phrase: compare the fast stream
// with a plain one for phrases shorter than, as long as and longer than a
// block.
TEST(UsmKey, KeyStreamEqualsTheRepeatedPhraseForEveryPhraseLength) {
  const Bytes engine = fromHex("800002a20401020304");
  for (std::size_t length : {1u, 3u, 20u, 63u, 64u, 65u, 100u, 200u}) {
    std::string phrase;
    for (std::size_t i = 0; i < length; ++i) phrase += static_cast<char>('!' + (i * 13) % 90);
    Bytes stream(1u << 20);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = phrase[i % length];
    Bytes ku = fromHex(md5Hex(stream));
    Bytes localisation = ku;
    localisation.insert(localisation.end(), engine.begin(), engine.end());
    localisation.insert(localisation.end(), ku.begin(), ku.end());
    EXPECT_EQ(localisedKey(phrase, engine), md5Hex(localisation)) << "phrase length " << length;
  }
  EXPECT_EQ(md5Hex(Bytes(1u << 20, 'a')), "7202826a7791073fe2787f0c94603278");
}

TEST(UsmKey, RefusesAnEmptyPhraseAndAnOverlongEngineIdWithoutTouchingAnything) {
  const unsigned char phrase[] = "maplesyrup";
  const Bytes engine33(33, 0x01);
  // A digest under way must survive the refused calls untouched.
  unsigned char abc[] = {'a', 'b', 'c'};
  MD5Init();
  MD5Update(abc, 3);
  std::array<unsigned char, kUsmKeySize> key;
  key.fill(0xAA);
  Password_to_Key_md5(phrase, 0, engine33.data(), 4, key.data());
  Password_to_Key_md5(phrase, 10, engine33.data(), 33, key.data());
  std::array<unsigned char, kUsmKeySize> expectedKey;
  expectedKey.fill(0xAA);
  EXPECT_EQ(key, expectedKey);
  Bytes digest(16);
  MD5Final(digest.data());
  EXPECT_EQ(toHex(digest), "900150983cd24fb0d6963f7d28e17f72");  // "abc"
}

TEST(UsmAuth, PadsAndCodesMatchHmacMd596) {
  std::array<unsigned char, kUsmKeySize> key;
  key.fill(0x0b);
  std::array<unsigned char, kUsmPadSize> k1, k2;
  AuthKey2K1K2(key.data(), k1.data(), k2.data());
  for (int i = kUsmKeySize; i < kUsmPadSize; ++i) {
    ASSERT_EQ(k1[i], 0x36);
    ASSERT_EQ(k2[i], 0x5C);
  }
  Bytes mac(kUsmMacSize + 4, 0xEE);
  Bytes hiThere = bytesOf("Hi There");
  CalcuateAuthParams(hiThere.data(), 8, k1.data(), k2.data(), mac.data());
  EXPECT_EQ(toHex(Bytes(mac.begin(), mac.begin() + kUsmMacSize)), "9294727a3638bb1c13f48ef8");
  EXPECT_EQ(toHex(Bytes(mac.begin() + kUsmMacSize, mac.end())), "eeeeeeee");

  Bytes localised = fromHex("526f5eed9fcce26f8964c2930787d82b");
  AuthKey2K1K2(localised.data(), k1.data(), k2.data());
  Bytes maple = bytesOf("maplesyrup");
  CalcuateAuthParams(maple.data(), 10, k1.data(), k2.data(), mac.data());
  EXPECT_EQ(toHex(Bytes(mac.begin(), mac.begin() + kUsmMacSize)), "1cadda241847ea4cc18dbdd2");
}

TEST(UsmPrivacy, DesCbcMatchesFips81AndRefusesASmallDestination) {
  const Bytes key = fromHex("0123456789abcdef");
  const Bytes iv = fromHex("1234567890abcdef");
  Bytes plain = bytesOf("Now is the time for all ");
  Bytes out(24);
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), plain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(toHex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");

  Bytes nine(16, 0x41);
  Bytes dst(16, 0x00);
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 15), 0);
  EXPECT_EQ(dst, Bytes(16, 0x00));
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), nine.data(), 9, dst.data(), 16), 9);
  EXPECT_NE(dst, Bytes(16, 0x00));
  EXPECT_EQ(DesEncryption(nullptr, iv.data(), nine.data(), 9, dst.data(), 16), 0);
}

TEST(UsmPrivacy, SaltedScopedPduEncryptsAndDecryptsLikeTheUsmVector) {
  Bytes privKey = fromHex("526f5eed9fcce26f8964c2930787d82b");
  salt_low = 0;
  std::array<unsigned char, usbink::kUsmSaltSize> salt, next;
  usbink::nextPrivacySalt(1, salt.data());
  usbink::nextPrivacySalt(1, next.data());
  EXPECT_EQ(toHex(Bytes(salt.begin(), salt.end())), "0000000100000000");
  EXPECT_EQ(toHex(Bytes(next.begin(), next.end())), "0000000100000001");
  std::array<unsigned char, kDesBlockSize> iv;
  usbink::privacyIv(privKey.data(), salt.data(), iv.data());
  EXPECT_EQ(toHex(Bytes(iv.begin(), iv.end())), "8964c2920787d82b");

  Bytes plain(64, 0);
  for (int i = 0; i < 57; ++i) plain[i] = static_cast<unsigned char>(i);
  Bytes cipher(64);
  EXPECT_EQ(DesEncryption(privKey.data(), iv.data(), plain.data(), 57, cipher.data(), 64), 57);
  EXPECT_EQ(toHex(cipher),
            "c7140b12b76adf8a02eea878c3ad3a1642c2a865742ba95869900df25be0d22f"
            "8d35fbcf713f4e15093b66a47b17ca383b3b9681ef9c37df14d3e90711ef965b");

  Bytes twelve(cipher.begin(), cipher.begin() + 12);
  EXPECT_EQ(DecryptMsgData(twelve.data(), 12, privKey.data(), salt.data()), 0);
  EXPECT_EQ(twelve, Bytes(cipher.begin(), cipher.begin() + 12));
  EXPECT_EQ(DecryptMsgData(cipher.data(), 0, privKey.data(), salt.data()), 1);
  EXPECT_EQ(DecryptMsgData(cipher.data(), 64, privKey.data(), salt.data()), 1);
  EXPECT_EQ(cipher, plain);
}

}  // namespace
