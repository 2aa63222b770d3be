#include "engine/fast_kernels.h"

#include <bit>
#include <cstring>

#include "engine/cpu_path.h"
#include "engine/mt_constants.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KAVUN_HAVE_X86_KERNELS 1
#define KAVUN_HAVE_AVX2_KERNELS 1
#define KAVUN_AVX2 __attribute__((target("avx2")))
#define KAVUN_AVX512 __attribute__((target("avx2,avx512f")))
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define KAVUN_HAVE_NEON_KERNELS 1
#endif

namespace kavun::kernels {
namespace {

inline uint32_t Twist(uint32_t upper_from, uint32_t lower_from, uint32_t far) {
  const uint32_t y = (upper_from & kMTUpperMask) | (lower_from & kMTLowerMask);
  return far ^ (y >> 1) ^ ((y & 1) != 0 ? kMTMatrixA : 0);
}

inline uint8_t TemperLowByte(uint32_t y) {
  return static_cast<uint8_t>(MTTemper(y));
}

// ---- plain versions ----

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

void XorRepeating96Plain(uint8_t* data, std::size_t len, const uint8_t* pattern) {
  uint64_t words[12];
  std::memcpy(words, pattern, sizeof words);
  std::size_t j = 0;
  for (; j + 96 <= len; j += 96) {
    for (std::size_t w = 0; w < 12; ++w) {
      uint64_t v;
      std::memcpy(&v, data + j + 8 * w, 8);
      v ^= words[w];
      std::memcpy(data + j + 8 * w, &v, 8);
    }
  }
  for (std::size_t t = 0; j < len; ++j, ++t) data[j] ^= pattern[t];
}

void XorTriplesReversedPlain(uint8_t* data, const uint8_t* stream, std::size_t len) {
  for (std::size_t j = 0; j + 2 < len; j += 3) {
    data[j] ^= stream[j + 2];
    data[j + 1] ^= stream[j + 1];
    data[j + 2] ^= stream[j];
  }
}

void CombineShiftedBytesPlain(uint8_t* dst, const uint8_t* src, std::size_t len, unsigned s1,
                              unsigned s2) {
  std::size_t j = 0;
  // Eight bytes at a time as one big-endian word: the bytes are a bit string, most significant
  // bit first, so shifting the word shifts the string.
  for (; j + 8 <= len; j += 8) {
    const uint64_t word = LoadBigEndian64(src + j);
    StoreBigEndian64(dst + j, (word << s1) | (uint64_t{src[j + 8]} >> s2));
  }
  for (; j < len; ++j) {
    dst[j] = static_cast<uint8_t>((unsigned{src[j]} << s1) | (unsigned{src[j + 1]} >> s2));
  }
}

void GatherPixelsPlain(uint8_t* out, const uint8_t* from_base, const uint32_t* offset,
                       std::size_t width) {
  if (width == 0) return;
  std::size_t c = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Two pixels per 8-byte store; its last two bytes land on the next pixel, which is written
    // right after.
    for (; c + 3 <= width; c += 2) {
      uint32_t first, second;
      std::memcpy(&first, from_base + offset[c], 4);
      std::memcpy(&second, from_base + offset[c + 1], 4);
      const uint64_t pair = (first & 0xFFFFFFu) | (uint64_t{second} << 24);
      std::memcpy(out + 3 * c, &pair, 8);
    }
  }
  // Four bytes per pixel, the fourth again overwritten next; the last pixel with three.
  for (; c + 1 < width; ++c) std::memcpy(out + 3 * c, from_base + offset[c], 4);
  std::memcpy(out + 3 * (width - 1), from_base + offset[width - 1], 3);
}

void MTRegenerateWordsPlain(uint32_t* mt) {
  // The same in-place pass as k = 0 .. 623 with indices taken mod 624, split where they wrap.
  int k = 0;
  for (; k < kMTN - kMTM; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM]);
  for (; k < kMTN - 1; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM - kMTN]);
  mt[kMTN - 1] = Twist(mt[kMTN - 1], mt[0], mt[kMTM - 1]);
}

