#pragma once

#include <optional>

namespace kavun {

// The code paths the fast transforms choose between at run time. The program is built for the
// baseline of its architecture; wider vector units are used only when the processor running it
// has them, so one binary runs everywhere.
enum class CpuPath {
  Portable,  // plain C++, any processor
  Sse2,      // x86-64: SSE2 is part of its baseline
  Avx2,      // x86-64 with AVX2
  Avx512,    // x86-64 with AVX-512F (the Mersenne Twister's kernels; AVX2 for the others)
  Neon,      // aarch64: Advanced SIMD is part of its baseline (the Mersenne Twister's kernels)
};

// The path's name: "Portable", "Sse2", "Avx2", "Avx512" or "Neon" (test names, benchmark reports).
const char* CpuPathName(CpuPath path) noexcept;

// Whether this processor (and this build) can run `path`.
bool CpuPathSupported(CpuPath path) noexcept;

// The path the transforms take: the forced one if any, else the widest supported one.
CpuPath ActiveCpuPath() noexcept;

// For tests and benchmarks: makes the transforms take `path` (nullopt: choose again by the
// processor). Forcing a path the processor does not support is ignored.
void ForceCpuPath(std::optional<CpuPath> path) noexcept;

}  // namespace kavun
