#pragma once
// Runs a program as a user would, with the given standard input and environment, and
// collects its standard output, standard error and exit status.

#include <map>
#include <string>
#include <vector>

namespace orvelle::testing {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string input;                       // fed to standard input
  std::map<std::string, std::string> env;  // set on top of the test's own environment
  std::vector<std::string> unset_env;      // removed from it
  std::string cwd;                         // working folder; empty: the test's own
};

/// Options that only feed `text` to standard input.
inline RunOptions with_input(std::string text) {
  RunOptions options;
  options.input = std::move(text);
  return options;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

/// Runs the built orvelle binary.
RunResult run_orvelle(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace orvelle::testing