void MTTemperLowBytesPlain(const uint32_t* words, uint8_t* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = TemperLowByte(words[i]);
}

// The tempered bytes of at most 624 words, with the two bytes either side XorTriplesReversed
// may read.
struct TemperedBlock {
  static constexpr std::size_t kMargin = 32;
  alignas(64) uint8_t bytes[kMargin + kMTN + kMargin];
  uint8_t* begin() { return bytes + kMargin; }
};

void MTTemperXorReversedPlain(const uint32_t* words, uint8_t* data, std::size_t n) {
  for (std::size_t j = 0; j + 2 < n; j += 3) {
    data[j] ^= TemperLowByte(words[j + 2]);
    data[j + 1] ^= TemperLowByte(words[j + 1]);
    data[j + 2] ^= TemperLowByte(words[j]);
  }
}

// Lane masks over one 96-byte period: kClass0[t] selects bytes with t mod 3 = 0, kClass2[t]
// those with t mod 3 = 2.
struct TripleMasks {
  alignas(32) uint8_t class0[96];
  alignas(32) uint8_t class2[96];
  constexpr TripleMasks() : class0(), class2() {
    for (int t = 0; t < 96; ++t) {
      class0[t] = t % 3 == 0 ? 0xFF : 0;
      class2[t] = t % 3 == 2 ? 0xFF : 0;
    }
  }
};
constexpr TripleMasks kTripleMasks;

// ---- SSE2 versions (every x86-64 processor has SSE2) ----

#ifdef KAVUN_HAVE_X86_KERNELS

void XorRepeating96Sse2(uint8_t* data, std::size_t len, const uint8_t* pattern) {
  __m128i p[6];
  for (int v = 0; v < 6; ++v)
    p[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + 16 * v));
  std::size_t j = 0;
  for (; j + 96 <= len; j += 96) {
    auto* d = reinterpret_cast<__m128i*>(data + j);
    for (int v = 0; v < 6; ++v)
      _mm_storeu_si128(d + v, _mm_xor_si128(_mm_loadu_si128(d + v), p[v]));
  }
  for (std::size_t t = 0; j < len; ++j, ++t) data[j] ^= pattern[t];
}

void XorTriplesReversedSse2(uint8_t* data, const uint8_t* stream, std::size_t len) {
  __m128i m0[6], m2[6], m1[6];
  for (int v = 0; v < 6; ++v) {
    m0[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(kTripleMasks.class0 + 16 * v));
    m2[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(kTripleMasks.class2 + 16 * v));
    m1[v] = _mm_andnot_si128(_mm_or_si128(m0[v], m2[v]), _mm_set1_epi8(-1));
  }
  std::size_t j = 0;
  for (; j + 96 <= len; j += 96) {
    for (int v = 0; v < 6; ++v) {
      const std::size_t j0 = j + 16 * static_cast<std::size_t>(v);
      const uint8_t* s = stream + j0;
      const __m128i ahead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2));
      const __m128i same = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      const __m128i behind = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s - 2));
      const __m128i key =
          _mm_or_si128(_mm_or_si128(_mm_and_si128(ahead, m0[v]), _mm_and_si128(same, m1[v])),
                       _mm_and_si128(behind, m2[v]));
      auto* d = reinterpret_cast<__m128i*>(data + j0);
      _mm_storeu_si128(d, _mm_xor_si128(_mm_loadu_si128(d), key));
    }
  }
  XorTriplesReversedPlain(data + j, stream + j, len - j);
}

void CombineShiftedBytesSse2(uint8_t* dst, const uint8_t* src, std::size_t len, unsigned s1,
                             unsigned s2) {
  const __m128i c1 = _mm_cvtsi32_si128(static_cast<int>(s1));
  const __m128i c2 = _mm_cvtsi32_si128(static_cast<int>(s2));
  const __m128i mask1 = _mm_set1_epi8(static_cast<char>((0xFFu << s1) & 0xFF));
  const __m128i mask2 = _mm_set1_epi8(static_cast<char>(0xFFu >> s2));
  std::size_t j = 0;
  for (; j + 16 <= len; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j + 1));
    const __m128i high = _mm_and_si128(_mm_sll_epi16(a, c1), mask1);
    const __m128i low = _mm_and_si128(_mm_srl_epi16(b, c2), mask2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_or_si128(high, low));
  }
  CombineShiftedBytesPlain(dst + j, src + j, len - j, s1, s2);
}

