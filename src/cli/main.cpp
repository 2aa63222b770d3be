// kavun-cli: the transforms of Kavun on picture files, for shells, scripts and batch jobs.
//
// Exit status: 0 success, 2 usage error (bad arguments, a rectangle outside the picture),
// 1 any other failure. Nothing is written for a file whose processing failed. Messages are
// English, on stderr, and name the file they concern.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "engine/detect.h"
#include "engine/error.h"
#include "engine/mosaic.h"
#include "engine/password.h"
#include "engine/path_text.h"
#include "engine/transform_frame.h"
#include "engine/transform_params.h"
#include "imagefile/file_io.h"
#include "imagefile/imagefile.h"
#include "kavun_version.h"

namespace kavun::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string Str(int32_t value) {
  return std::to_string(value);
}

// "K1 2, K2 7, block 16x16": the mosaic's coefficients, as the messages name them.
std::string MosaicCoefficients(const TransformRequest& request) {
  return "K1 " + Str(request.Key1) + ", K2 " + Str(request.Key2) + ", block " +
         Str(request.BlockW) + "x" + Str(request.BlockH);
}
constexpr uint64_t kMaxPasswordFileBytes = uint64_t{1} << 20;

// "W and H 2 to 50", or each with its own range when they differ.
std::string RangePair(TParamId a, const char* aName, TParamId b, const char* bName) {
  const TNumericParam& pa = NumericParam(a);
  const TNumericParam& pb = NumericParam(b);
  const auto range = [](const TNumericParam& p) { return Str(p.Low) + " to " + Str(p.High); };
  if (pa.Low == pb.Low && pa.High == pb.High) {
    return std::string(aName) + " and " + bName + " " + range(pa);
  }
  return std::string(aName) + " " + range(pa) + ", " + bName + " " + range(pb);
}

// "mt|md5|md5ofb" (separator "|") or "mt, md5 or md5ofb" (separator ", ", last " or ").
std::string XorModeList(const std::string& separator, const std::string& last) {
  std::string list;
  const std::size_t count = std::size(kXorModeNames);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? last : separator;
    list += kXorModeNames[i].CliName;
  }
  return list;
}

// The help text. The {NAME} fields are filled from the transforms' description, so that the
// ranges, defaults and mode names shown are the ones the options accept.
constexpr const char* kHelpTemplate = R"(Usage: kavun-cli COMMAND [OPTIONS]
       kavun-cli --version

Scrambles a rectangle of a PNG, JPEG or BMP picture reversibly, and restores it.

Commands:
  mosaic IN OUT [--rect L,T,R,B] [--block WxH] [--keys K1,K2] [--decode]
                [--allow-irreversible]
      Reversible mosaic: permutes the pixels of every WxH block by (K1 * i + K2) mod (W * H);
      --decode applies the inverse. Defaults: --block {BLOCK} --keys {KEYS}, encode.
      {BLOCK_RANGE}, {KEYS_RANGE}. Coefficients that cannot be undone (see check)
      are refused unless --allow-irreversible is given.
  shift IN OUT [--rect L,T,R,B] --bits N
      Bit-shift rotation of every row: N > 0 rotates right, N < 0 left, |N| {BITS_RANGE}.
      Restore with the negated N.
  xor IN OUT [--rect L,T,R,B] [--mode {MODES}]
             (--password-file F | --password-stdin | --password P)
      XOR with a keystream derived from the password (default mode {MODE}).
      Running the same command again restores the picture.
      --password-file F  the content of F (a regular file of at most 1 MiB), one trailing
                         newline removed
      --password-stdin   one line read from standard input (at most 1 MiB, no NUL byte)
      --password P       P itself (other users can see it in the process list)
  check [--block WxH] [--keys K1,K2]
      Tells whether the mosaic coefficients can be undone. Exit status 0 when they can,
      1 when they cannot.
  info IN...
      Prints size, depth and palette size of each picture.
  detect IN
      Looks for the rectangle that mosaic, shift or xor scrambled in IN and prints it as
      L,T,R,B (for the mosaic, the part its whole blocks cover), ready for --rect of the
      inverse. Exit status 1 when no scrambled rectangle is found.

