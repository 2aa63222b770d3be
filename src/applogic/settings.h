#pragma once

// The five settings that outlive a run, kept in the INI file of the executable.
//
// Use in the main window:
//   FormCreate:  loc = ResolveSettingsPath(exePath, configDir);   // configDir from
//                                      // QStandardPaths::AppConfigLocation
//                try { v = LoadSettingsValues(loc, width(), height()); }
//                catch (const kavun::Error& e) { v = defaults; ... }  // start-up goes on
//                apply v in this order: isScrollTrack, isShowSaveChkDlg, isShowJpgSaveChkDlg,
//                FormWidth, FormHeight.
//   FormDestroy: SaveSettingsValues(loc, current values);  // may raise kavun::Error
//
// Section "Setup"; keys isScrollTrack, isShowSaveChkDlg, isShowJpgSaveChkDlg (written "1"/"0"),
// FormWidth, FormHeight (decimal). Other sections and keys of the file are carried over.
//
// Section "LastSelection" (its own, so that "Setup" stays as it is): the image rectangle of the
// last Execute as Left, Top, Right, Bottom, for selecting it again after a restart.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "applogic/ini_file.h"
#include "engine/rect.h"

namespace kavun {

inline constexpr char kSettingsSection[] = "Setup";
inline constexpr char kLastSelectionSection[] = "LastSelection";

struct TSettingsValues {
  bool isScrollTrack = false;
  bool isShowSaveChkDlg = true;
  bool isShowJpgSaveChkDlg = true;
  int32_t FormWidth = 594;  // outer window size, frame included
  int32_t FormHeight = 477;
  // The image rectangle of the last Execute; none when never executed or not a rectangle.
  std::optional<TRect> LastSelection;
  friend bool operator==(const TSettingsValues&, const TSettingsValues&) = default;
};

// The executable's path with the extension of its file name replaced by ".ini" (the text from
// the last '.' of the file name on); a file name without '.' gets ".ini" appended.
std::filesystem::path SettingsPathForExecutable(const std::filesystem::path& exePath);

// Where the settings live.
struct TSettingsLocation {
  std::filesystem::path file;  // read at start and written at start and at exit
  // When `file` is the fallback in the user's configuration folder and does not exist yet,
  // the readable file beside the executable (if any) is read instead, so that its values are
  // taken over once. Empty otherwise.
  std::filesystem::path seed;
};

// The file beside the executable (SettingsPathForExecutable) while it can be written there:
// the file exists and is writable, or the folder accepts a new file. Otherwise the same file
// name inside `configDir` (the user's configuration folder; created when written). An empty
// `configDir` keeps the file beside the executable whatever happens.
TSettingsLocation ResolveSettingsPath(const std::filesystem::path& exePath,
                                      const std::filesystem::path& configDir);

// The values in `store`, with `defaultWidth`/`defaultHeight` (the window's current size) for
// missing or non-integer sizes and the TSettingsValues defaults for the switches.
TSettingsValues ReadSettingsValues(const TIniStore& store, int32_t defaultWidth,
                                   int32_t defaultHeight);
// Sets the five keys of section "Setup" in this order, then the four of "LastSelection" when
// there is a last selection (otherwise that section is left as it is).
void WriteSettingsValues(TIniStore& store, const TSettingsValues& values);

// LoadSettings without the window: reads the file (a missing one gives an empty store), takes
// the values, and writes the store back in normalised form (a missing file is created empty).
// Raises kavun::Error when the file cannot be read or written; the values are then not
// returned, and the caller goes on with the defaults.
TSettingsValues LoadSettingsValues(const TSettingsLocation& location, int32_t defaultWidth,
                                   int32_t defaultHeight);
// The same, handing the values over in `values` as soon as they are read: a file that was read
// but cannot be written back still gives its values. A file that cannot be read leaves
// `values` as it is and is not written.
void LoadSettingsValues(const TSettingsLocation& location, int32_t defaultWidth,
                        int32_t defaultHeight, TSettingsValues* values);

// SaveSettings without the window: reads the file again (keeping other sections and keys),
// sets the five keys, writes it back atomically. Raises kavun::Error on failure; the old file
// is then unchanged.
void SaveSettingsValues(const TSettingsLocation& location, const TSettingsValues& values);

}  // namespace kavun
