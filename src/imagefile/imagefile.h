#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/bitmap.h"

namespace kavun {

class DecodeWatch;

// What a file held that the loaded picture cannot keep (it has 8 bits per channel and no
// transparency), so that a front end can warn that saving loses it.
struct DroppedOnLoad {
  bool Alpha = false;        // an alpha channel or a transparent colour, flattened onto white
  bool DeepSamples = false;  // 16-bit samples, rounded to 8 bits
};

// Decodes the file by its extension, letters compared without regard to case, as the table of
// formats says (formats.h); anything else is an error. The decoder follows the extension,
// not the content. The file must be a regular file no larger than its format could need for the
// largest picture the program holds; a FIFO, device or folder is refused without being read.
// Throws Error naming the file. `dropped`, when given, tells what the picture lost. `watch`, when
// given, follows the decode and can stop it from another thread (decode_watch.h); a stopped
// decode throws Error (Interrupted).
Bitmap LoadImageFile(const std::filesystem::path& path, DroppedOnLoad* dropped = nullptr,
                     DecodeWatch* watch = nullptr);

// Writes `bitmap` to `path` in the format `extension` names, compared without regard to case
// (formats.h), BMP when it names none, through WriteFileSafely (file_io.h): links
// followed, write-protected files and folders refused, the old file untouched on any failure
// except a disk failure while a multiply linked file is rewritten in place. Throws Error naming
// the file.
void SaveImageFile(const std::filesystem::path& path, std::string_view extension,
                   const Bitmap& bitmap);

// How many threads one save may use; the PNG writer compresses a large picture on that many.
// 0, the default, means one per processor. A program that saves several files at once gives
// each its share of the processors. Applies to the saves that start after the call.
void SetSaveThreadBudget(unsigned threads);
// The number in force: at least 1.
unsigned SaveThreadBudget();

// The size in bytes of the picture in `path` in its 24-bit form, read from the file's header alone
// (0 when no size can be read: loading then fails early). Lets a batch start no more files at once
// than the memory holds.
uint64_t PictureBytes24(const std::filesystem::path& path);

// The extension of a file name: from the last "." of its file-name part to the end, the "."
// included; empty when the file-name part has no ".".
std::string FileExtension(std::string_view path);

}  // namespace kavun
