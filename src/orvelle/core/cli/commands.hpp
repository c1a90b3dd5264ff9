#pragma once
// The registration function of every command; each is defined beside its command.

#include <CLI/CLI.hpp>

namespace orvelle::cli {

void register_netweave(CLI::App& app);
void register_configure(CLI::App& app);
void register_draftbot(CLI::App& app);
void register_check(CLI::App& app);
void register_graph(CLI::App& app);

}  // namespace orvelle::cli
