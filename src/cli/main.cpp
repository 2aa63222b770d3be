// kavun-cli: the transforms of Kavun on picture files, for shells, scripts and batch jobs.
//
// Exit status: 0 success, 2 usage error (bad arguments, a rectangle outside the picture),
// 1 any other failure. Nothing is written for a file whose processing failed. Messages are
// English, on stderr, and name the file they concern.
//
// The command line and the help are read from cli/options.*, the transforms on files run in
// cli/batch.*, the system's part (arguments, signals, memory) is in cli/console.h.

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/console.h"
#include "cli/options.h"
#include "engine/detect.h"
#include "engine/error.h"
#include "engine/path_text.h"
#include "engine/transform_params.h"
#include "imagefile/imagefile.h"
#include "kavun_version.h"

namespace kavun::cli {
namespace {

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