Batch form: mosaic, shift and xor also take several inputs and an output folder,
  kavun-cli xor a.png b.bmp --out-dir DIR --password-file F
which writes DIR/a.png and DIR/b.bmp; files are processed in parallel, as many at once as the
processors and the memory allow.

The rectangle is in image pixels, left and top inclusive, right and bottom exclusive, and must
lie inside the picture; the default is the whole picture. The output format follows OUT's
extension (.png, .jpg/.jpeg, .bmp, any letter case). A scrambled picture written as JPEG can no
longer be restored exactly. Text is UTF-8; the password is hashed as its CP932 bytes.

--version prints the program's version.

Exit status: 0 success, 1 failure, 2 usage error. Nothing is written for a failed file.
SIGINT, SIGTERM or SIGHUP ends the program (status 128 + the signal's number) after removing
the unfinished output files; a file-size limit (SIGXFSZ) fails the file concerned (status 1).
)";

std::string HelpText() {
  const TransformRequest defaults;
  const TNumericParam& shift = NumericParam(TParamId::ShiftLen);
  const std::map<std::string, std::string> fields = {
      {"BLOCK", Str(defaults.BlockW) + "x" + Str(defaults.BlockH)},
      {"KEYS", Str(defaults.Key1) + "," + Str(defaults.Key2)},
      {"BLOCK_RANGE", RangePair(TParamId::BlockW, "W", TParamId::BlockH, "H")},
      {"KEYS_RANGE", RangePair(TParamId::Key1, "K1", TParamId::Key2, "K2")},
      {"BITS_RANGE", Str(shift.Low) + " to " + Str(shift.High)},
      {"MODES", XorModeList("|", "|")},
      {"MODE", std::string(kXorModeNames[0].CliName) + ", " + kXorModeNames[0].Title},
  };
  std::string text = kHelpTemplate;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
    const std::size_t close = text.find('}', open);
    const auto field = fields.find(text.substr(open + 1, close - open - 1));
    if (close == std::string::npos || field == fields.end()) {
      ++open;  // a brace of the text itself
      continue;
    }
    text.replace(open, close - open + 1, field->second);
    open += field->second.size();
  }
  return text;
}

// Bad arguments: exit status 2 and a pointer to --help.
Error UsageError(const std::string& sentence) {
  return Error(ErrorKind::Usage, "", sentence);
}

// The exit status for a failure of this kind: a rectangle outside the picture is a usage
// error like a bad argument, because the command line asked for it.
int ExitStatusFor(ErrorKind kind) {
  return kind == ErrorKind::Usage || kind == ErrorKind::OutsideRectangle ? kExitUsage
                                                                         : kExitFailure;
}

// Reports a failure on stderr in English; a usage error adds where to look.
void Report(const Error& error) {
  std::cerr << "kavun-cli: " << error.what() << "\n";
  if (error.Kind() == ErrorKind::Usage) std::cerr << "Try 'kavun-cli --help'.\n";
}

enum class Command { Mosaic, Shift, Xor, Check, Info };

struct Options {
  Command Cmd = Command::Info;
  std::vector<std::string> Positional;
  std::optional<std::string> OutDir;
  std::optional<TRect> Rect;
  // The transform and its parameters; the password is read once the arguments are checked.
  TransformRequest Request;
  bool HasBits = false;
  bool AllowIrreversible = false;
  std::optional<std::string> PasswordFile;
  bool PasswordStdin = false;
  std::optional<std::string> PasswordText;
};

// A decimal integer and nothing else: no blanks, no trailing characters, no overflow.
int32_t ParseInt(std::string_view text, const std::string& what) {
  int32_t value = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (!text.empty() && text[0] == '+') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  // One sign at most: "+-5" is not a number.
  const bool twoSigns = begin != text.data() && begin != end && *begin == '-';
  if (text.empty() || ec != std::errc() || ptr != end || begin == end || twoSigns) {
    throw UsageError(what + ": \"" + std::string(text) + "\" is not a whole number");
  }
  return value;
}