inline __m128i TwistSse2(__m128i current, __m128i next, __m128i far) {
  const __m128i upper = _mm_set1_epi32(static_cast<int>(kMTUpperMask));
  const __m128i matrix = _mm_set1_epi32(static_cast<int>(kMTMatrixA));
  const __m128i y = _mm_or_si128(_mm_and_si128(current, upper), _mm_andnot_si128(upper, next));
  const __m128i odd = _mm_srai_epi32(_mm_slli_epi32(y, 31), 31);
  return _mm_xor_si128(_mm_xor_si128(far, _mm_srli_epi32(y, 1)), _mm_and_si128(odd, matrix));
}

inline __m128i Load4(const uint32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void MTRegenerateWordsSse2(uint32_t* mt) {
  int k = 0;
  for (; k + 4 <= kMTN - kMTM; k += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mt + k),
                     TwistSse2(Load4(mt + k), Load4(mt + k + 1), Load4(mt + k + kMTM)));
  }
  for (; k < kMTN - kMTM; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM]);
  for (; k + 4 <= kMTN - 5; k += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mt + k),
                     TwistSse2(Load4(mt + k), Load4(mt + k + 1), Load4(mt + k + kMTM - kMTN)));
  }
  for (; k < kMTN; ++k) mt[k] = Twist(mt[k], mt[(k + 1) % kMTN], mt[k + kMTM - kMTN]);
}

inline __m128i TemperSse2(__m128i y) {
  y = _mm_xor_si128(y, _mm_srli_epi32(y, 11));
  y = _mm_xor_si128(
      y, _mm_and_si128(_mm_slli_epi32(y, 7), _mm_set1_epi32(static_cast<int>(kMTTemperB))));
  y = _mm_xor_si128(
      y, _mm_and_si128(_mm_slli_epi32(y, 15), _mm_set1_epi32(static_cast<int>(kMTTemperC))));
  y = _mm_xor_si128(y, _mm_srli_epi32(y, 18));
  return _mm_and_si128(y, _mm_set1_epi32(0xFF));
}

void MTTemperLowBytesSse2(const uint32_t* words, uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i t0 = TemperSse2(Load4(words + i));
    const __m128i t1 = TemperSse2(Load4(words + i + 4));
    const __m128i t2 = TemperSse2(Load4(words + i + 8));
    const __m128i t3 = TemperSse2(Load4(words + i + 12));
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(t0, t1), _mm_packs_epi32(t2, t3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
  }
  MTTemperLowBytesPlain(words + i, out + i, n - i);
}

void MTTemperXorReversedSse2(const uint32_t* words, uint8_t* data, std::size_t n) {
  TemperedBlock block;
  MTTemperLowBytesSse2(words, block.begin(), n);
  XorTriplesReversedSse2(data, block.begin(), n);
}

#endif  // KAVUN_HAVE_X86_KERNELS

// ---- AVX2 versions ----

#ifdef KAVUN_HAVE_AVX2_KERNELS

KAVUN_AVX2 void XorRepeating96Avx2(uint8_t* data, std::size_t len, const uint8_t* pattern) {
  const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern));
  const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern + 32));
  const __m256i p2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern + 64));
  std::size_t j = 0;
  for (; j + 96 <= len; j += 96) {
    auto* d = reinterpret_cast<__m256i*>(data + j);
    _mm256_storeu_si256(d, _mm256_xor_si256(_mm256_loadu_si256(d), p0));
    _mm256_storeu_si256(d + 1, _mm256_xor_si256(_mm256_loadu_si256(d + 1), p1));
    _mm256_storeu_si256(d + 2, _mm256_xor_si256(_mm256_loadu_si256(d + 2), p2));
  }
  for (std::size_t t = 0; j < len; ++j, ++t) data[j] ^= pattern[t];
}

