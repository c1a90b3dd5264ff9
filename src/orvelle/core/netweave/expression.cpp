// A small arithmetic evaluator for quoted setting values. It follows the number rules of
// scripting languages (integers stay integers except under "/", floor division and modulo
// round towards minus infinity) but runs no code: only literals, operators, parentheses and
// bracketed lists are understood.

#include "orvelle/core/netweave/values.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

namespace orvelle::core::netweave::detail {

namespace {

struct EvalFailure {};

// Deep enough for any hand-written expression, shallow enough for any stack.
constexpr int kMaxDepth = 200;

using Int = std::int64_t;

double to_double(const Value& v) {
  return v.is_int() ? static_cast<double>(v.as_int()) : v.as_float();
}

bool is_number(const Value& v) {
  return v.is_int() || v.is_float();
}

// Integer arithmetic that fails instead of wrapping: results must fit in int64.
template <class Op>
Int checked(Op op, Int a, Int b) {
  Int result = 0;
  if (op(a, b, &result)) throw EvalFailure{};
  return result;
}

Int add(Int a, Int b) {
  return checked([](Int x, Int y, Int* r) { return __builtin_add_overflow(x, y, r); }, a, b);
}
Int subtract(Int a, Int b) {
  return checked([](Int x, Int y, Int* r) { return __builtin_sub_overflow(x, y, r); }, a, b);
}
Int multiply(Int a, Int b) {
  return checked([](Int x, Int y, Int* r) { return __builtin_mul_overflow(x, y, r); }, a, b);
}

Int int_floor_div(Int a, Int b) {
  if (b == 0) throw EvalFailure{};
  if (a == std::numeric_limits<Int>::min() && b == -1) throw EvalFailure{};
  Int q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

Int int_mod(Int a, Int b) {
  if (b == 0) throw EvalFailure{};
  if (b == -1) return 0;
  Int r = a % b;
  if (r != 0 && ((r < 0) != (b < 0))) r += b;
  return r;
}

// Float floor division and modulo as scripting languages define them (divmod rounding).
std::pair<double, double> float_divmod(double a, double b) {
  if (b == 0.0) throw EvalFailure{};
  double mod = std::fmod(a, b);
  double div = (a - mod) / b;
  if (mod != 0.0) {
    if ((b < 0) != (mod < 0)) {
      mod += b;
      div -= 1.0;
    }
  } else {
    mod = std::copysign(0.0, b);
  }
  double floordiv;
  if (div != 0.0) {
    floordiv = std::floor(div);
    if (div - floordiv > 0.5) floordiv += 1.0;
  } else {
    floordiv = std::copysign(0.0, a / b);
  }
  return {floordiv, mod};
}

Int int_power(Int base, Int exponent) {
  Int result = 1;
  while (exponent > 0) {
    if (exponent & 1) result = multiply(result, base);
    exponent >>= 1;
    if (exponent > 0) base = multiply(base, base);
  }
  return result;
}

Value power(const Value& a, const Value& b) {
  if (a.is_int() && b.is_int() && b.as_int() >= 0) return int_power(a.as_int(), b.as_int());
  const double x = to_double(a);
  const double y = to_double(b);
  if (x == 0.0 && y < 0.0) throw EvalFailure{};
  if (x < 0.0 && y != std::floor(y)) throw EvalFailure{};  // would be a complex number
  const double result = std::pow(x, y);
  if (!std::isfinite(result))
    throw EvalFailure{};  // overflow is an error, as in the languages mimicked
  return result;
}

Value arithmetic(char op, const Value& a, const Value& b) {
  if (!is_number(a) || !is_number(b)) throw EvalFailure{};
  if (op == '^') return power(a, b);
  if (op == '/') {
    if (to_double(b) == 0.0) throw EvalFailure{};
    return to_double(a) / to_double(b);
  }
  if (a.is_int() && b.is_int()) {
    const Int x = a.as_int();
    const Int y = b.as_int();
    switch (op) {
      case '+':
        return add(x, y);
      case '-':
        return subtract(x, y);
      case '*':
        return multiply(x, y);
      case 'f':
        return int_floor_div(x, y);
      default:
        return int_mod(x, y);
    }
  }
  const double x = to_double(a);
  const double y = to_double(b);
  switch (op) {
    case '+':
      return x + y;
    case '-':
      return x - y;
    case '*':
      return x * y;
    case 'f':
      return float_divmod(x, y).first;
    default:
      return float_divmod(x, y).second;
  }
}

Value negate(const Value& v) {
  if (v.is_int()) {
    if (v.as_int() == std::numeric_limits<Int>::min()) throw EvalFailure{};
    return -v.as_int();
  }
  if (v.is_float()) return -v.as_float();
  throw EvalFailure{};
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Value parse() {
    Value result = expression();
    skip_blanks();
    if (pos_ != text_.size()) throw EvalFailure{};
    return result;
  }

 private:
  // expression := term (("+" | "-") term)*
  Value expression() {
    Value left = term();
    while (true) {
      skip_blanks();
      const char c = peek();
      if (c != '+' && c != '-') return left;
      ++pos_;
      left = arithmetic(c, left, term());
    }
  }

  // term := factor (("*" | "/" | "//" | "%") factor)*
  Value term() {
    Value left = factor();
    while (true) {
      skip_blanks();
      char op = peek();
      if (op != '*' && op != '/' && op != '%') return left;
      if (op == '*' && peek(1) == '*') return left;  // a power, handled below
      if (op == '/' && peek(1) == '/') {
        op = 'f';
        ++pos_;
      }
      ++pos_;
      left = arithmetic(op, left, factor());
    }
  }

  // factor := ("+" | "-") factor | power
  Value factor() {
    Descent guard(*this);
    skip_blanks();
    if (peek() == '-') {
      ++pos_;
      return negate(factor());
    }
    if (peek() == '+') {
      ++pos_;
      Value v = factor();
      if (!is_number(v)) throw EvalFailure{};
      return v;
    }
    return power_expression();
  }

  // power := atom ["**" factor]; binds tighter than a unary sign on its left only.
  Value power_expression() {
    Value base = atom();
    skip_blanks();
    if (peek() == '*' && peek(1) == '*') {
      pos_ += 2;
      return arithmetic('^', base, factor());
    }
    return base;
  }

  // atom := number | "(" expression ")" | "[" [expression ("," expression)* [","]] "]"
  Value atom() {
    Descent guard(*this);
    skip_blanks();
    const char c = peek();
    if (c == '(') {
      ++pos_;
      Value inside = expression();
      expect(')');
      return inside;
    }
    if (c == '[') {
      ++pos_;
      return list();
    }
    return number();
  }

  Value list() {
    List items;
    skip_blanks();
    while (peek() != ']') {
      items.push_back(expression());
      skip_blanks();
      if (peek() != ',') break;
      ++pos_;
      skip_blanks();
    }
    expect(']');
    return items;
  }

  Value number() {
    const std::size_t begin = pos_;
    while (pos_ < text_.size() && is_number_char(text_[pos_], pos_ > begin ? text_[pos_ - 1] : 0)) {
      ++pos_;
    }
    const std::string_view literal = text_.substr(begin, pos_ - begin);
    if (literal.empty() || literal.front() == '+' || literal.front() == '-') throw EvalFailure{};
    if (literal.find_first_of(".eE") == std::string_view::npos) return integer(literal);
    const auto value = parse_float(literal);
    if (!value) throw EvalFailure{};
    return *value;
  }

  static bool is_number_char(char c, char before) {
    if (c >= '0' && c <= '9') return true;
    if (c == '.' || c == 'e' || c == 'E') return true;
    return (c == '+' || c == '-') && (before == 'e' || before == 'E');
  }

  static Value integer(std::string_view digits) {
    // Leading zeros are a syntax error in the languages this mimics, except for zero itself.
    if (digits.size() > 1 && digits.front() == '0' &&
        digits.find_first_not_of('0') != std::string_view::npos) {
      throw EvalFailure{};
    }
    Int value = 0;
    for (char d : digits) {
      value = add(multiply(value, 10), d - '0');
    }
    return value;
  }

  struct Descent {
    explicit Descent(Parser& p) : parser(p) {
      if (++parser.depth_ > kMaxDepth) throw EvalFailure{};
    }
    ~Descent() { --parser.depth_; }
    Parser& parser;
  };

  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  void expect(char c) {
    skip_blanks();
    if (peek() != c) throw EvalFailure{};
    ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

bool all_finite(const Value& v) {
  if (v.is_float()) return std::isfinite(v.as_float());
  if (v.is_list()) {
    for (const Value& item : v.as_list()) {
      if (!all_finite(item)) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Value> evaluate_expression(std::string_view expression) {
  try {
    Value result = Parser(expression).parse();
    if (!all_finite(result)) return std::nullopt;
    return result;
  } catch (const EvalFailure&) {
    return std::nullopt;
  }
}

}  // namespace orvelle::core::netweave::detail
