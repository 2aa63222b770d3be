#pragma once

#include <cstdint>

#include "engine/mosaic_order.h"

namespace kavun {

// The order a mosaic call uses: the linear order of (Key1, Key2) over BlockW x BlockH cells, or
// its inverse for Decode. Empty when the call must refuse (and beep): no cells, negative sides,
// too many cells, an irreversible order for Decode, or entries outside the block.
MosaicOrder UsableMosaicOrder(bool decode, int32_t block_w, int32_t block_h, int32_t key1,
                              int32_t key2);

}  // namespace kavun
