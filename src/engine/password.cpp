#include "engine/password.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "engine/error.h"

namespace kavun {
namespace {

// Closes the conversion descriptor on every path.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw Error("The password cannot be converted: this system has no CP932 conversion");
    }
  }
  ~IconvHandle() { iconv_close(cd_); }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  iconv_t get() const noexcept { return cd_; }

 private:
  iconv_t cd_;
};

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
  // Check the whole text first, so that the message can name the exact position.
  for (std::size_t pos = 0; pos < utf8.size();) {
    const CodePoint cp = DecodeUtf8(utf8, pos);
    if (cp.length == 0) {
      throw Error("The password is not valid UTF-8 text (at byte " + std::to_string(pos + 1) + ")");
    }
    pos += cp.length;
  }

  IconvHandle conv("CP932", "UTF-8");
  std::string out;
  out.resize(utf8.size() * 2 + 4);  // CP932 needs at most two bytes per character
  char* in_ptr = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  while (in_left > 0) {
    const std::size_t rc = iconv(conv.get(), &in_ptr, &in_left, &out_ptr, &out_left);
    if (rc != static_cast<std::size_t>(-1)) {
      if (rc > 0) {
        // Some iconv implementations count irreversible (substituted) conversions here.
        throw Error("The password contains a character that CP932 cannot represent exactly");
      }
      continue;
    }
    const std::size_t pos = utf8.size() - in_left;
    if (errno == EILSEQ || errno == EINVAL) {
      const CodePoint cp = DecodeUtf8(utf8, pos);
      std::string shown(utf8.substr(pos, cp.length));
      throw Error("The password contains the character \"" + shown + "\" (" +
                  CodePointName(cp.value) +
                  "), which the Shift_JIS code page (CP932) cannot represent");
    }
    throw Error("The password could not be converted to CP932");
  }
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace kavun
