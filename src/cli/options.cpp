#include "cli/options.h"

#include <charconv>
#include <iostream>
#include <map>
#include <set>
#include <string_view>

#include "imagefile/formats.h"
#include "imagefile/imagefile.h"

namespace kavun::cli {
namespace {

static_assert(std::size(kCliParams) == std::size(kNumericParams));
static_assert(std::size(kCliXorModes) == std::size(kXorModes));

// Each row sits at its parameter's index, and each mode of the engine has exactly one name.
constexpr bool CliTablesMatchTheEngine() {
  for (std::size_t i = 0; i < std::size(kCliParams); ++i) {
    if (static_cast<std::size_t>(kCliParams[i].Param) != i) return false;
  }
  for (const TXorMode& mode : kXorModes) {
    int names = 0;
    for (const TCliXorMode& cli : kCliXorModes) names += cli.Mode == mode.Mode ? 1 : 0;
    if (names != 1) return false;
  }
  return kCliXorModes[0].Mode == kDefaultXorMode;
}
static_assert(CliTablesMatchTheEngine());

std::string Str(int32_t value) {
  return std::to_string(value);
}

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
  const std::size_t count = std::size(kCliXorModes);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? last : separator;
    list += kCliXorModes[i].Name;
  }
  return list;
}

// The help text. The {NAME} fields are filled from the transforms' description, so that the
// ranges, defaults and mode names shown are the ones the options accept.
constexpr const char* kHelpTemplate = R"(Usage: kavun-cli COMMAND [OPTIONS]
       kavun-cli --version

Scrambles a rectangle of a {FORMATS} picture reversibly, and restores it.

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
extension ({EXTENSIONS}, any letter case). A scrambled picture written as {LOSSY} can no
longer be restored exactly. Text is UTF-8; the password is hashed as its CP932 bytes.

--version prints the program's version.

Exit status: 0 success, 1 failure, 2 usage error. Nothing is written for a failed file.
SIGINT, SIGTERM or SIGHUP ends the program (status 128 + the signal's number) after removing
the unfinished output files; a file-size limit (SIGXFSZ) fails the file concerned (status 1).
)";

// "PNG, JPEG or BMP" (or the lossy ones alone) and ".png, .jpg/.jpeg, .bmp": the formats as the
// help names them.
std::string FormatNames(bool lossyOnly) {
  std::string names;
  for (const PictureFormat& format : PictureFormats()) {
    if (format.Lossy || !lossyOnly) names += std::string(" ") + format.Name;
  }
  return EnglishAlternatives(names);
}
std::string ExtensionList() {
  std::string list;
  for (const PictureFormat& format : PictureFormats()) {
    if (!list.empty()) list += ", ";
    std::string own;
    for (const std::string_view extension : format.Extensions) {
      if (extension.empty()) continue;
      if (!own.empty()) own += "/";
      own += extension;
    }
    list += own;
  }
  return list;
}

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

// The one check of every numeric option: `value` within its parameter's range (its magnitude,
// for a signed one, compared without negating: the most negative int32 has no positive
// counterpart). `shown` is the value as the error quotes it.
int32_t CheckedNumber(const TCliParam& cli, int32_t value, const std::string& shown) {
  const TNumericParam& p = NumericParam(cli.Param);
  const bool inRange = !cli.Signed || value >= 0 ? value >= p.Low && value <= p.High
                                                 : value <= -p.Low && value >= -p.High;
  if (!inRange) {
    throw UsageError(std::string(cli.What) + " must be from " + Str(p.Low) + " to " + Str(p.High) +
                     ", not " + shown);
  }
  return value;
}

void SetParam(Options& o, TParamId id, int32_t value) {
  switch (id) {
    case TParamId::BlockW:
      o.Request.BlockW = value;
      break;
    case TParamId::BlockH:
      o.Request.BlockH = value;
      break;
    case TParamId::Key1:
      o.Request.Key1 = value;
      break;
    case TParamId::Key2:
      o.Request.Key2 = value;
      break;
    case TParamId::ShiftLen:
      o.Request.Shift = value;
      o.HasBits = true;
      break;
  }
}

