#include "engine/password.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>

#include "engine/error.h"

namespace kavun {
namespace {

// The WHATWG Encoding Standard's index jis0208: pointer -> code point, 0 where there is none.
// A pointer p stands for the two bytes lead = p / 188, trail = p % 188 of Shift_JIS.
constexpr uint16_t kJis0208[] = {
#include "engine/cp932_jis0208.inc"
};
constexpr std::size_t kPointersPerLead = 188;
static_assert(std::size(kJis0208) == 94 * 120, "the index covers lead bytes 81-9F and E0-FC");

// Pointers 8272 to 8835 are rows ED and EE, the NEC-selected copies of the IBM extensions. A
// character there is encoded by its IBM-extension pointer (rows FA-FC), as code page 932 does.
constexpr std::size_t kNecSelectedFirst = 8272;
constexpr std::size_t kNecSelectedLast = 8835;

// The user-defined area: U+E000 to U+E757 are rows F0 to F9, pointers 8836 to 10715.
constexpr uint32_t kPrivateUseFirst = 0xE000;
constexpr uint32_t kPrivateUseLast = 0xE757;
constexpr std::size_t kPrivateUsePointer = 8836;

// Code points the index does not list whose character code page 932 holds under another code
// point: the JIS X 0208 forms that text from other systems carries. Each takes the bytes of the
// code point it maps to. The minus sign is the Encoding Standard's own rule; the others are
// glibc's "CP932" conversion, which keyed every password before this table was built in.
struct Alias {
  uint32_t from;
  uint32_t to;
};
constexpr Alias kAliases[] = {
    {0x00A2, 0xFFE0},  // CENT SIGN -> FULLWIDTH CENT SIGN (81 91)
    {0x00A3, 0xFFE1},  // POUND SIGN -> FULLWIDTH POUND SIGN (81 92)
    {0x00AC, 0xFFE2},  // NOT SIGN -> FULLWIDTH NOT SIGN (81 CA)
    {0x2014, 0x2015},  // EM DASH -> HORIZONTAL BAR (81 5C)
    {0x2016, 0x2225},  // DOUBLE VERTICAL LINE -> PARALLEL TO (81 61)
    {0x2212, 0xFF0D},  // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS (81 7C)
    {0x301C, 0xFF5E},  // WAVE DASH -> FULLWIDTH TILDE (81 60)
};

// Code point -> index pointer + 1 (0: not in the code page), made once from the index.
class ReverseIndex {
 public:
  ReverseIndex() : pointer_plus_one_(std::make_unique<std::array<uint16_t, 0x10000>>()) {
    pointer_plus_one_->fill(0);
    for (std::size_t p = std::size(kJis0208); p-- > 0;) {  // backwards: the lowest pointer wins
      if (p >= kNecSelectedFirst && p <= kNecSelectedLast) continue;
      if (kJis0208[p] != 0) (*pointer_plus_one_)[kJis0208[p]] = static_cast<uint16_t>(p + 1);
    }
  }
  // The pointer of `code_point`, or -1.
  int32_t Find(uint32_t code_point) const {
    if (code_point > 0xFFFF) return -1;
    return static_cast<int32_t>((*pointer_plus_one_)[code_point]) - 1;
  }

 private:
  std::unique_ptr<std::array<uint16_t, 0x10000>> pointer_plus_one_;
};

const ReverseIndex& Reverse() {
  static const ReverseIndex reverse;
  return reverse;
}

void AppendPointer(std::string& out, std::size_t pointer) {
  const std::size_t lead = pointer / kPointersPerLead;
  const std::size_t trail = pointer % kPointersPerLead;
  out.push_back(static_cast<char>(lead + (lead < 0x1F ? 0x81 : 0xC1)));
  out.push_back(static_cast<char>(trail + (trail < 0x3F ? 0x40 : 0x41)));
}

// Appends the code page 932 bytes of `code_point`; false when the code page has no such character.
bool AppendCp932(std::string& out, uint32_t code_point) {
  if (code_point <= 0x80) {  // ASCII, and U+0080 as the single byte 80
    out.push_back(static_cast<char>(code_point));
    return true;
  }
  if (code_point == 0x00A5) {  // YEN SIGN: the byte a Japanese keyboard's yen key gives
    out.push_back('\x5C');
    return true;
  }
  if (code_point == 0x203E) {  // OVERLINE: the byte of the keyboard's overline key
    out.push_back('\x7E');
    return true;
  }
  if (code_point >= 0xFF61 && code_point <= 0xFF9F) {  // half-width katakana: one byte A1-DF
    out.push_back(static_cast<char>(code_point - 0xFF61 + 0xA1));
    return true;
  }
  if (code_point >= kPrivateUseFirst && code_point <= kPrivateUseLast) {
    AppendPointer(out, kPrivateUsePointer + (code_point - kPrivateUseFirst));
    return true;
  }
  for (const Alias& alias : kAliases) {
    if (alias.from == code_point) code_point = alias.to;
  }
  const int32_t pointer = Reverse().Find(code_point);
  if (pointer < 0) return false;
  AppendPointer(out, static_cast<std::size_t>(pointer));
  return true;
}

// Decodes the UTF-8 sequence at `pos`: its code point and length, or length 0 when the bytes
// there are no valid UTF-8 (overlong forms, surrogates and values above U+10FFFF included).
struct CodePoint {
  uint32_t value = 0;
  std::size_t length = 0;
};

CodePoint DecodeUtf8(std::string_view text, std::size_t pos) {
  const auto b0 = static_cast<uint8_t>(text[pos]);
  std::size_t length;
  uint32_t value;
  uint32_t min;
  if (b0 < 0x80) return {b0, 1};
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, value = b0 & 0x07, min = 0x10000;
  } else {
    return {};
  }
  if (pos + length > text.size()) return {};
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<uint8_t>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return {};
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, length};
}

std::string CodePointName(uint32_t value) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(value));
  return name;
}

}  // namespace

std::string PasswordToCp932(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());  // never more bytes than the UTF-8 text has
  for (std::size_t pos = 0; pos < utf8.size();) {
    const CodePoint cp = DecodeUtf8(utf8, pos);
    if (cp.length == 0) {
      throw Error(ErrorKind::PasswordNotUtf8, "", "at byte " + std::to_string(pos + 1));
    }
    if (!AppendCp932(out, cp.value)) {
      throw Error(
          ErrorKind::PasswordNotCp932, "",
          "\"" + std::string(utf8.substr(pos, cp.length)) + "\" (" + CodePointName(cp.value) + ")");
    }
    pos += cp.length;
  }
  return out;
}

}  // namespace kavun
