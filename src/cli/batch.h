#pragma once

// kavun-cli's mosaic, shift and xor on one file or a batch: the files processed in parallel, as
// many at once as the processors and the memory allow, each reporting on stderr.

#include "cli/options.h"

namespace kavun::cli {

// Runs the transform the options describe on every input; returns the exit status (usage
// errors first, then failures). Throws Error when nothing can start (a bad output name or
// folder, coefficients that cannot be undone, an unreadable password).
int RunTransform(const Options& o);

}  // namespace kavun::cli
