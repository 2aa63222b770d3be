#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/bitmap.h"

namespace kavun {

// Decodes the file by its extension, letters compared without regard to case: ".png" PNG,
// ".jpg"/".jpeg" JPEG, ".bmp" BMP; anything else is an error. The decoder follows the extension,
// not the content. Throws Error with a message that names the file.
Bitmap LoadImageFile(const std::filesystem::path& path);

// Writes `bitmap` to `path` in the format `extension` names, compared without regard to case:
// ".png" PNG, ".jpg"/".jpeg" JPEG, anything else BMP. The data goes to a temporary file in the
// same folder that is renamed over `path` only when everything was written; on failure `path` is
// untouched and the temporary file removed. Throws Error with a message that names the file.
void SaveImageFile(const std::filesystem::path& path, std::string_view extension,
                   const Bitmap& bitmap);

// How many threads one save may use; the PNG writer compresses a large picture on that many.
// 0, the default, means one per processor. A program that saves several files at once gives
// each its share of the processors. Applies to the saves that start after the call.
void SetSaveThreadBudget(unsigned threads);
// The number in force: at least 1.
unsigned SaveThreadBudget();

// The extension of a file name: from the last "." of its file-name part to the end, the "."
// included; empty when the file-name part has no ".".
std::string FileExtension(std::string_view path);

}  // namespace kavun