KAVUN_AVX2 void XorTriplesReversedAvx2(uint8_t* data, const uint8_t* stream, std::size_t len) {
  __m256i m0[3], m2[3];
  for (int v = 0; v < 3; ++v) {
    m0[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTripleMasks.class0 + 32 * v));
    m2[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTripleMasks.class2 + 32 * v));
  }
  std::size_t j = 0;
  for (; j + 96 <= len; j += 96) {
    for (int v = 0; v < 3; ++v) {
      const std::size_t j0 = j + 32 * static_cast<std::size_t>(v);
      const uint8_t* s = stream + j0;
      const __m256i ahead = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2));
      const __m256i same = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
      const __m256i behind = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 2));
      const __m256i key = _mm256_blendv_epi8(_mm256_blendv_epi8(same, ahead, m0[v]), behind, m2[v]);
      auto* d = reinterpret_cast<__m256i*>(data + j0);
      _mm256_storeu_si256(d, _mm256_xor_si256(_mm256_loadu_si256(d), key));
    }
  }
  XorTriplesReversedPlain(data + j, stream + j, len - j);
}

KAVUN_AVX2 void CombineShiftedBytesAvx2(uint8_t* dst, const uint8_t* src, std::size_t len,
                                        unsigned s1, unsigned s2) {
  const __m128i c1 = _mm_cvtsi32_si128(static_cast<int>(s1));
  const __m128i c2 = _mm_cvtsi32_si128(static_cast<int>(s2));
  const __m256i mask1 = _mm256_set1_epi8(static_cast<char>((0xFFu << s1) & 0xFF));
  const __m256i mask2 = _mm256_set1_epi8(static_cast<char>(0xFFu >> s2));
  std::size_t j = 0;
  for (; j + 32 <= len; j += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + j + 1));
    const __m256i high = _mm256_and_si256(_mm256_sll_epi16(a, c1), mask1);
    const __m256i low = _mm256_and_si256(_mm256_srl_epi16(b, c2), mask2);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), _mm256_or_si256(high, low));
  }
  CombineShiftedBytesPlain(dst + j, src + j, len - j, s1, s2);
}

// Eight words k .. k+7 at once; `far` holds the words that are XORed in.
KAVUN_AVX2 inline __m256i TwistAvx2(__m256i current, __m256i next, __m256i far) {
  const __m256i upper = _mm256_set1_epi32(static_cast<int>(kMTUpperMask));
  // The word XORed in for an odd y is looked up by y's lowest bit: the permutation reads the
  // low three bits of each index, and the table holds the matrix at every odd place.
  const auto a = static_cast<int>(kMTMatrixA);
  const __m256i matrixIfOdd = _mm256_setr_epi32(0, a, 0, a, 0, a, 0, a);
  const __m256i y =
      _mm256_or_si256(_mm256_and_si256(current, upper), _mm256_andnot_si256(upper, next));
  return _mm256_xor_si256(_mm256_xor_si256(far, _mm256_srli_epi32(y, 1)),
                          _mm256_permutevar8x32_epi32(matrixIfOdd, next));
}

KAVUN_AVX2 inline __m256i LoadWords(const uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KAVUN_AVX2 inline void StoreWords(uint32_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

KAVUN_AVX2 void MTRegenerateWordsAvx2(uint32_t* mt) {
  // Words 0 .. 223 read old words k + 1 and k + 397 only. Each block loads before it stores,
  // so word k + 8 is still the old one when the block ending at k + 7 reads it.
  int k = 0;
  for (; k + 8 <= kMTN - kMTM - 3; k += 8)
    StoreWords(mt + k,
               TwistAvx2(LoadWords(mt + k), LoadWords(mt + k + 1), LoadWords(mt + k + kMTM)));
  for (; k < kMTN - kMTM; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM]);
  // Words 227 .. 618 read the already regenerated words k - 227.
  for (; k + 8 <= kMTN - 5; k += 8) {
    StoreWords(mt + k, TwistAvx2(LoadWords(mt + k), LoadWords(mt + k + 1),
                                 LoadWords(mt + k + kMTM - kMTN)));
  }
  // The last words, 623 reading the new word 0.
  for (; k < kMTN; ++k) mt[k] = Twist(mt[k], mt[(k + 1) % kMTN], mt[k + kMTM - kMTN]);
}

KAVUN_AVX2 inline __m256i TemperAvx2(__m256i y) {
  y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 11));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 7),
                                           _mm256_set1_epi32(static_cast<int>(kMTTemperB))));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 15),
                                           _mm256_set1_epi32(static_cast<int>(kMTTemperC))));
  y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 18));
  return _mm256_and_si256(y, _mm256_set1_epi32(0xFF));
}

