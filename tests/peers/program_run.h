// Runs a built program of the project as a user would, collecting both of
// its outputs, for the tests that drive velkaro-send end to end.
#pragma once

#include <string>
#include <vector>

namespace velkaro::testing {

struct ProgramRun {
  int status = -1;  // exit status; -1 when it did not exit by itself
  std::string out;
  std::string err;
  bool timedOut = false;
};

// Runs `program` with `args` in this process's environment without its
// VELKARO_* variables, plus `environment` ("NAME=value" entries). A program
// still running after two minutes is killed by its id.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment);

// The exit status and both outputs, for a failed assertion.
std::string Describe(const ProgramRun& run);

}  // namespace velkaro::testing
