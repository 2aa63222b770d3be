#include "engine/md5.h"

#include <cstring>

#include "engine/ascii.h"

namespace kavun {
namespace {

constexpr uint8_t kPadding[64] = {0x80};

constexpr uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | (~x & z);
}
constexpr uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return (x & z) | (y & ~z);
}
constexpr uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
constexpr uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

constexpr uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
  a += Fn(b, c, d) + x + ac;
  a = RotateLeft(a, s) + b;
}

// Little-endian bytes to words and back.
void Decode(uint32_t* out, const uint8_t* in, std::size_t words) {
  for (std::size_t i = 0; i < words; ++i, in += 4) {
    out[i] = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
             (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
  }
}

void Encode(uint8_t* out, const uint32_t* in, std::size_t words) {
  for (std::size_t i = 0; i < words; ++i, out += 4) {
    out[0] = static_cast<uint8_t>(in[i]);
    out[1] = static_cast<uint8_t>(in[i] >> 8);
    out[2] = static_cast<uint8_t>(in[i] >> 16);
    out[3] = static_cast<uint8_t>(in[i] >> 24);
  }
}

}  // namespace

void SecureZero(void* data, std::size_t size) noexcept {
  volatile auto* p = static_cast<volatile uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

void MD5Init(MD5Context& context) {
  context.State[0] = 0x67452301;
  context.State[1] = 0xEFCDAB89;
  context.State[2] = 0x98BADCFE;
  context.State[3] = 0x10325476;
  context.Count[0] = 0;
  context.Count[1] = 0;
}

void MD5Update(MD5Context& context, const uint8_t* data, uint32_t length) {
  uint32_t index = (context.Count[0] >> 3) & 63;
  const uint32_t bits = length << 3;
  context.Count[0] += bits;
  if (context.Count[0] < bits) ++context.Count[1];
  context.Count[1] += length >> 29;
  const uint32_t part_len = 64 - index;

  uint32_t i = 0;
  if (length >= part_len) {
    std::memcpy(&context.Buffer[index], data, part_len);
    MD5Transform(context.State, context.Buffer);
    // Whole blocks go straight from the input through a local block, not through Buffer.
    uint8_t block[64];
    for (i = part_len; i + 63 < length; i += 64) {
      std::memcpy(block, data + i, 64);
      MD5Transform(context.State, block);
    }
    SecureZero(block, sizeof block);
    index = 0;
  }
  if (length > i) std::memcpy(&context.Buffer[index], data + i, length - i);
}

std::string MD5Final(MD5Context& context) {
  uint8_t bits[8];
  Encode(bits, context.Count, 2);
  const uint32_t index = (context.Count[0] >> 3) & 63;
  const uint32_t pad_len = index < 56 ? 56 - index : 120 - index;
  MD5Update(context, kPadding, pad_len);
  MD5Update(context, bits, 8);

  // Each byte as two lower-case digits.
  uint8_t digest[16];
  Encode(digest, context.State, 4);
  std::string text(32, '0');
  for (std::size_t i = 0; i < 16; ++i) {
    text[2 * i] = kLowerHexDigits[digest[i] >> 4];
    text[2 * i + 1] = kLowerHexDigits[digest[i] & 15];
  }
  SecureZero(digest, sizeof digest);
  SecureZero(&context, sizeof context);
  return text;
}

void MD5Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t x[16];
  Decode(x, block, 16);

  // Round 1
  Step<F>(a, b, c, d, x[0], 7, 0xd76aa478);
  Step<F>(d, a, b, c, x[1], 12, 0xe8c7b756);
  Step<F>(c, d, a, b, x[2], 17, 0x242070db);
  Step<F>(b, c, d, a, x[3], 22, 0xc1bdceee);
  Step<F>(a, b, c, d, x[4], 7, 0xf57c0faf);
  Step<F>(d, a, b, c, x[5], 12, 0x4787c62a);
  Step<F>(c, d, a, b, x[6], 17, 0xa8304613);
  Step<F>(b, c, d, a, x[7], 22, 0xfd469501);
  Step<F>(a, b, c, d, x[8], 7, 0x698098d8);
  Step<F>(d, a, b, c, x[9], 12, 0x8b44f7af);
  Step<F>(c, d, a, b, x[10], 17, 0xffff5bb1);
  Step<F>(b, c, d, a, x[11], 22, 0x895cd7be);
  Step<F>(a, b, c, d, x[12], 7, 0x6b901122);
  Step<F>(d, a, b, c, x[13], 12, 0xfd987193);
  Step<F>(c, d, a, b, x[14], 17, 0xa679438e);
  Step<F>(b, c, d, a, x[15], 22, 0x49b40821);

  // Round 2
  Step<G>(a, b, c, d, x[1], 5, 0xf61e2562);
  Step<G>(d, a, b, c, x[6], 9, 0xc040b340);
  Step<G>(c, d, a, b, x[11], 14, 0x265e5a51);
  Step<G>(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  Step<G>(a, b, c, d, x[5], 5, 0xd62f105d);
  Step<G>(d, a, b, c, x[10], 9, 0x02441453);
  Step<G>(c, d, a, b, x[15], 14, 0xd8a1e681);
  Step<G>(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  Step<G>(a, b, c, d, x[9], 5, 0x21e1cde6);
  Step<G>(d, a, b, c, x[14], 9, 0xc33707d6);
  Step<G>(c, d, a, b, x[3], 14, 0xf4d50d87);
  Step<G>(b, c, d, a, x[8], 20, 0x455a14ed);
  Step<G>(a, b, c, d, x[13], 5, 0xa9e3e905);
  Step<G>(d, a, b, c, x[2], 9, 0xfcefa3f8);
  Step<G>(c, d, a, b, x[7], 14, 0x676f02d9);
  Step<G>(b, c, d, a, x[12], 20, 0x8d2a4c8a);

  // Round 3
  Step<H>(a, b, c, d, x[5], 4, 0xfffa3942);
  Step<H>(d, a, b, c, x[8], 11, 0x8771f681);
  Step<H>(c, d, a, b, x[11], 16, 0x6d9d6122);
  Step<H>(b, c, d, a, x[14], 23, 0xfde5380c);
  Step<H>(a, b, c, d, x[1], 4, 0xa4beea44);
  Step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9);
  Step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60);
  Step<H>(b, c, d, a, x[10], 23, 0xbebfbc70);
  Step<H>(a, b, c, d, x[13], 4, 0x289b7ec6);
  Step<H>(d, a, b, c, x[0], 11, 0xeaa127fa);
  Step<H>(c, d, a, b, x[3], 16, 0xd4ef3085);
  Step<H>(b, c, d, a, x[6], 23, 0x04881d05);
  Step<H>(a, b, c, d, x[9], 4, 0xd9d4d039);
  Step<H>(d, a, b, c, x[12], 11, 0xe6db99e5);
  Step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8);
  Step<H>(b, c, d, a, x[2], 23, 0xc4ac5665);

  // Round 4
  Step<I>(a, b, c, d, x[0], 6, 0xf4292244);
  Step<I>(d, a, b, c, x[7], 10, 0x432aff97);
  Step<I>(c, d, a, b, x[14], 15, 0xab9423a7);
  Step<I>(b, c, d, a, x[5], 21, 0xfc93a039);
  Step<I>(a, b, c, d, x[12], 6, 0x655b59c3);
  Step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92);
  Step<I>(c, d, a, b, x[10], 15, 0xffeff47d);
  Step<I>(b, c, d, a, x[1], 21, 0x85845dd1);
  Step<I>(a, b, c, d, x[8], 6, 0x6fa87e4f);
  Step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  Step<I>(c, d, a, b, x[6], 15, 0xa3014314);
  Step<I>(b, c, d, a, x[13], 21, 0x4e0811a1);
  Step<I>(a, b, c, d, x[4], 6, 0xf7537e82);
  Step<I>(d, a, b, c, x[11], 10, 0xbd3af235);
  Step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bb);
  Step<I>(b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;

  // The decoded message words may hold password bytes: clear them.
  SecureZero(x, sizeof x);
}

std::string MD5HexDigest(const void* data, uint32_t length) {
  MD5Context context;
  MD5Init(context);
  if (length > 0) MD5Update(context, static_cast<const uint8_t*>(data), length);
  return MD5Final(context);
}

std::size_t HexToBytes(std::string_view text, uint8_t* bytes, std::size_t count) {
  std::size_t written = 0;
  while (written < count && 2 * written + 1 < text.size()) {
    const int high = HexDigitValue(text[2 * written]);
    const int low = HexDigitValue(text[2 * written + 1]);
    if (high < 0 || low < 0) break;
    bytes[written++] = static_cast<uint8_t>(16 * high + low);
  }
  return written;
}

}  // namespace kavun
