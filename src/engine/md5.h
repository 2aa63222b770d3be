#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavun {

// The MD5 message digest (RFC 1321) of a byte string, handed out as 32 lower-case hex digits.
// The hex text is itself hashed again by the XOR transform's MD5OFB mode, so its exact form
// (lower case, digest byte order, no separators) is part of every picture scrambled with it.

struct MD5Context {
  uint32_t State[4];   // A, B, C, D
  uint32_t Count[2];   // number of message bits hashed so far, low word first
  uint8_t Buffer[64];  // input that does not yet fill a block
};

// The digest of `length` bytes at `data` as lower-case hex text. `data` may be null when
// `length` is 0.
std::string MD5HexDigest(const void* data, uint32_t length);

void MD5Init(MD5Context& context);
void MD5Update(MD5Context& context, const uint8_t* data, uint32_t length);
// Appends padding and length, returns the hex text and overwrites the whole context with zeros.
std::string MD5Final(MD5Context& context);
// Compresses one 64-byte block into the four state words.
void MD5Transform(uint32_t state[4], const uint8_t block[64]);

// Reads `text` two characters at a time and writes one byte per pair of hex digits ('0'-'9',
// 'a'-'f', 'A'-'F'), at most `count` bytes. Stops at the first pair that is not two hex digits
// (or at the end of the text) and returns how many bytes it wrote.
std::size_t HexToBytes(std::string_view text, uint8_t* bytes, std::size_t count);

// Overwrites `size` bytes with zeros in a way the optimiser may not drop.
void SecureZero(void* data, std::size_t size) noexcept;

}  // namespace kavun
