#pragma once
// What each fuzz target does with one input. Shared by the libFuzzer programs and by the
// test that replays the inputs the fuzzers once broke on. Each returns normally for every
// input, including the documented errors; anything else escapes and is a finding.

#include <string_view>

namespace orvelle::fuzz {

/// Reads the bytes as a netlist. ParseError and a rejected netlist are documented outcomes.
/// The relevant lines must match those of the chain of line stages.
void read_netlist(std::string_view bytes);

/// Reads the bytes as a setting's value text and as an expression.
void read_value(std::string_view bytes);

/// Reads the bytes as a netlist and writes the result as JSON and YAML; both must read back
/// to the same value.
void write_netlist(std::string_view bytes);

}  // namespace orvelle::fuzz