KAVUN_AVX2 void MTTemperLowBytesAvx2(const uint32_t* words, uint8_t* out, std::size_t n) {
  const __m256i interleave = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const auto* w = reinterpret_cast<const __m256i*>(words + i);
    const __m256i t0 = TemperAvx2(_mm256_loadu_si256(w));
    const __m256i t1 = TemperAvx2(_mm256_loadu_si256(w + 1));
    const __m256i t2 = TemperAvx2(_mm256_loadu_si256(w + 2));
    const __m256i t3 = TemperAvx2(_mm256_loadu_si256(w + 3));
    // Per 128-bit lane: words 0-3 of t0, t1, t2, t3 (then 4-7); the permutation puts each
    // source's eight bytes back together in order.
    const __m256i packed =
        _mm256_packus_epi16(_mm256_packus_epi32(t0, t1), _mm256_packus_epi32(t2, t3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_permutevar8x32_epi32(packed, interleave));
  }
  MTTemperLowBytesPlain(words + i, out + i, n - i);
}

KAVUN_AVX2 void MTTemperXorReversedAvx2(const uint32_t* words, uint8_t* data, std::size_t n) {
  TemperedBlock block;
  MTTemperLowBytesAvx2(words, block.begin(), n);
  XorTriplesReversedAvx2(data, block.begin(), n);
}

// ---- AVX-512 versions of the Mersenne Twister: sixteen words at once, with three-input logic
// and mask registers ----

// GCC 12's own AVX-512 shift intrinsics start from an undefined vector, which its
// uninitialised-value warnings report at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

KAVUN_AVX512 inline __m512i TwistAvx512(__m512i current, __m512i next, __m512i far) {
  // 0xCA: upper bit from `current`, the others from `next`.
  const __m512i y = _mm512_ternarylogic_epi32(_mm512_set1_epi32(static_cast<int>(kMTUpperMask)),
                                              current, next, 0xCA);
  const __m512i shifted = _mm512_xor_si512(far, _mm512_srli_epi32(y, 1));
  const __mmask16 odd = _mm512_test_epi32_mask(next, _mm512_set1_epi32(1));
  return _mm512_mask_xor_epi32(shifted, odd, shifted,
                               _mm512_set1_epi32(static_cast<int>(kMTMatrixA)));
}

KAVUN_AVX512 inline __m512i Load16(const uint32_t* p) {
  return _mm512_loadu_si512(p);
}

KAVUN_AVX512 void MTRegenerateWordsAvx512(uint32_t* mt) {
  // The blocks of the AVX2 version, sixteen words wide; each loads before it stores.
  int k = 0;
  for (; k + 16 <= kMTN - kMTM; k += 16)
    _mm512_storeu_si512(mt + k,
                        TwistAvx512(Load16(mt + k), Load16(mt + k + 1), Load16(mt + k + kMTM)));
  for (; k < kMTN - kMTM; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM]);
  for (; k + 16 <= kMTN - 5; k += 16) {
    _mm512_storeu_si512(
        mt + k, TwistAvx512(Load16(mt + k), Load16(mt + k + 1), Load16(mt + k + kMTM - kMTN)));
  }
  for (; k < kMTN; ++k) mt[k] = Twist(mt[k], mt[(k + 1) % kMTN], mt[k + kMTM - kMTN]);
}

