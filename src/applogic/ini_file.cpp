#include "applogic/ini_file.h"

#include <cstdio>
#include <cstring>
#include <limits>

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

char LowerAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
      digit = HexDigit(text[pos]);
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

// --- Store ----------------------------------------------------------------------------------

TIniStore TIniStore::Parse(std::string_view text) {
  TIniStore store;
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
      current = store.FindSection(name);
      if (current == nullptr) current = &store.AddSection(name);
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
    const std::string_view value = Trim(line.substr(eq + 1));
    bool known = false;
    for (const Entry& e : current->entries) {
      if (e.named && SameName(e.key, key)) {
        known = true;
        break;
      }
    }
    if (!known) current->entries.push_back(Entry{std::string(key), std::string(value), true});
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
  return out;
}

TIniStore::Section* TIniStore::FindSection(std::string_view name) noexcept {
  for (Section& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

const TIniStore::Section* TIniStore::FindSection(std::string_view name) const noexcept {
  for (const Section& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

TIniStore::Section& TIniStore::AddSection(std::string_view name) {
  sections_.push_back(Section{std::string(name), {}});
  return sections_.back();
}

bool TIniStore::HasSection(std::string_view section) const noexcept {
  return FindSection(section) != nullptr;
}

std::optional<std::string> TIniStore::ReadString(std::string_view section,
                                                 std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  for (const Entry& e : s->entries) {
    if (e.named && SameName(e.key, key)) return e.value;
  }
  return std::nullopt;
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
  for (Entry& e : s->entries) {
    if (e.named && SameName(e.key, key)) {
      e.value.assign(value);
      return;
    }
  }
  s->entries.push_back(Entry{std::string(key), std::string(value), true});
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
