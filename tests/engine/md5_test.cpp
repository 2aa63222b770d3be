#include "engine/md5.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace kavun {
namespace {

std::string Digest(const std::string& text) {
  return MD5HexDigest(text.data(), static_cast<uint32_t>(text.size()));
}

struct DigestCase {
  std::string input;
  std::string digest;
};

class MD5DigestTest : public testing::TestWithParam<DigestCase> {};

TEST_P(MD5DigestTest, MatchesPublishedDigest) {
  EXPECT_EQ(Digest(GetParam().input), GetParam().digest);
}

// The test suite of RFC 1321.
INSTANTIATE_TEST_SUITE_P(
    Rfc1321, MD5DigestTest,
    testing::Values(
        DigestCase{"", "d41d8cd98f00b204e9800998ecf8427e"},
        DigestCase{"a", "0cc175b9c0f1b6a831c399e269772661"},
        DigestCase{"abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        DigestCase{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        DigestCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        DigestCase{"1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890",
                   "57edf4a22be3c955ac49da2e2107b67a"}));

// Lengths where the padding just fits, spills into a second block or meets a block boundary.
INSTANTIATE_TEST_SUITE_P(
    PaddingBoundaries, MD5DigestTest,
    testing::Values(DigestCase{std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
                    DigestCase{std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
                    DigestCase{std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
                    DigestCase{std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
                    DigestCase{std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
                    DigestCase{std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
                    DigestCase{std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"}));

TEST(MD5, BytesAboveAsciiAreHashedUnsigned) {
  // "あ" in Shift_JIS followed by 0xFF 0x80.
  EXPECT_EQ(Digest(std::string("\x82\xA0\xFF\x80", 4)), "d3fd2926ededd8f5a03da42f9c62a416");
  std::array<uint8_t, 256> all{};
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(MD5HexDigest(all.data(), 256), "e2c865db4162bed963bfaa9ef6ac18f0");
}

TEST(MD5, EmptyInputByNullPointerAndByEmptyString) {
  EXPECT_EQ(MD5HexDigest(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MD5HexDigest("", 0), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, HexTextIsLowerCaseAndRehashesItsOwn32Bytes) {
  for (const char* input : {"", "abc", "password", "\x82\xA0"}) {
    const std::string hex = MD5HexDigest(input, static_cast<uint32_t>(std::strlen(input)));
    ASSERT_EQ(hex.size(), 32u);
    for (const char c : hex) {
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << hex;
    }
  }
  // Re-hashing the hex text hashes exactly its 32 ASCII bytes, no terminating zero.
  EXPECT_EQ(Digest(Digest("")), "74be16979710d4c4e7c6647856088456");
}

TEST(MD5, UpdateInPiecesEqualsOneUpdate) {
  const std::string text(200, 'q');
  for (const uint32_t split : {1u, 55u, 63u, 64u, 65u, 127u, 128u, 199u}) {
    MD5Context context;
    MD5Init(context);
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    MD5Update(context, data, split);
    MD5Update(context, data + split, static_cast<uint32_t>(text.size()) - split);
    EXPECT_EQ(MD5Final(context), Digest(text)) << split;
  }
}

TEST(MD5, FinalClearsTheWholeContext) {
  MD5Context context;
  MD5Init(context);
  MD5Update(context, reinterpret_cast<const uint8_t*>("secret"), 6);
  MD5Final(context);
  std::array<uint8_t, sizeof(MD5Context)> zeros{};
  EXPECT_EQ(std::memcmp(&context, zeros.data(), sizeof context), 0);
}

TEST(MD5, HexToBytesGivesTheDigestBytes) {
  std::array<uint8_t, 16> bytes{};
  EXPECT_EQ(HexToBytes("900150983cd24fb0d6963f7d28e17f72", bytes.data(), 16), 16u);
  const std::array<uint8_t, 16> expected = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                            0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(bytes, expected);
}

struct HexCase {
  std::string text;
  std::size_t count;
  std::size_t written;
  std::array<uint8_t, 4> bytes;  // the first bytes written; the rest stay 0xEE
};

class HexToBytesTest : public testing::TestWithParam<HexCase> {};

TEST_P(HexToBytesTest, WritesPairsUntilTheFirstNonHexPair) {
  const HexCase& c = GetParam();
  std::array<uint8_t, 4> bytes;
  bytes.fill(0xEE);
  EXPECT_EQ(HexToBytes(c.text, bytes.data(), c.count), c.written);
  EXPECT_EQ(bytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexToBytesTest,
    testing::Values(HexCase{"ABcdEf09", 4, 4, {0xAB, 0xCD, 0xEF, 0x09}},  // upper case counts too
                    HexCase{"0a1bzz2c", 4, 2, {0x0A, 0x1B, 0xEE, 0xEE}},  // stops at "zz"
                    HexCase{"0ag1", 4, 1, {0x0A, 0xEE, 0xEE, 0xEE}},      // "g1" is no pair
                    HexCase{"ffff", 1, 1, {0xFF, 0xEE, 0xEE, 0xEE}},      // at most count bytes
                    HexCase{"123", 4, 1, {0x12, 0xEE, 0xEE, 0xEE}},       // half a pair at the end
                    HexCase{"", 4, 0, {0xEE, 0xEE, 0xEE, 0xEE}}));

}  // namespace
}  // namespace kavun