KAVUN_AVX512 inline __m128i TemperLowBytesAvx512(const uint32_t* words) {
  __m512i y = _mm512_loadu_si512(words);
  y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 11));
  // 0x78: a ^ (b & c).
  y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 7),
                                _mm512_set1_epi32(static_cast<int>(kMTTemperB)), 0x78);
  y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 15),
                                _mm512_set1_epi32(static_cast<int>(kMTTemperC)), 0x78);
  y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 18));
  return _mm512_cvtepi32_epi8(y);  // the low byte of each word
}

KAVUN_AVX512 void MTTemperLowBytesAvx512(const uint32_t* words, uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), TemperLowBytesAvx512(words + i));
  }
  MTTemperLowBytesPlain(words + i, out + i, n - i);
}

KAVUN_AVX512 void MTTemperXorReversedAvx512(const uint32_t* words, uint8_t* data, std::size_t n) {
  TemperedBlock block;
  MTTemperLowBytesAvx512(words, block.begin(), n);
  XorTriplesReversedAvx2(data, block.begin(), n);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif  // KAVUN_HAVE_AVX2_KERNELS

// ---- NEON versions (aarch64): the Mersenne Twister and the reversed triples ----

#ifdef KAVUN_HAVE_NEON_KERNELS

void XorTriplesReversedNeon(uint8_t* data, const uint8_t* stream, std::size_t len) {
  std::size_t j = 0;
  // Loads that sort 48 bytes by j mod 3: swapping the first and third class reverses triples.
  for (; j + 48 <= len; j += 48) {
    uint8x16x3_t d = vld3q_u8(data + j);
    const uint8x16x3_t s = vld3q_u8(stream + j);
    d.val[0] = veorq_u8(d.val[0], s.val[2]);
    d.val[1] = veorq_u8(d.val[1], s.val[1]);
    d.val[2] = veorq_u8(d.val[2], s.val[0]);
    vst3q_u8(data + j, d);
  }
  XorTriplesReversedPlain(data + j, stream + j, len - j);
}

inline uint32x4_t TwistNeon(uint32x4_t current, uint32x4_t next, uint32x4_t far) {
  const uint32x4_t y = vbslq_u32(vdupq_n_u32(kMTUpperMask), current, next);
  const uint32x4_t odd = vtstq_u32(next, vdupq_n_u32(1));
  return veorq_u32(veorq_u32(far, vshrq_n_u32(y, 1)), vandq_u32(odd, vdupq_n_u32(kMTMatrixA)));
}

void MTRegenerateWordsNeon(uint32_t* mt) {
  // The blocks of the SSE2 version: each loads before it stores.
  int k = 0;
  for (; k + 4 <= kMTN - kMTM; k += 4) {
    vst1q_u32(mt + k,
              TwistNeon(vld1q_u32(mt + k), vld1q_u32(mt + k + 1), vld1q_u32(mt + k + kMTM)));
  }
  for (; k < kMTN - kMTM; ++k) mt[k] = Twist(mt[k], mt[k + 1], mt[k + kMTM]);
  for (; k + 4 <= kMTN - 5; k += 4) {
    vst1q_u32(mt + k,
              TwistNeon(vld1q_u32(mt + k), vld1q_u32(mt + k + 1), vld1q_u32(mt + k + kMTM - kMTN)));
  }
  for (; k < kMTN; ++k) mt[k] = Twist(mt[k], mt[(k + 1) % kMTN], mt[k + kMTM - kMTN]);
}

inline uint16x4_t TemperNeon(const uint32_t* words) {
  uint32x4_t y = vld1q_u32(words);
  y = veorq_u32(y, vshrq_n_u32(y, 11));
  y = veorq_u32(y, vandq_u32(vshlq_n_u32(y, 7), vdupq_n_u32(kMTTemperB)));
  y = veorq_u32(y, vandq_u32(vshlq_n_u32(y, 15), vdupq_n_u32(kMTTemperC)));
  y = veorq_u32(y, vshrq_n_u32(y, 18));
  return vmovn_u32(y);  // the low halves; the next narrowing keeps the low bytes
}

void MTTemperLowBytesNeon(const uint32_t* words, uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const uint16x8_t a = vcombine_u16(TemperNeon(words + i), TemperNeon(words + i + 4));
    const uint16x8_t b = vcombine_u16(TemperNeon(words + i + 8), TemperNeon(words + i + 12));
    vst1q_u8(out + i, vcombine_u8(vmovn_u16(a), vmovn_u16(b)));
  }
  MTTemperLowBytesPlain(words + i, out + i, n - i);
}

