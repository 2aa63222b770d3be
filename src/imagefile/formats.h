#pragma once

// The picture formats the program reads and writes, one row each: everything that differs
// between them besides the coders' own code. Loading and saving, the size limits, both front
// ends' checks of a name's extension, the file dialogs' filters and the wording of an unknown
// extension all read this table, so a new format is a coder, a row and its tests.

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "engine/bitmap.h"
#include "imagefile/codecs.h"
#include "imagefile/imagefile.h"

namespace kavun {

enum class PictureFormatId { Png, Jpeg, Bmp };

struct PictureFormat {
  PictureFormatId Id;
  const char* Name;   // in messages and error details: "PNG"
  const char* Title;  // in the file dialogs' filters: "Bitmap"
  // Lower case with the dot, compared without regard to case; the first is the one a save
  // dialog gives a name. Unused places are empty.
  std::array<std::string_view, 2> Extensions;
  bool Lossy;  // a scrambled picture saved in it can no longer be restored exactly
  Bitmap (*Decode)(std::FILE* file, const codec::DecodeLimits& limits, DroppedOnLoad* dropped);
  void (*Encode)(std::FILE* file, const Bitmap& bitmap);
  // The largest file the largest picture the program holds could need; a larger one is
  // refused unread.
  uint64_t MaxFileBytes;
  // The width and height from the header alone, read from the start of the file (0 x 0 when
  // none can be read).
  codec::PictureSize (*PeekSize)(std::FILE* file);
};

// Every format, in the order the file dialogs list them.
std::span<const PictureFormat> PictureFormats();

// The row of `id`.
const PictureFormat& FormatRow(PictureFormatId id);

// The format an extension (".PNG", with the dot) names, or null when it names none.
const PictureFormat* FormatOfExtension(std::string_view extension);
// The format the extension of a file name names (FileExtension), or null.
const PictureFormat* FormatOfPath(std::string_view path);
// The format of that Name ("JPEG"), or null.
const PictureFormat* FormatNamed(std::string_view name);

// Every extension the program takes, in the table's order, separated by single blanks:
// ".png .jpg .jpeg .bmp". The detail of an unknown file type (ErrorKind::UnknownFileType);
// each front end words the list in its own language.
std::string AcceptedExtensions();

// The format of `path` by its extension; throws Error (UnknownFileType, naming `path`, the
// accepted extensions as detail) when it names none.
const PictureFormat& FormatForPath(const std::string& path);

}  // namespace kavun
