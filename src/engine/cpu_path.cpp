#include "engine/cpu_path.h"

namespace kavun {
namespace {

std::optional<CpuPath> g_forced;

bool DetectAvx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool DetectAvx512() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace

bool CpuPathSupported(CpuPath path) noexcept {
  switch (path) {
    case CpuPath::Portable:
      return true;
    case CpuPath::Sse2:
#if defined(__x86_64__) && defined(__GNUC__)
      return true;
#else
      return false;
#endif
    case CpuPath::Avx2: {
      static const bool avx2 = DetectAvx2();
      return avx2;
    }
    case CpuPath::Avx512: {
      static const bool avx512 = DetectAvx512();
      return avx512;
    }
    case CpuPath::Neon:
#if defined(__aarch64__) && defined(__ARM_NEON)
      return true;
#else
      return false;
#endif
  }
  return false;
}

CpuPath ActiveCpuPath() noexcept {
  if (g_forced) return *g_forced;
  if (CpuPathSupported(CpuPath::Avx512)) return CpuPath::Avx512;
  if (CpuPathSupported(CpuPath::Avx2)) return CpuPath::Avx2;
  if (CpuPathSupported(CpuPath::Sse2)) return CpuPath::Sse2;
  if (CpuPathSupported(CpuPath::Neon)) return CpuPath::Neon;
  return CpuPath::Portable;
}

void ForceCpuPath(std::optional<CpuPath> path) noexcept {
  if (path && !CpuPathSupported(*path)) return;
  g_forced = path;
}

const char* CpuPathName(CpuPath path) noexcept {
  switch (path) {
    case CpuPath::Portable:
      return "Portable";
    case CpuPath::Sse2:
      return "Sse2";
    case CpuPath::Avx2:
      return "Avx2";
    case CpuPath::Avx512:
      return "Avx512";
    case CpuPath::Neon:
      return "Neon";
  }
  return "Unknown";
}

}  // namespace kavun