void MTTemperXorReversedNeon(const uint32_t* words, uint8_t* data, std::size_t n) {
  TemperedBlock block;
  MTTemperLowBytesNeon(words, block.begin(), n);
  XorTriplesReversedNeon(data, block.begin(), n);
}

#endif  // KAVUN_HAVE_NEON_KERNELS

}  // namespace

#ifdef KAVUN_HAVE_X86_KERNELS
// The AVX-512 path takes the AVX2 kernels but for the Mersenne Twister's.
#define KAVUN_DISPATCH(name, ...)     \
  switch (ActiveCpuPath()) {          \
    case CpuPath::Avx512:             \
    case CpuPath::Avx2:               \
      return name##Avx2(__VA_ARGS__); \
    case CpuPath::Sse2:               \
      return name##Sse2(__VA_ARGS__); \
    case CpuPath::Portable:           \
    case CpuPath::Neon:               \
      break;                          \
  }                                   \
  return name##Plain(__VA_ARGS__)
#define KAVUN_DISPATCH_MT(name, ...)    \
  switch (ActiveCpuPath()) {            \
    case CpuPath::Avx512:               \
      return name##Avx512(__VA_ARGS__); \
    case CpuPath::Avx2:                 \
      return name##Avx2(__VA_ARGS__);   \
    case CpuPath::Sse2:                 \
      return name##Sse2(__VA_ARGS__);   \
    case CpuPath::Portable:             \
    case CpuPath::Neon:                 \
      break;                            \
  }                                     \
  return name##Plain(__VA_ARGS__)
#else
#define KAVUN_DISPATCH(name, ...) return name##Plain(__VA_ARGS__)
#ifdef KAVUN_HAVE_NEON_KERNELS
// Only the Mersenne Twister and its reversed triples have NEON versions.
#define KAVUN_DISPATCH_MT(name, ...)                                    \
  if (ActiveCpuPath() == CpuPath::Neon) return name##Neon(__VA_ARGS__); \
  return name##Plain(__VA_ARGS__)
#else
#define KAVUN_DISPATCH_MT KAVUN_DISPATCH
#endif
#endif

void XorRepeating96(uint8_t* data, std::size_t len, const uint8_t* pattern) {
  KAVUN_DISPATCH(XorRepeating96, data, len, pattern);
}

void XorTriplesReversed(uint8_t* data, const uint8_t* stream, std::size_t len) {
#ifdef KAVUN_HAVE_NEON_KERNELS
  KAVUN_DISPATCH_MT(XorTriplesReversed, data, stream, len);
#else
  KAVUN_DISPATCH(XorTriplesReversed, data, stream, len);
#endif
}

void CombineShiftedBytes(uint8_t* dst, const uint8_t* src, std::size_t len, unsigned s1,
                         unsigned s2) {
  KAVUN_DISPATCH(CombineShiftedBytes, dst, src, len, s1, s2);
}

void GatherPixels(uint8_t* out, const uint8_t* from_base, const uint32_t* offset,
                  std::size_t width) {
  // The same code on every path: the AVX2 gather instruction measured slower than these
  // separate loads on the processors we tried.
  GatherPixelsPlain(out, from_base, offset, width);
}

void MTRegenerateWords(uint32_t* mt) {
  KAVUN_DISPATCH_MT(MTRegenerateWords, mt);
}

void MTTemperLowBytes(const uint32_t* words, uint8_t* out, std::size_t n) {
  KAVUN_DISPATCH_MT(MTTemperLowBytes, words, out, n);
}

void MTTemperXorReversed(const uint32_t* words, uint8_t* data, std::size_t n) {
  KAVUN_DISPATCH_MT(MTTemperXorReversed, words, data, n);
}

}  // namespace kavun::kernels
