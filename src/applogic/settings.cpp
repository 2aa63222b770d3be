#include "applogic/settings.h"

#include <cerrno>
#include <system_error>

#include "engine/error.h"
#include "engine/path_text.h"
#include "imagefile/file_access.h"

namespace kavun {

namespace {

constexpr char kScrollTrack[] = "isScrollTrack";
constexpr char kSaveChk[] = "isShowSaveChkDlg";
constexpr char kJpgSaveChk[] = "isShowJpgSaveChkDlg";
constexpr char kWidth[] = "FormWidth";
constexpr char kHeight[] = "FormHeight";
constexpr const char* kRectKeys[] = {"Left", "Top", "Right", "Bottom"};

// Whether the settings can be written at `file`: an existing file must be writable and, since
// the file is replaced through a temporary file, its folder must accept new files.
bool CanWriteAt(const std::filesystem::path& file) {
  const std::filesystem::path folder =
      file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return false;
  if (std::filesystem::exists(file, ec) && !MayWriteFile(file)) return false;
  return MayCreateIn(folder);
}

bool IsReadableFile(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec) && MayReadFile(file);
}

TIniStore ReadStore(const TSettingsLocation& location) {
  std::optional<std::string> text = ReadWholeFile(location.file);
  if (!text && !location.seed.empty()) {
    try {
      text = ReadWholeFile(location.seed);
    } catch (const Error&) {
      // The seed is only a convenience; an unreadable one is the same as none.
    }
  }
  return text ? TIniStore::Parse(*text) : TIniStore();
}

void WriteStore(const TSettingsLocation& location, const TIniStore& store) {
  const std::filesystem::path folder = location.file.parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      // A plain file standing where the folder should be: the settings file's place is missing.
      const int err = ec.value() == EEXIST ? ENOTDIR : ec.value();
      throw Error(KindFromErrno(err, true), PathToUtf8(location.file), ec.message());
    }
  }
  WriteWholeFileAtomic(location.file, store.Serialize());
}

}  // namespace

std::filesystem::path SettingsPathForExecutable(const std::filesystem::path& exePath) {
  std::string name = PathToUtf8(exePath.filename());
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  name += ".ini";
  return exePath.parent_path() / PathFromUtf8(name);
}

TSettingsLocation ResolveSettingsPath(const std::filesystem::path& exePath,
                                      const std::filesystem::path& configDir) {
  const std::filesystem::path beside = SettingsPathForExecutable(exePath);
  if (configDir.empty() || CanWriteAt(beside)) return TSettingsLocation{beside, {}};
  TSettingsLocation location{configDir / beside.filename(), {}};
  if (IsReadableFile(beside)) location.seed = beside;
  return location;
}

TSettingsValues ReadSettingsValues(const TIniStore& store, int32_t defaultWidth,
                                   int32_t defaultHeight) {
  const TSettingsValues defaults;
  TSettingsValues v;
  v.isScrollTrack = store.ReadBool(kSettingsSection, kScrollTrack, defaults.isScrollTrack);
  v.isShowSaveChkDlg = store.ReadBool(kSettingsSection, kSaveChk, defaults.isShowSaveChkDlg);
  v.isShowJpgSaveChkDlg =
      store.ReadBool(kSettingsSection, kJpgSaveChk, defaults.isShowJpgSaveChkDlg);
  v.FormWidth = store.ReadInteger(kSettingsSection, kWidth, defaultWidth);
  v.FormHeight = store.ReadInteger(kSettingsSection, kHeight, defaultHeight);
  int32_t edges[4] = {};
  bool complete = true;
  for (int i = 0; i < 4; ++i) {
    const std::optional<std::string> text = store.ReadString(kLastSelectionSection, kRectKeys[i]);
    const std::optional<int32_t> value = text ? ParseIniInteger(*text) : std::nullopt;
    complete = complete && value.has_value();
    if (value) edges[i] = *value;
  }
  const TRect last{edges[0], edges[1], edges[2], edges[3]};
  if (complete && !last.IsEmpty()) v.LastSelection = last;
  return v;
}

void WriteSettingsValues(TIniStore& store, const TSettingsValues& values) {
  store.WriteBool(kSettingsSection, kScrollTrack, values.isScrollTrack);
  store.WriteBool(kSettingsSection, kSaveChk, values.isShowSaveChkDlg);
  store.WriteBool(kSettingsSection, kJpgSaveChk, values.isShowJpgSaveChkDlg);
  store.WriteInteger(kSettingsSection, kWidth, values.FormWidth);
  store.WriteInteger(kSettingsSection, kHeight, values.FormHeight);
  if (values.LastSelection) {
    const TRect& r = *values.LastSelection;
    const int32_t edges[4] = {r.Left, r.Top, r.Right, r.Bottom};
    for (int i = 0; i < 4; ++i) store.WriteInteger(kLastSelectionSection, kRectKeys[i], edges[i]);
  }
}

TSettingsValues LoadSettingsValues(const TSettingsLocation& location, int32_t defaultWidth,
                                   int32_t defaultHeight) {
  TSettingsValues values;
  LoadSettingsValues(location, defaultWidth, defaultHeight, &values);
  return values;
}

void LoadSettingsValues(const TSettingsLocation& location, int32_t defaultWidth,
                        int32_t defaultHeight, TSettingsValues* values) {
  const TIniStore store = ReadStore(location);
  *values = ReadSettingsValues(store, defaultWidth, defaultHeight);
  // Written back even though nothing changed: a missing file is created (empty) and an
  // existing one is normalised, and a folder that refuses writing shows up at start.
  WriteStore(location, store);
}

void SaveSettingsValues(const TSettingsLocation& location, const TSettingsValues& values) {
  TIniStore store = ReadStore(location);
  WriteSettingsValues(store, values);
  WriteStore(location, store);
}

}  // namespace kavun
