#pragma once
/// YAML for the data model: block style in insertion order, and one document read back.
///
///   orvelle::write_yaml(std::cout, nets);           // streamed, block by block
///   std::string text = orvelle::to_yaml(nets);      // or whole
///   orvelle::Value kit = orvelle::from_yaml(text);

#include <iosfwd>
#include <string>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle {

/// Block-style YAML, keys in insertion order, ending in a line break. Texts are quoted
/// wherever they would otherwise read back as another type.
/// Throws std::invalid_argument for a text that is not valid UTF-8.
std::string to_yaml(const Value& value);
/// The same for a mapping, without first copying it into a Value.
std::string to_yaml(const Map& map);

/// The same text, written to `out` in blocks as it is made, so a large document is never
/// held whole. On a failure part of the text may have been written.
void write_yaml(std::ostream& out, const Value& value);
void write_yaml(std::ostream& out, const Map& map);

/// Parses one YAML document, resolving plain scalars as YAML's core schema does (null,
/// bools, integers, floats, else text; quoted scalars are always text).
/// Throws std::invalid_argument with the parser's message on bad input.
Value from_yaml(std::string_view text);

}  // namespace orvelle
