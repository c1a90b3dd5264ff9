#pragma once
// Values: a setting's text as a number, text, list or null.

#include <optional>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::core::netweave::detail {

/// A plain decimal literal (sign, digits with an optional point, optional exponent) read as
/// the nearest double; underflow gives 0.0. Nothing for any other text or on overflow.
std::optional<double> parse_float(std::string_view text) noexcept;

/// A setting's text as a value: number (unit suffixes p, n, u, m), text, list or null.
Value parse_value(std::string_view value, const Map& kwargs = {});

/// The named value `key_or_value`, else the expression's value, else null after a warning.
Value eval(std::string_view key_or_value, const Map& kwargs = {});

/// Evaluates arithmetic on int and float literals and bracketed lists without running any
/// code. Nothing for any other input, division by zero, or a result outside int64 or the
/// finite doubles.
std::optional<Value> evaluate_expression(std::string_view expression);

}  // namespace orvelle::core::netweave::detail
