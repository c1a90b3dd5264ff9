#pragma once
/// The command-line host: one CLI11 application that every command registers on.
/// Heavy to compile: include it only from command files.

#include <CLI/CLI.hpp>

namespace orvelle::cli {

/// The application object the commands register on.
CLI::App& app();

/// Ends the running command with `code` as the process status. This is the framework's
/// exit request: it unwinds to `run`, which returns the code.
[[noreturn]] void exit_with(int code);

/// Registers every command, parses the command line, runs the chosen command and maps
/// the outcome to a process status: a command's exit request gives its code, a usage
/// error 2 with a hint, any other failure one line "error: MESSAGE" and 1.
int run(int argc, const char* const* argv);

}  // namespace orvelle::cli
