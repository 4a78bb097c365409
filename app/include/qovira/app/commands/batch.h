// The batch driver behind --check, --report, --fix, --export-mb and --rescue.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "qovira/app/commands/cli.h"

namespace qovira {

// Runs `mode` over the files in order, writing every line to `out`. Returns 0 when no file counted
// as a problem, else 1.
int run_batch(BatchMode mode, std::span<const std::string> files,
              const std::optional<std::string>& out_dir, std::ostream& out);

}  // namespace qovira
