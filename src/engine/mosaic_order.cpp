#include "engine/mosaic_order.h"

#include <cstddef>

namespace kavun {
namespace {

// True when `order` is a permutation of 0..size-1.
bool IsPermutation(const MosaicOrder& order) {
  std::vector<bool> seen(order.size(), false);
  for (const int32_t entry : order) {
    if (entry < 0 || static_cast<std::size_t>(entry) >= order.size()) return false;
    if (seen[static_cast<std::size_t>(entry)]) return false;
    seen[static_cast<std::size_t>(entry)] = true;
  }
  return true;
}

}  // namespace

MosaicOrder MakeLinearOrder(int32_t Key1, int32_t Key2, int32_t n) {
  MosaicOrder order;
  if (n <= 0) return order;
  order.reserve(static_cast<std::size_t>(n));
  // Unsigned arithmetic wraps without undefined behaviour; the conversion back to int32_t is
  // modular (C++20), which gives the signed 32-bit wrap-around.
  const auto k1 = static_cast<uint32_t>(Key1);
  const auto k2 = static_cast<uint32_t>(Key2);
  for (int32_t i = 0; i < n; ++i) {
    const auto value = static_cast<int32_t>(k1 * static_cast<uint32_t>(i) + k2);
    order.push_back(value % n);  // n > 0, so this truncates toward zero without overflow
  }
  return order;
}

bool IsReversibleOrder(int32_t Key1, int32_t Key2, int32_t n) {
  return IsPermutation(MakeLinearOrder(Key1, Key2, n));
}

MosaicOrder MakeInverseOrder(int32_t Key1, int32_t Key2, int32_t n) {
  const MosaicOrder linear = MakeLinearOrder(Key1, Key2, n);
  if (!IsPermutation(linear)) return {};
  MosaicOrder inverse(linear.size());
  for (std::size_t k = 0; k < linear.size(); ++k) {
    inverse[static_cast<std::size_t>(linear[k])] = static_cast<int32_t>(k);
  }
  return inverse;
}

}  // namespace kavun
