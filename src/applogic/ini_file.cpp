#include "applogic/ini_file.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/ascii.h"
#include "engine/error.h"
#include "imagefile/file_io.h"

namespace kavun {

namespace {

bool IsBlank(char c) noexcept {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) noexcept {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) noexcept {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kLimit = kMax + 1;  // a magnitude past this is out of range either way
  size_t pos = 0;
  int base = 10;
  bool negative = false;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    pos = 1;
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    pos = 2;
  } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    pos = 1;
  }
  if (pos == text.size()) return std::nullopt;
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    int digit = -1;
    if (base == 16) {
      digit = HexDigitValue(text[pos]);
    } else if (text[pos] >= '0' && text[pos] <= '9') {
      digit = text[pos] - '0';
    }
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > kMax) return std::nullopt;
  return static_cast<int32_t>(value);
}

// --- Encodings ------------------------------------------------------------------------------

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
constexpr std::string_view kUtf32LeMark = std::string_view("\xFF\xFE\0\0", 4);

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {  // an unpaired surrogate too, so that it is written back as read
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2 * 3 / 2 + 4);
  const auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (uint32_t{a} << 8 | b) : (uint32_t{b} << 8 | a);
  };
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, code);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);  // half a character at the end
  return out;
}

// The code points of UTF-8 text (three-byte surrogates included); a byte that starts no
// sequence gives U+FFFD.
std::string Utf8ToUtf16(std::string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  const auto put = [&](uint32_t unit) {
    const auto hi = static_cast<char>(unit >> 8);
    const auto lo = static_cast<char>(unit & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = byte(i);
    int length = 0;
    uint32_t code = 0;
    if (b < 0x80) {
      length = 1;
      code = b;
    } else if (b >= 0xC2 && b < 0xE0) {
      length = 2;
      code = b & 0x1F;
    } else if (b >= 0xE0 && b < 0xF0) {
      length = 3;
      code = b & 0x0F;
    } else if (b >= 0xF0 && b < 0xF5) {
      length = 4;
      code = b & 0x07;
    }
    bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const unsigned char c = byte(i + static_cast<size_t>(k));
      valid = (c & 0xC0) == 0x80;
      code = code << 6 | (c & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || code < least[length] || code > 0x10FFFF) {
      put(0xFFFD);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
    i += static_cast<size_t>(length);
  }
  return out;
}

}  // namespace

std::pair<TIniEncoding, std::string> DecodeIniText(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) {
    return {TIniEncoding::Utf8Mark, std::string(bytes.substr(kUtf8Mark.size()))};
  }
  if (bytes.starts_with(kUtf32LeMark)) return {TIniEncoding::Bytes, std::string(bytes)};
  if (bytes.starts_with(kUtf16LeMark)) {
    return {TIniEncoding::Utf16LeMark, Utf16ToUtf8(bytes.substr(2), false)};
  }
  if (bytes.starts_with(kUtf16BeMark)) {
    return {TIniEncoding::Utf16BeMark, Utf16ToUtf8(bytes.substr(2), true)};
  }
  return {TIniEncoding::Bytes, std::string(bytes)};
}

std::string EncodeIniText(std::string_view text, TIniEncoding encoding) {
  switch (encoding) {
    case TIniEncoding::Bytes:
      break;
    case TIniEncoding::Utf8Mark:
      return std::string(kUtf8Mark) + std::string(text);
    case TIniEncoding::Utf16LeMark:
      return std::string(kUtf16LeMark) + Utf8ToUtf16(text, false);
    case TIniEncoding::Utf16BeMark:
      return std::string(kUtf16BeMark) + Utf8ToUtf16(text, true);
  }
  return std::string(text);
}

// --- Store ----------------------------------------------------------------------------------

TIniStore TIniStore::Parse(std::string_view bytes) {
  TIniStore store;
  auto [encoding, decoded] = DecodeIniText(bytes);
  store.encoding_ = encoding;
  const std::string_view text = decoded;
  Section* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    // Lines end at CR LF, LF or CR.
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;

    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      current = &store.AddSection(name);
      continue;
    }
    if (current == nullptr) continue;  // before the first section
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      // Belongs to the section and is written back as it stands, but names no key.
      current->entries.push_back(Entry{std::string(line), std::string(), false});
      continue;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    current->Add(key, Trim(line.substr(eq + 1)));
  }
  return store;
}

std::string TIniStore::Serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const Entry& e : s.entries) {
      out += e.key;
      if (e.named) {
        out += '=';
        out += e.value;
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  if (encoding_ == TIniEncoding::Bytes) return out;
  return EncodeIniText(out, encoding_);
}

const TIniStore::Entry* TIniStore::Section::Find(std::string_view key) const {
  const auto found = keys.find(LowerAscii(key));
  return found == keys.end() ? nullptr : &entries[found->second];
}

TIniStore::Entry* TIniStore::Section::Find(std::string_view key) {
  const auto found = keys.find(LowerAscii(key));
  return found == keys.end() ? nullptr : &entries[found->second];
}

void TIniStore::Section::Add(std::string_view key, std::string_view value) {
  if (!keys.try_emplace(LowerAscii(key), entries.size()).second) return;
  entries.push_back(Entry{std::string(key), std::string(value), true});
}

TIniStore::Section* TIniStore::FindSection(std::string_view name) {
  const auto found = sectionIndex_.find(LowerAscii(name));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

const TIniStore::Section* TIniStore::FindSection(std::string_view name) const {
  const auto found = sectionIndex_.find(LowerAscii(name));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

TIniStore::Section& TIniStore::AddSection(std::string_view name) {
  const auto [at, added] = sectionIndex_.try_emplace(LowerAscii(name), sections_.size());
  if (added) sections_.push_back(Section{std::string(name), {}, {}});
  return sections_[at->second];
}

bool TIniStore::HasSection(std::string_view section) const {
  return FindSection(section) != nullptr;
}

std::optional<std::string> TIniStore::ReadString(std::string_view section,
                                                 std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  const Entry* e = s->Find(key);
  if (e == nullptr) return std::nullopt;
  return e->value;
}

int32_t TIniStore::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  const std::optional<std::string> text = ReadString(section, key);
  if (!text) return def;
  return ParseIniInteger(*text).value_or(def);
}

bool TIniStore::ReadBool(std::string_view section, std::string_view key, bool def) const {
  const std::optional<std::string> text = ReadString(section, key);
  if (!text) return def;
  const std::optional<int32_t> value = ParseIniInteger(*text);
  return value ? *value != 0 : def;
}

void TIniStore::WriteString(std::string_view section, std::string_view key,
                            std::string_view value) {
  Section* s = FindSection(section);
  if (s == nullptr) s = &AddSection(section);
  if (Entry* e = s->Find(key)) {
    e->value.assign(value);
    return;
  }
  s->Add(key, value);
}

void TIniStore::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniStore::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

// --- Files ----------------------------------------------------------------------------------

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  try {
    return ReadRegularFile(path, kMaxSettingsFileBytes);
  } catch (const Error& e) {
    if (e.Kind() == ErrorKind::FileNotFound) return std::nullopt;
    throw;
  }
}

void WriteWholeFileAtomic(const std::filesystem::path& path, std::string_view content) {
  WriteFileSafely(path, [&](std::FILE* file) {
    if (std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
      throw Error(ErrorKind::WriteFailed, path.string());
    }
  });
}

}  // namespace kavun
