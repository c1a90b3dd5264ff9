#include "orvelle/core/netweave/values.hpp"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>

#include "orvelle/core/netweave/warnings.hpp"

namespace orvelle::core::netweave::detail {

namespace {

bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// Checks the shape of a plain decimal literal and estimates its decimal order of magnitude
// (position of the first significant digit relative to the point, plus the exponent), which
// tells overflow from underflow when the conversion is out of range. A literal of at most 15
// significant digits scaled by at most 10^22 either way is read on the way: its digits and
// the power of ten are both exact doubles, so one multiplication or division rounds exactly
// as the general conversion does.
struct LiteralShape {
  bool valid = false;
  long long order = 0;
  std::optional<double> quick;
};

LiteralShape literal_shape(std::string_view text) noexcept {
  static constexpr std::array<double, 23> kPowers = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long integer_digits = 0;  // significant digits before the point
  long long leading_fraction_zeros = 0;
  bool seen_significant = false;
  std::size_t digits = 0;
  std::uint64_t mantissa = 0;  // the first 15 significant digits
  long long significant = 0;
  long long scale = 0;
  const auto take = [&](char c) {
    if (c != '0') seen_significant = true;
    if (seen_significant && ++significant <= 15)
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
  };
  for (; i < text.size() && is_digit(text[i]); ++i, ++digits) {
    take(text[i]);
    if (seen_significant) ++integer_digits;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && is_digit(text[i]); ++i, ++digits) {
      if (!seen_significant && text[i] == '0') ++leading_fraction_zeros;
      take(text[i]);
      --scale;
    }
  }
  if (digits == 0) return {};
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative_exponent = text[i++] == '-';
    const std::size_t first = i;
    for (; i < text.size() && is_digit(text[i]); ++i) {
      if (exponent < LLONG_MAX / 100) exponent = exponent * 10 + (text[i] - '0');
    }
    if (i == first) return {};
    if (negative_exponent) exponent = -exponent;
  }
  if (i != text.size()) return {};
  const long long order = integer_digits > 0 ? integer_digits : -leading_fraction_zeros;
  LiteralShape shape{true, order + exponent, std::nullopt};
  scale += exponent;
  if (significant <= 15 && scale >= -22 && scale <= 22) {
    double value = static_cast<double>(mantissa);
    value = scale < 0 ? value / kPowers[static_cast<std::size_t>(-scale)]
                      : value * kPowers[static_cast<std::size_t>(scale)];
    shape.quick = negative ? -value : value;
  }
  return shape;
}

// The value of a literal of valid `shape`; nothing when it overflows.
std::optional<double> literal_value(std::string_view text, LiteralShape shape) noexcept {
  if (shape.quick) return shape.quick;
  const bool negative = text.front() == '-';
  const char* begin = text.data() + (text.front() == '+' ? 1 : 0);
  double value = 0.0;
  const auto result = std::from_chars(begin, text.data() + text.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (shape.order > 0) return std::nullopt;
    return negative ? -0.0 : 0.0;
  }
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> parse_float(std::string_view text) noexcept {
  const LiteralShape shape = literal_shape(text);
  if (!shape.valid) return std::nullopt;
  return literal_value(text, shape);
}

namespace {

double unit_factor(char unit) noexcept {
  switch (unit) {
    case 'p':
    case 'P':
      return 1e-12;
    case 'n':
    case 'N':
      return 1e-9;
    case 'u':
    case 'U':
      return 1e-6;
    case 'm':
    case 'M':
      return 1e-3;
    default:
      return 1.0;
  }
}

// Byte length of the last UTF-8 character of a non-empty text.
std::size_t last_character_length(std::string_view text) noexcept {
  std::size_t length = 1;
  while (length < text.size() && length < 4 &&
         (static_cast<unsigned char>(text[text.size() - length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

bool enclosed_in(std::string_view text, char open, char close) noexcept {
  return !text.empty() && text.front() == open && text.back() == close;
}

// The text between the outer characters; a single character is both ends and leaves nothing.
std::string_view inner(std::string_view text) noexcept {
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view{};
}

// The usual setting or coordinate: a sign, at most 15 digits around an optional point, and
// at most one more character, an ASCII unit. Read in one pass, with the same rounding as the
// general way below; false for any other text. (Not an optional: this is the reader's
// busiest function, and g++ passes an optional through memory here.)
bool plain_number_with_unit(std::string_view text, double& number) noexcept {
  static constexpr std::array<double, 16> kPowers = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr std::size_t kExactDigits = 15;
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) ++i;
  std::uint64_t mantissa = 0;
  std::size_t digits = 0;
  std::size_t fraction_digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (is_digit(c)) {
      if (++digits > kExactDigits) return false;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      fraction_digits += point ? 1 : 0;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0 || i + 1 < text.size()) return false;
  const bool has_unit = i < text.size();
  if (has_unit && (static_cast<unsigned char>(text[i]) & 0x80) != 0) return false;
  number = static_cast<double>(mantissa) / kPowers[fraction_digits];
  if (negative) number = -number;
  if (has_unit) number *= unit_factor(text[i]);
  return true;
}

std::optional<double> parse_number_with_unit(std::string_view text) noexcept {
  if (double plain = 0.0; plain_number_with_unit(text, plain)) return plain;
  const LiteralShape shape = literal_shape(text);
  if (shape.valid) return literal_value(text, shape);  // nothing on overflow: stays text
  if (text.empty()) return std::nullopt;
  const std::size_t unit_length = last_character_length(text);
  const auto number = parse_float(text.substr(0, text.size() - unit_length));
  if (!number) return std::nullopt;
  const char unit = unit_length == 1 ? text.back() : '\0';
  return *number * unit_factor(unit);
}

}  // namespace

Value parse_value(std::string_view value, const Map& kwargs) {
  // A plain number is neither quoted nor braced: the quick way gives what the rest would.
  if (double plain = 0.0; plain_number_with_unit(value, plain)) return plain;
  if (value.empty()) return nullptr;
  bool is_eval = false;
  std::string bracketed;
  if (enclosed_in(value, '"', '"')) value = inner(value);
  if (enclosed_in(value, '\'', '\'')) {
    value = inner(value);
    is_eval = true;
  }
  if (enclosed_in(value, '{', '}')) {
    bracketed.reserve(value.size());
    bracketed.append("[").append(inner(value)).append("]");
    value = bracketed;
    is_eval = true;
  }
  if (const auto number = parse_number_with_unit(value)) return *number;
  if (is_eval) return eval(value, kwargs);
  return Value(std::string(value));
}

Value eval(std::string_view key_or_value, const Map& kwargs) {
  if (const auto named = kwargs.find(key_or_value); named != kwargs.end()) return named->second;
  if (auto result = evaluate_expression(key_or_value)) return std::move(*result);
  std::string text(key_or_value);
  warn("Could not parse '" + text +
       "'. Setting it to None (to be specified during the circuit call). You can also set the "
       "value of '" +
       text + "' as a keyword argument of orv.netweave");
  return nullptr;
}

}  // namespace orvelle::core::netweave::detail