std::vector<int32_t> ParseList(std::string_view text, char separator, std::size_t count,
                               const std::string& what, const std::string& shape) {
  std::vector<int32_t> values;
  std::size_t start = 0;
  while (true) {
    const std::size_t next = text.find(separator, start);
    values.push_back(ParseInt(text.substr(start, next - start), what));
    if (next == std::string_view::npos) break;
    start = next + 1;
  }
  if (values.size() != count) throw UsageError(what + " takes " + shape);
  return values;
}

// The parameter's value from its place in `values`, checked against its range.
int32_t CheckedParam(const std::vector<int32_t>& values, TParamId id) {
  const TNumericParam& p = NumericParam(id);
  const int32_t value = values[static_cast<std::size_t>(p.CliIndex)];
  if (value < p.Low || value > p.High) {
    throw UsageError(std::string(p.CliWhat) + " must be from " + Str(p.Low) + " to " + Str(p.High) +
                     ", not " + Str(value));
  }
  return value;
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError("no command given");
  static const std::map<std::string, Command> commands = {{"mosaic", Command::Mosaic},
                                                          {"shift", Command::Shift},
                                                          {"xor", Command::Xor},
                                                          {"check", Command::Check},
                                                          {"info", Command::Info}};
  const auto found = commands.find(args[0]);
  if (found == commands.end()) throw UsageError("unknown command \"" + args[0] + "\"");
  o.Cmd = found->second;
  if (o.Cmd == Command::Shift) o.Request.Kind = TransformKind::BitShift;
  if (o.Cmd == Command::Xor) o.Request.Kind = TransformKind::Xor;

  // Which options each command accepts.
  std::set<std::string> allowed;
  const bool transform =
      o.Cmd == Command::Mosaic || o.Cmd == Command::Shift || o.Cmd == Command::Xor;
  if (transform) allowed.insert({"--rect", "--out-dir"});
  if (o.Cmd == Command::Mosaic || o.Cmd == Command::Check) {
    allowed.insert({"--block", "--keys"});
  }
  if (o.Cmd == Command::Mosaic) allowed.insert({kDecodeOption, "--allow-irreversible"});
  if (o.Cmd == Command::Shift) allowed.insert("--bits");
  if (o.Cmd == Command::Xor) {
    allowed.insert({kXorModeOption, "--password-file", "--password-stdin", "--password"});
  }
  const std::set<std::string> flags = {kDecodeOption, "--password-stdin", "--allow-irreversible"};

  std::set<std::string> seen;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.Positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (!allowed.contains(arg)) {
      throw UsageError("\"" + arg + "\" is not an option of " + args[0]);
    }
    if (!seen.insert(arg).second) throw UsageError(arg + " is given twice");
    if (flags.contains(arg)) {
      if (value) throw UsageError(arg + " takes no value");
    } else if (!value) {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      value = args[++i];
    }
    if (arg == "--rect") {
      const auto v = ParseList(*value, ',', 4, "--rect", "four numbers L,T,R,B");
      if (v[2] < v[0] || v[3] < v[1]) {
        throw UsageError("--rect: right and bottom must not be less than left and top");
      }
      o.Rect = TRect{v[0], v[1], v[2], v[3]};
    } else if (arg == NumericParam(TParamId::BlockW).CliOption) {
      const auto v = ParseList(*value, 'x', 2, arg, "two numbers WxH");
      o.Request.BlockW = CheckedParam(v, TParamId::BlockW);
      o.Request.BlockH = CheckedParam(v, TParamId::BlockH);
    } else if (arg == NumericParam(TParamId::Key1).CliOption) {
      const auto v = ParseList(*value, ',', 2, arg, "two numbers K1,K2");
      o.Request.Key1 = CheckedParam(v, TParamId::Key1);
      o.Request.Key2 = CheckedParam(v, TParamId::Key2);
    } else if (arg == kDecodeOption) {
      o.Request.Decode = true;
    } else if (arg == "--allow-irreversible") {
      o.AllowIrreversible = true;
    } else if (arg == NumericParam(TParamId::ShiftLen).CliOption) {
      const int32_t bits = ParseInt(*value, arg);
      if (bits == 0) throw UsageError(arg + " must not be 0");
      if (!SignedShiftInRange(bits)) {
        const TNumericParam& p = NumericParam(TParamId::ShiftLen);
        throw UsageError(std::string(p.CliWhat) + " must be from " + Str(p.Low) + " to " +
                         Str(p.High) + ", not " + std::string(*value));
      }
      o.Request.Shift = bits;
      o.HasBits = true;
    } else if (arg == kXorModeOption) {
      if (!XorModeFromCliName(*value, &o.Request.Mode)) {
        throw UsageError(arg + " is " + XorModeList(", ", " or ") + ", not \"" + *value + "\"");
      }
    } else if (arg == "--out-dir") {
      o.OutDir = *value;
    } else if (arg == "--password-file") {
      o.PasswordFile = *value;
    } else if (arg == "--password-stdin") {
      o.PasswordStdin = true;
    } else if (arg == "--password") {
      o.PasswordText = *value;
    }
  }

  if (o.Cmd == Command::Check) {
    if (!o.Positional.empty()) throw UsageError("check takes no file");
  } else if (o.Cmd == Command::Info) {
    if (o.Positional.empty()) throw UsageError("info needs at least one file");
  } else if (o.OutDir) {
    if (o.Positional.empty()) throw UsageError("no input file given");
  } else if (o.Positional.size() != 2) {
    throw UsageError(args[0] +
                     " takes an input and an output file (or several inputs and --out-dir)");
  }
  if (o.Cmd == Command::Shift && !o.HasBits) throw UsageError("shift needs --bits N");
  if (o.Cmd == Command::Xor) {
    const int sources =
        (o.PasswordFile ? 1 : 0) + (o.PasswordStdin ? 1 : 0) + (o.PasswordText ? 1 : 0);
    if (sources != 1) {
      throw UsageError(
          "xor needs exactly one of --password-file F, --password-stdin, --password P");
    }
  }
  return o;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsJpeg(const std::string& path) {
  const std::string ext = Lower(FileExtension(path));
  return ext == ".jpg" || ext == ".jpeg";
}

