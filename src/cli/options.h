#pragma once

// kavun-cli's command line: its words for the transforms' parameters (the engine holds their
// ranges and defaults, engine/transform_params.h), the options of each command, the help text
// and the exit statuses.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/rect.h"
#include "engine/transform_params.h"

namespace kavun::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// kavun-cli's words for one numeric parameter.
struct TCliParam {
  TParamId Param;
  const char* Option;  // the option that sets it
  int Index;           // its place in the option's value (W of "--block WxH" is 0)
  const char* What;    // how a range error names it
  // The option's value is a signed number whose magnitude is the parameter (the sign a
  // direction, 0 refused).
  bool Signed;
};

// One row per numeric parameter, in the engine's order.
inline constexpr TCliParam kCliParams[] = {
    {TParamId::BlockW, "--block", 0, "the block width", false},
    {TParamId::BlockH, "--block", 1, "the block height", false},
    {TParamId::Key1, "--keys", 0, "K1", false},
    {TParamId::Key2, "--keys", 1, "K2", false},
    {TParamId::ShiftLen, "--bits", 0, "the shift width |N|", true},
};

constexpr const TCliParam& CliParam(TParamId id) {
  return kCliParams[static_cast<std::size_t>(id)];
}

// The values of --mode, in the order the help lists them; the first is the default.
struct TCliXorMode {
  XorKeyMode Mode;
  const char* Name;
};
inline constexpr TCliXorMode kCliXorModes[] = {
    {XorKeyMode::MTwister, "mt"},
    {XorKeyMode::MD5, "md5"},
    {XorKeyMode::MD5OFB, "md5ofb"},
};

inline constexpr const char* kDecodeOption = "--decode";
inline constexpr const char* kXorModeOption = "--mode";

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

// The arguments after the program's name (not --help, --version or detect) as options. Throws
// Error (Usage) on anything it cannot take.
Options Parse(const std::vector<std::string>& args);

// The help text, its ranges, defaults and mode names those the options accept.
std::string HelpText();

// Bad arguments: exit status 2 and a pointer to --help.
Error UsageError(const std::string& sentence);

// The exit status for a failure of this kind: a rectangle outside the picture is a usage error
// like a bad argument, because the command line asked for it.
int ExitStatusFor(ErrorKind kind);

// Reports a failure on stderr in English; a usage error adds where to look.
void Report(const Error& error);

// "K1 2, K2 7, block 16x16": the mosaic's coefficients, as the messages name them.
std::string MosaicCoefficients(const TransformRequest& request);

// Refuses (Usage) an output name whose extension names no picture format.
void CheckOutputName(const std::string& path);

}  // namespace kavun::cli
