#include "engine/mosaic_order.h"

#include <gtest/gtest.h>

#include <limits>

namespace kavun {
namespace {

struct OrderCase {
  int32_t key1, key2, n;
  MosaicOrder linear;
  bool reversible;
  MosaicOrder inverse;
};

class MosaicOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(MosaicOrderTest, LinearReversibleInverse) {
  const OrderCase& c = GetParam();
  EXPECT_EQ(MakeLinearOrder(c.key1, c.key2, c.n), c.linear);
  EXPECT_EQ(IsReversibleOrder(c.key1, c.key2, c.n), c.reversible);
  EXPECT_EQ(MakeInverseOrder(c.key1, c.key2, c.n), c.inverse);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, MosaicOrderTest,
    testing::Values(OrderCase{3, 1, 8, {1, 4, 7, 2, 5, 0, 3, 6}, true, {5, 0, 3, 6, 1, 4, 7, 2}},
                    OrderCase{2, 0, 4, {0, 2, 0, 2}, false, {}},
                    OrderCase{3, 1, 6, {1, 4, 1, 4, 1, 4}, false, {}},
                    OrderCase{0, 5, 3, {2, 2, 2}, false, {}}, OrderCase{7, 9, 1, {0}, true, {0}},
                    OrderCase{-3, 5, 1, {0}, true, {0}}, OrderCase{3, 7, 0, {}, true, {}},
                    OrderCase{3, 7, -4, {}, true, {}},
                    // the remainder takes the sign of the dividend
                    OrderCase{1, -1, 4, {-1, 0, 1, 2}, false, {}},
                    OrderCase{-1, 0, 4, {0, -1, -2, -3}, false, {}}));

TEST(MosaicOrder, PanelDefaults) {
  const MosaicOrder order = MakeLinearOrder(3, 7, 256);
  ASSERT_EQ(order.size(), 256u);
  EXPECT_EQ(order[0], 7);
  EXPECT_EQ(order[1], 10);
  EXPECT_EQ(order[2], 13);
  EXPECT_EQ(order[3], 16);
  EXPECT_EQ(order[4], 19);
  EXPECT_EQ(order[83], 0);
  EXPECT_TRUE(IsReversibleOrder(3, 7, 256));
  EXPECT_FALSE(IsReversibleOrder(2, 7, 256));
}

TEST(MosaicOrder, ReversibleExactlyWhenCoprime) {
  for (int32_t n = 1; n <= 60; ++n) {
    for (int32_t key1 = 0; key1 <= 40; ++key1) {
      int32_t a = key1, b = n;
      while (b != 0) a = std::exchange(b, a % b);
      const bool coprime = a == 1;
      for (int32_t key2 : {0, 1, 7, 255}) {
        ASSERT_EQ(IsReversibleOrder(key1, key2, n), coprime) << key1 << " " << key2 << " " << n;
        const MosaicOrder p = MakeLinearOrder(key1, key2, n);
        const MosaicOrder q = MakeInverseOrder(key1, key2, n);
        if (!coprime) continue;
        for (int32_t k = 0; k < n; ++k)
          ASSERT_EQ(q[static_cast<size_t>(p[static_cast<size_t>(k)])], k);
      }
    }
  }
}

TEST(MosaicOrder, OverflowWrapsLikeSigned32Bit) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  // kMax * 1 + kMax wraps to -2; -2 rem 5 = -2.
  const MosaicOrder order = MakeLinearOrder(kMax, kMax, 5);
  const int64_t expected1 = static_cast<int32_t>(static_cast<uint32_t>(kMax) * 2u) % 5;
  EXPECT_EQ(order[0], kMax % 5);
  EXPECT_EQ(order[1], expected1);
  EXPECT_EQ(order[1], -2);
  EXPECT_FALSE(IsReversibleOrder(kMax, kMax, 5));
  // The smallest and largest values never trap.
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(MakeLinearOrder(kMin, kMin, 3).size(), 3u);
  EXPECT_EQ(MakeLinearOrder(-1, kMin, 2)[0], kMin % 2);
}

}  // namespace
}  // namespace kavun