// The commands an option belongs to.
constexpr unsigned Bit(Command c) {
  return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kTransforms = Bit(Command::Mosaic) | Bit(Command::Shift) | Bit(Command::Xor);

struct TOptionRow {
  const char* Name;
  unsigned Commands;
  bool Flag;  // takes no value
  // For an option that sets numeric parameters (kCliParams) and takes several: the character
  // between them and the value's shape in words.
  char Separator = 0;
  const char* Shape = nullptr;
};

constexpr TOptionRow kOptionRows[] = {
    {"--rect", kTransforms, false},
    {"--out-dir", kTransforms, false},
    {"--block", Bit(Command::Mosaic) | Bit(Command::Check), false, 'x', "two numbers WxH"},
    {"--keys", Bit(Command::Mosaic) | Bit(Command::Check), false, ',', "two numbers K1,K2"},
    {kDecodeOption, Bit(Command::Mosaic), true},
    {"--allow-irreversible", Bit(Command::Mosaic), true},
    {"--bits", Bit(Command::Shift), false},
    {kXorModeOption, Bit(Command::Xor), false},
    {"--password-file", Bit(Command::Xor), false},
    {"--password-stdin", Bit(Command::Xor), true},
    {"--password", Bit(Command::Xor), false},
};

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

// The value of an option that sets numeric parameters: every number parsed, then each checked
// against its parameter's range in the order of the value.
void ApplyNumbers(Options& o, const TOptionRow& row, const std::string& value) {
  const std::string name = row.Name;
  std::vector<const TCliParam*> params;
  for (const TCliParam& p : kCliParams) {
    if (name == p.Option) params.push_back(&p);
  }
  if (params.size() == 1 && params[0]->Signed) {
    const int32_t number = ParseInt(value, name);
    if (number == 0) throw UsageError(name + " must not be 0");
    SetParam(o, params[0]->Param, CheckedNumber(*params[0], number, value));
    return;
  }
  const std::vector<int32_t> numbers =
      ParseList(value, row.Separator, params.size(), name, row.Shape);
  for (const TCliParam* p : params) {
    const int32_t number = numbers[static_cast<std::size_t>(p->Index)];
    SetParam(o, p->Param, CheckedNumber(*p, number, Str(number)));
  }
}

bool SetsNumbers(const std::string& name) {
  for (const TCliParam& p : kCliParams) {
    if (name == p.Option) return true;
  }
  return false;
}

void Apply(Options& o, const TOptionRow& row, const std::string& value) {
  const std::string name = row.Name;
  if (SetsNumbers(name)) {
    ApplyNumbers(o, row, value);
  } else if (name == "--rect") {
    const auto v = ParseList(value, ',', 4, "--rect", "four numbers L,T,R,B");
    if (v[2] < v[0] || v[3] < v[1]) {
      throw UsageError("--rect: right and bottom must not be less than left and top");
    }
    o.Rect = TRect{v[0], v[1], v[2], v[3]};
  } else if (name == kDecodeOption) {
    o.Request.Decode = true;
  } else if (name == "--allow-irreversible") {
    o.AllowIrreversible = true;
  } else if (name == kXorModeOption) {
    for (const TCliXorMode& m : kCliXorModes) {
      if (value == m.Name) {
        o.Request.Mode = m.Mode;
        return;
      }
    }
    throw UsageError(name + " is " + XorModeList(", ", " or ") + ", not \"" + value + "\"");
  } else if (name == "--out-dir") {
    o.OutDir = value;
  } else if (name == "--password-file") {
    o.PasswordFile = value;
  } else if (name == "--password-stdin") {
    o.PasswordStdin = true;
  } else if (name == "--password") {
    o.PasswordText = value;
  }
}

const TOptionRow* OptionOf(const std::string& name, Command command) {
  for (const TOptionRow& row : kOptionRows) {
    if (name == row.Name && (row.Commands & Bit(command)) != 0) return &row;
  }
  return nullptr;
}

// The number of files and the options each command needs, once all are read.
void CheckComplete(const Options& o, const std::string& command) {
  if (o.Cmd == Command::Check) {
    if (!o.Positional.empty()) throw UsageError("check takes no file");
  } else if (o.Cmd == Command::Info) {
    if (o.Positional.empty()) throw UsageError("info needs at least one file");
  } else if (o.OutDir) {
    if (o.Positional.empty()) throw UsageError("no input file given");
  } else if (o.Positional.size() != 2) {
    throw UsageError(command +
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
}

}  // namespace

std::string MosaicCoefficients(const TransformRequest& request) {
  return "K1 " + Str(request.Key1) + ", K2 " + Str(request.Key2) + ", block " +
         Str(request.BlockW) + "x" + Str(request.BlockH);
}

std::string HelpText() {
  const TransformRequest defaults;
  const TNumericParam& shift = NumericParam(TParamId::ShiftLen);
  const std::map<std::string, std::string> fields = {
      {"FORMATS", FormatNames(false)},
      {"LOSSY", FormatNames(true)},
      {"EXTENSIONS", ExtensionList()},
      {"BLOCK", Str(defaults.BlockW) + "x" + Str(defaults.BlockH)},
      {"KEYS", Str(defaults.Key1) + "," + Str(defaults.Key2)},
      {"BLOCK_RANGE", RangePair(TParamId::BlockW, "W", TParamId::BlockH, "H")},
      {"KEYS_RANGE", RangePair(TParamId::Key1, "K1", TParamId::Key2, "K2")},
      {"BITS_RANGE", Str(shift.Low) + " to " + Str(shift.High)},
      {"MODES", XorModeList("|", "|")},
      {"MODE", std::string(kCliXorModes[0].Name) + ", " + kXorModes[0].Name},
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

Error UsageError(const std::string& sentence) {
  return Error(ErrorKind::Usage, "", sentence);
}

int ExitStatusFor(ErrorKind kind) {
  return kind == ErrorKind::Usage || kind == ErrorKind::OutsideRectangle ? kExitUsage
                                                                         : kExitFailure;
}

void Report(const Error& error) {
  std::cerr << "kavun-cli: " << error.what() << "\n";
  if (error.Kind() == ErrorKind::Usage) std::cerr << "Try 'kavun-cli --help'.\n";
}

void CheckOutputName(const std::string& path) {
  if (FormatOfPath(path) == nullptr) {
    throw UsageError("\"" + path + "\": the output's extension must be " +
                     EnglishAlternatives(AcceptedExtensions()));
  }
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
    const TOptionRow* row = OptionOf(arg, o.Cmd);
    if (row == nullptr) throw UsageError("\"" + arg + "\" is not an option of " + args[0]);
    if (!seen.insert(arg).second) throw UsageError(arg + " is given twice");
    if (row->Flag) {
      if (value) throw UsageError(arg + " takes no value");
    } else if (!value) {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      value = args[++i];
    }
    Apply(o, *row, value.value_or(std::string()));
  }
  CheckComplete(o, args[0]);
  return o;
}

}  // namespace kavun::cli