void CheckOutputName(const std::string& path) {
  const std::string ext = Lower(FileExtension(path));
  if (ext != ".png" && ext != ".jpg" && ext != ".jpeg" && ext != ".bmp") {
    throw UsageError("\"" + path + "\": the output's extension must be .png, .jpg, .jpeg or .bmp");
  }
}

std::string StripOneNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

// One line of standard input without its line end, held to the password file's limit and free
// of NUL bytes (no text has them: /dev/zero or a binary file piped in by mistake). Reading stops
// at the line's end, past the limit or at a NUL byte, so that an endless input costs nothing.
std::string ReadPasswordLine() {
  std::string line;
  std::streambuf* in = std::cin.rdbuf();
  bool any = false;
  for (int c = in->sbumpc(); c != std::char_traits<char>::eof(); c = in->sbumpc()) {
    any = true;
    if (c == '\n') break;
    if (c == '\0') {
      throw Error(ErrorKind::Other, "",
                  "the password on standard input contains a NUL byte (byte " +
                      std::to_string(line.size() + 1) +
                      "); is standard input a binary file or a device? Give the password as text");
    }
    if (line.size() == kMaxPasswordFileBytes) {
      throw Error(ErrorKind::Other, "",
                  "the password line on standard input is longer than " +
                      std::to_string(kMaxPasswordFileBytes) +
                      " bytes (1 MiB); is standard input the right file?");
    }
    line += static_cast<char>(c);
  }
  if (!any) throw Error(ErrorKind::NoPassword, "", "on standard input");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ReadPassword(const Options& o) {
  std::string utf8;
  if (o.PasswordFile) {
    // A regular file only (a FIFO or /dev/zero would never end), and a small one.
    utf8 = StripOneNewline(ReadRegularFile(PathFromUtf8(*o.PasswordFile), kMaxPasswordFileBytes));
  } else if (o.PasswordStdin) {
    utf8 = ReadPasswordLine();
  } else {
    std::cerr << "kavun-cli: warning: a password given with --password can be seen by other "
                 "users in the process list; prefer --password-file or --password-stdin\n";
    utf8 = *o.PasswordText;
  }
  if (utf8.empty()) {
    // Used as designed, but most likely a mistake (an unset variable, an empty file).
    std::cerr << "kavun-cli: warning: the password is empty; the picture is scrambled with the "
                 "key of the empty password, which anyone can undo\n";
  }
  try {
    return PasswordToCp932(utf8);
  } catch (const Error& e) {
    throw o.PasswordFile ? e.WithPath(*o.PasswordFile) : e;
  }
}

// The one Mersenne Twister generator of the process is seeded and advanced by every MTwister
// XOR run, so those runs must not overlap; everything else (decoding, the other transforms,
// encoding) runs in parallel.
std::mutex g_mtwisterMutex;

struct Job {
  std::string In;
  std::string Out;
};

// The memory the files of a batch may take at once: half of what the system has available.
uint64_t MemoryBudget() {
  const uint64_t available = AvailableMemoryBytes();
  return available != 0 ? available / 2 : uint64_t{1} << 30;
}

// Admits files while the memory they may need together stays within the budget; one file is
// always admitted, however large, so that every file gets its turn.
class MemoryGate {
 public:
  explicit MemoryGate(uint64_t budget) : budget_(budget) {}
  void Acquire(uint64_t cost) {
    std::unique_lock lock(mutex_);
    admitted_.wait(lock, [&] { return running_ == 0 || used_ + cost <= budget_; });
    used_ += cost;
    ++running_;
  }
  void Release(uint64_t cost) {
    {
      const std::lock_guard lock(mutex_);
      used_ -= cost;
      --running_;
    }
    admitted_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable admitted_;
  const uint64_t budget_;
  uint64_t used_ = 0;
  int running_ = 0;
};

// "L,T,R,B (W x H pixels)": a rectangle as the messages name it.
std::string RectText(const TRect& r) {
  return Str(r.Left) + "," + Str(r.Top) + "," + Str(r.Right) + "," + Str(r.Bottom) + " (" +
         Str(r.Right - r.Left) + " x " + Str(r.Bottom - r.Top) + " pixels)";
}

// The mosaic rewrites only the whole blocks of the rectangle. Without one the picture would come
// out unchanged: that is a failure, not a success. Strips at the right or bottom that stay as
// they are when scrambling are worth a warning.
template <class Warn>
void CheckMosaicCovers(const std::string& in, const TRect& rect, const TransformRequest& request,
                       const Warn& warn) {
  const TRect covered = MosaicCoveredRect(rect, request.BlockW, request.BlockH);
  const std::string block = Str(request.BlockW) + "x" + Str(request.BlockH);
  if (covered.IsEmpty()) {
    throw Error(ErrorKind::Other, "",
                "the rectangle " + RectText(rect) + " holds no whole block of " + block +
                    " pixels, so the mosaic would change nothing; choose a larger rectangle "
                    "(--rect) or smaller blocks (--block)");
  }
  if (request.Decode || covered == rect) return;
  std::string strips;
  if (covered.Right < rect.Right) {
    strips += "the rightmost " + Str(rect.Right - covered.Right) + " x " +
              Str(rect.Bottom - rect.Top) + " pixels";
  }
  if (covered.Bottom < rect.Bottom) {
    if (!strips.empty()) strips += " and ";
    strips += "the bottom " + Str(covered.Right - covered.Left) + " x " +
              Str(rect.Bottom - covered.Bottom) + " pixels";
  }
  warn("warning: \"" + in + "\": the mosaic leaves " + strips + " of the rectangle " +
       RectText(rect) + " unscrambled: they hold no whole block of " + block + " pixels");
}

// Shares the processors among the files in progress: a save that starts gets processors /
// files in progress threads (SetSaveThreadBudget applies to the saves that start after it). So
// while the batch fills every processor each save compresses on one thread, and when fewer files
// remain than processors (the queue ran dry, or the memory gate admits fewer) the saves still to
// come take the processors left free.
class SaveBudget {
 public:
  explicit SaveBudget(unsigned cores) : cores_(cores) {}
  void Started() { Update(+1); }
  void Finished() { Update(-1); }

 private:
  void Update(int change) {
    const std::lock_guard lock(mutex_);
    inProgress_ += change;
    SetSaveThreadBudget(std::max(1u, cores_ / static_cast<unsigned>(std::max(1, inProgress_))));
  }
  std::mutex mutex_;
  const unsigned cores_;
  int inProgress_ = 0;
};

// Processes one file; returns its exit status and reports on stderr.
int RunJob(const TransformRequest& request, const std::optional<TRect>& wanted, const Job& job,
           std::mutex& errLock) {
  auto warn = [&](const std::string& message) {
    const std::lock_guard lock(errLock);
    std::cerr << "kavun-cli: " << message << "\n";
  };
  try {
    DroppedOnLoad dropped;
    Bitmap bitmap = LoadImageFile(PathFromUtf8(job.In), &dropped);
    if (dropped.Alpha) {
      warn("warning: \"" + job.In +
           "\" has transparency, which is flattened onto white on loading; \"" + job.Out +
           "\" cannot restore it");
    }
    if (dropped.DeepSamples) {
      warn("warning: \"" + job.In +
           "\" has 16-bit samples, which are rounded to 8 bits on loading; \"" + job.Out +
           "\" cannot restore them");
    }
    // The transforms refuse a rectangle outside the picture before touching a pixel; an empty
    // one they accept anywhere, so that one is refused here.
    const TRect rect = wanted.value_or(TRect{0, 0, bitmap.Width(), bitmap.Height()});
    CheckRectWithin(bitmap, rect);
    if (request.Kind == TransformKind::ReversibleMosaic)
      CheckMosaicCovers(job.In, rect, request, warn);
    if (UsesSharedGenerator(request)) {
      const std::lock_guard lock(g_mtwisterMutex);
      ApplyTransform(bitmap, rect, request);
    } else {
      ApplyTransform(bitmap, rect, request);
    }
    if (IsJpeg(job.Out)) {
      warn("warning: \"" + job.Out +
           "\" is written as JPEG; the scrambled area can no longer be restored exactly");
    }
    SaveImageFile(PathFromUtf8(job.Out), FileExtension(job.Out), bitmap);
    return kExitOk;
  } catch (const std::exception& e) {
    // An error without a file concerns the input (its picture, its rectangle).
    const Error error = ToError(e).WithPath(job.In);
    std::string message = error.what();
    if (error.Kind() == ErrorKind::Other && message.find(job.In) == std::string::npos) {
      message = "\"" + job.In + "\": " + message;
    }
    if (error.Path() != job.Out) message += "; \"" + job.Out + "\" was not written";
    warn(message);
    return ExitStatusFor(error.Kind());
  }
}

int RunTransform(const Options& o) {
  std::vector<Job> jobs;
  if (o.OutDir) {
    std::error_code ec;
    if (!fs::is_directory(PathFromUtf8(*o.OutDir), ec)) {
      throw UsageError("--out-dir: \"" + *o.OutDir + "\" is not an existing folder");
    }
    std::set<std::string> names;
    for (const std::string& in : o.Positional) {
      const std::string name = PathToUtf8(PathFromUtf8(in).filename());
      CheckOutputName(name);
      if (!names.insert(name).second) {
        throw UsageError("two inputs are named \"" + name + "\"; their outputs would collide");
      }
      jobs.push_back({in, PathToUtf8(PathFromUtf8(*o.OutDir) / PathFromUtf8(name))});
    }
  } else {
    CheckOutputName(o.Positional[1]);
    jobs.push_back({o.Positional[0], o.Positional[1]});
  }

  // Coefficients that do not give a permutation cannot restore anything when decoding, and when
  // encoding they destroy the picture for good: refused unless the user asks for exactly that.
  TransformRequest request = o.Request;
  if (o.Cmd == Command::Mosaic) {
    const bool reversible = MosaicIsReversible(request);
    const std::string which = MosaicCoefficients(request);
    if (request.Decode && !reversible) {
      throw Error(ErrorKind::Irreversible, jobs.size() == 1 ? jobs[0].In : std::string(),
                  which + "; nothing was written");
    }
    if (!reversible && !o.AllowIrreversible) {
      throw Error(ErrorKind::Irreversible, jobs.size() == 1 ? jobs[0].In : std::string(),
                  which + "; nothing was written; --allow-irreversible applies them anyway");
    }
    if (!reversible) {
      std::cerr << "kavun-cli: warning: these coefficients are not reversible; the mosaic "
                   "cannot be undone\n";
    }
  }
  if (o.Cmd == Command::Xor) request.Password = ReadPassword(o);

  std::vector<int> results(jobs.size(), kExitOk);
  std::mutex errLock;
  std::atomic<std::size_t> next{0};
  MemoryGate gate(MemoryBudget());
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  SaveBudget budget(cores);
  auto worker = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      // The decoded picture, its 24-bit form made by the transform, and the coders' buffers.
      const uint64_t cost = 2 * PictureBytes24(PathFromUtf8(jobs[i].In)) + (uint64_t{16} << 20);
      gate.Acquire(cost);
      budget.Started();
      results[i] = RunJob(request, o.Rect, jobs[i], errLock);
      budget.Finished();
      gate.Release(cost);
    }
  };
  const std::size_t threads = std::min<std::size_t>(jobs.size(), cores);
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();

  int status = kExitOk;
  for (const int r : results) {
    if (r == kExitUsage) status = kExitUsage;
    if (r == kExitFailure && status == kExitOk) status = kExitFailure;
  }
  return status;
}

