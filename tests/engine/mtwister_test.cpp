#include "engine/mtwister.h"

#include <gtest/gtest.h>

#include <random>

namespace kavun {
namespace {

class MTwisterTest : public testing::Test {
 protected:
  void SetUp() override { MTResetForTesting(); }
  void TearDown() override { MTResetForTesting(); }
};

TEST_F(MTwisterTest, NeverSeededGeneratorSeedsItselfWith5489) {
  EXPECT_EQ(MTIndex, 625);
  EXPECT_EQ(MTNext(), 3499211612u);
  EXPECT_EQ(MTNext(), 581869302u);
  EXPECT_EQ(MTNext(), 3890346734u);
  EXPECT_EQ(MTIndex, 3);
}

TEST_F(MTwisterTest, InitLeavesIndexAt624AndRegeneratesOnNextDraw) {
  MTInit(1);
  EXPECT_EQ(MTIndex, 624);
  MTNext();
  EXPECT_EQ(MTIndex, 1);
}

TEST_F(MTwisterTest, MatchesStandardSequenceForManySeedsAcrossRegenerations) {
  for (const uint32_t seed : {0u, 1u, 5489u, 19650218u, 16777470u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    std::mt19937 reference(seed);
    MTInit(seed);
    // 624 * 4 outputs: four regenerations, including the 625th output after seeding.
    for (int i = 0; i < kMTN * 4; ++i) {
      const uint32_t expected = reference();
      ASSERT_EQ(MTNext(), expected) << "seed " << seed << " output " << i;
    }
  }
}

TEST_F(MTwisterTest, SeedZeroIsNotDegenerate) {
  MTInit(0);
  uint32_t any_bits = 0;
  for (int i = 0; i < 100; ++i) any_bits |= MTNext();
  EXPECT_EQ(any_bits, 0xFFFFFFFFu);
}

TEST_F(MTwisterTest, ReseedingRestartsTheSequence) {
  MTInit(42);
  std::vector<uint32_t> first;
  for (int i = 0; i < 10; ++i) first.push_back(MTNext());
  for (int i = 0; i < 1000; ++i) MTNext();
  MTInit(42);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(MTNext(), first[static_cast<std::size_t>(i)]);
}

}  // namespace
}  // namespace kavun
