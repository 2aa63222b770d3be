#pragma once

#include <cstdint>
#include <vector>

namespace kavun {

// Entry k names the cell whose pixel moves into cell k. Empty: no usable order.
using MosaicOrder = std::vector<int32_t>;

// Entry i is (Key1 * i + Key2) rem n in signed 32-bit arithmetic: the product and the sum wrap,
// and the remainder takes the sign of the dividend. Empty for n <= 0.
MosaicOrder MakeLinearOrder(int32_t Key1, int32_t Key2, int32_t n);

// Whether the linear order holds every value 0..n-1 exactly once (true for n <= 0).
bool IsReversibleOrder(int32_t Key1, int32_t Key2, int32_t n);

// The order Q with Q[P[k]] = k for the linear order P, or empty when P is not reversible.
MosaicOrder MakeInverseOrder(int32_t Key1, int32_t Key2, int32_t n);

}  // namespace kavun
