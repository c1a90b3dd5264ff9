#pragma once
/// JSON for the data model: compact text in insertion order, read back with key order kept.
///
///   orvelle::write_json(std::cout, nets);           // streamed, block by block
///   std::string text = orvelle::to_json(nets);      // or whole
///   orvelle::Value back = orvelle::from_json(text);

#include <iosfwd>
#include <string>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle {

/// Compact JSON text (no blanks). Non-finite floats become null.
/// Throws std::invalid_argument for a text that is not valid UTF-8.
std::string to_json(const Value& value);
/// The same for a mapping, without first copying it into a Value.
std::string to_json(const Map& map);

/// The same text, written to `out` in blocks as it is made, so a large document is never
/// held whole. On a failure part of the text may have been written.
void write_json(std::ostream& out, const Value& value);
void write_json(std::ostream& out, const Map& map);

/// Parses JSON text; throws std::invalid_argument with the parser's message on bad input,
/// and for documents nested deeper than 1000 levels.
Value from_json(std::string_view text);

/// Shortest text that reads back as the same double, written as a scripting language's
/// repr does: "2.0", "0.001", "1e-08", "1.5e+16"; "inf", "-inf" and "nan" for the rest.
std::string format_float(double d);

}  // namespace orvelle
