// --import-addresses and --export-addresses of velkaro-send: the address
// book of the program folder to and from a CSV file.
#pragma once

#include <string>

#include "cli/cli_options.h"

namespace velkaro::cli {

struct TransferOutcome {
  int exitStatus = 0;
  std::string out;  // standard output (UTF-8): the rows of an import dry run
  std::string err;  // standard error (UTF-8): what was read, refused, written
};

// Appends the rows of options.importAddresses to the book at `bookPath`
// (saved atomically), or with options.dryRun only shows them.
TransferOutcome ImportAddressFile(const CliOptions& options, const std::string& bookPath);

// Writes the book at `bookPath` to options.exportAddresses.
TransferOutcome ExportAddressFile(const CliOptions& options, const std::string& bookPath);

}  // namespace velkaro::cli