int RunInfo(const Options& o) {
  int status = kExitOk;
  for (const std::string& in : o.Positional) {
    try {
      const Bitmap b = LoadImageFile(PathFromUtf8(in));
      std::cout << in << ": " << b.Width() << " x " << b.Height() << " pixels, "
                << BitsPerPixel(b.Format()) << " bits per pixel, palette of " << b.Palette().size()
                << " entries\n";
    } catch (const std::exception& e) {
      Report(ToError(e).WithPath(in));
      status = kExitFailure;
    }
  }
  return status;
}

// kavun-cli detect IN: the scrambled rectangle of one picture, or status 1 when none is found.
int RunDetect(const std::vector<std::string>& args) {
  try {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i].size() > 1 && args[i][0] == '-') {
        throw UsageError("\"" + args[i] + "\" is not an option of detect");
      }
    }
    if (args.size() != 2) throw UsageError("detect takes one input file");
  } catch (const std::exception& e) {
    const Error error = ToError(e);
    Report(error);
    return ExitStatusFor(error.Kind());
  }
  const std::string& in = args[1];
  try {
    const std::optional<TRect> found = DetectScrambledRect(LoadImageFile(PathFromUtf8(in)));
    if (!found) {
      std::cerr << "kavun-cli: " << in
                << ": no scrambled rectangle found; select it by hand (--rect L,T,R,B)\n";
      return kExitFailure;
    }
    std::cout << found->Left << "," << found->Top << "," << found->Right << "," << found->Bottom
              << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    Report(ToError(e).WithPath(in));
    return kExitFailure;
  }
}

int Run(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::cout << HelpText();
    return kExitOk;
  }
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    std::cout << HelpText();
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "kavun-cli " << kVersion << "\n";
    return kExitOk;
  }
  if (!args.empty() && args[0] == "detect") return RunDetect(args);
  try {
    const Options o = Parse(args);
    switch (o.Cmd) {
      case Command::Check: {
        const bool ok = MosaicIsReversible(o.Request);
        std::cout << (ok ? "reversible: " : "irreversible: ") << MosaicCoefficients(o.Request)
                  << (ok ? " can be undone\n"
                         : " cannot be undone; a picture scrambled with them cannot be restored\n");
        return ok ? kExitOk : kExitFailure;
      }
      case Command::Info:
        return RunInfo(o);
      default:
        return RunTransform(o);
    }
  } catch (const std::exception& e) {
    const Error error = ToError(e);
    Report(error);
    return ExitStatusFor(error.Kind());
  }
}

}  // namespace
}  // namespace kavun::cli

int main(int argc, char** argv) {
  kavun::cli::InstallInterruptHandlers();
  return kavun::cli::Run(kavun::cli::Utf8Arguments(argc, argv));
}
