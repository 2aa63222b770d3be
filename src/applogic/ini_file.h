#pragma once

// An in-memory INI store of sections and keys, read from and written back to text whole.
//
// Reading: every line is trimmed of blanks (characters up to ' '); empty lines and lines that
// begin with ';' are ignored; "[name]" opens the section `name` (trimmed); lines before the
// first section are ignored; "key=value" splits at the first '=' with both sides trimmed; a
// line without '=' belongs to its section and is kept in its place, but names no key. Section and
// key names match without regard to ASCII letter case. A section that appears twice is merged into
// its first occurrence; of a key that appears twice the first one counts.
//
// Writing: for every section in order "[name]", then its lines in order, keys as "key=value" (no
// blanks) and lines without '=' as they were read (trimmed), then
// one empty line (after the last section too); every line ends with CR LF. Comments, blank
// lines and blanks around '=' of the read text are therefore not reproduced.
//
// Encoding: text that begins with a byte-order mark is read in the encoding the mark names:
// UTF-8 (the mark dropped), UTF-16 little- or big-endian (held as UTF-8; an unpaired surrogate is
// kept as its three-byte form and a lone last byte becomes U+FFFD). Such text is written back in
// the same encoding with its mark, so that the editor that saved it (Notepad saves UTF-8 with a
// mark) reads it as before. Text without a mark (or with a UTF-32 mark) is taken byte for byte
// and written back so.
//
// Reading and writing take time linear in the size of the text: sections and keys are found
// through hash tables.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kavun {

// A value as a 32-bit integer: decimal digits with an optional '+'/'-', or hexadecimal digits
// after a leading "$", "0x" or "0X" (at most 0x7FFFFFFF). Anything else, or a value outside
// the int32 range, gives nullopt.
std::optional<int32_t> ParseIniInteger(std::string_view text) noexcept;

// How the text of a settings file is encoded (see above).
enum class TIniEncoding { Bytes, Utf8Mark, Utf16LeMark, Utf16BeMark };

// The encoding `bytes` names by its byte-order mark, and the text after the mark as UTF-8.
std::pair<TIniEncoding, std::string> DecodeIniText(std::string_view bytes);
// `text` (UTF-8) in `encoding`, with its mark.
std::string EncodeIniText(std::string_view text, TIniEncoding encoding);

class TIniStore {
 public:
  TIniStore() = default;
  // Reads the file's bytes in the encoding their mark names.
  static TIniStore Parse(std::string_view bytes);
  // The file's bytes, in the encoding it was read in.
  std::string Serialize() const;
  TIniEncoding Encoding() const noexcept { return encoding_; }

  bool HasSection(std::string_view section) const;
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  // The value as ParseIniInteger reads it; `def` when the key is absent or no integer.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // ReadInteger(...) != 0; `def` when the key is absent or no integer ("yes" -> def, "2" -> true).
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Replaces an existing key's value in place (its spelling kept); a new key goes to the end of
  // its section; a missing section is appended to the end (with the spelling given here).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"

 private:
  struct Entry {
    std::string key;  // the whole trimmed line when the line names no key
    std::string value;
    bool named = true;  // false: a line without '='
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    std::unordered_map<std::string, size_t> keys;  // lower-case key -> index in entries
    const Entry* Find(std::string_view key) const;
    Entry* Find(std::string_view key);
    // Adds a key it does not hold yet; a key it holds keeps its value.
    void Add(std::string_view key, std::string_view value);
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  Section& AddSection(std::string_view name);  // the section of that name, added if new

  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionIndex_;  // lower-case name -> index
  TIniEncoding encoding_ = TIniEncoding::Bytes;
};

// A settings file larger than this is no settings file.
inline constexpr uint64_t kMaxSettingsFileBytes = uint64_t{16} << 20;

// The whole file as bytes; nullopt when it does not exist. Any other failure (a folder, FIFO or
// device, a file over kMaxSettingsFileBytes, no permission, a read error) raises kavun::Error
// naming the file; nothing but a regular file is read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Writes `content` with the program's one safe writer (WriteFileSafely in imagefile/file_io.h):
// through links, keeping the old file's permissions, replacing it only when the new one is
// complete. Raises kavun::Error naming the file on failure.
void WriteWholeFileAtomic(const std::filesystem::path& path, std::string_view content);

}  // namespace kavun
