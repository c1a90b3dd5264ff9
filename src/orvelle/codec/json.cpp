#include "orvelle/codec/json.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvelle/codec/output.hpp"

namespace orvelle {

namespace detail {

NumberText float_text(double d) noexcept {
  NumberText text{};
  char* out = text.chars.data();
  const auto put = [&](std::string_view piece) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  };
  if (std::isnan(d) || std::isinf(d)) {
    put(std::isnan(d) ? "nan" : d < 0 ? "-inf" : "inf");
    text.size = static_cast<std::size_t>(out - text.chars.data());
    return text;
  }
  // Shortest round-trip digits, then laid out the way a scripting language's repr does:
  // positional for exponents in [-4, 16), scientific with a signed two-digit exponent else.
  std::array<char, 32> scientific;
  const char* end =
      std::to_chars(scientific.begin(), scientific.end(), d, std::chars_format::scientific).ptr;
  const char* p = scientific.data();
  if (*p == '-') *out++ = *p++;
  const char* e = std::find(p, end, 'e');
  std::array<char, 20> digits;
  std::size_t n = 0;
  for (; p < e; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  int exponent = 0;
  std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
  const std::string_view all(digits.data(), n);
  if (exponent < -4 || exponent >= 16) {
    *out++ = digits[0];
    if (n > 1) {
      *out++ = '.';
      put(all.substr(1));
    }
    put(exponent < 0 ? "e-" : "e+");
    if (std::abs(exponent) < 10) *out++ = '0';
    out = std::to_chars(out, out + 4, std::abs(exponent)).ptr;
  } else if (exponent < 0) {
    put("0.");
    out = std::fill_n(out, -exponent - 1, '0');
    put(all);
  } else if (const auto int_len = static_cast<std::size_t>(exponent) + 1; n <= int_len) {
    put(all);
    out = std::fill_n(out, int_len - n, '0');
    put(".0");
  } else {
    put(all.substr(0, int_len));
    *out++ = '.';
    put(all.substr(int_len));
  }
  text.size = static_cast<std::size_t>(out - text.chars.data());
  return text;
}

}  // namespace detail

std::string format_float(double d) {
  return std::string(detail::float_text(d).view());
}

namespace {

using detail::BlockOutput;
using detail::require_utf8;

void append_json_string(BlockOutput& out, std::string_view s) {
  out += '"';
  if (detail::plain_ascii(s)) {
    out += s;
    out += '"';
    return;
  }
  require_utf8(s);
  static constexpr char hex[] = "0123456789abcdef";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += hex[u >> 4];
          out += hex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void append_json(BlockOutput& out, const Value& v);

void append_json_map(BlockOutput& out, const Map& map) {
  out += '{';
  bool first = true;
  for (const auto& [key, item] : map) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, key);
    out += ':';
    append_json(out, item);
    out.boundary();
  }
  out += '}';
}

void append_json(BlockOutput& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      out += "null";
      break;
    case Value::Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Value::Kind::integer:
      out += detail::integer_text(v.as_int()).view();
      break;
    case Value::Kind::floating:
      out += std::isfinite(v.as_float()) ? detail::float_text(v.as_float()).view() : "null";
      break;
    case Value::Kind::text:
      append_json_string(out, v.as_string());
      break;
    case Value::Kind::list: {
      out += '[';
      bool first = true;
      for (const auto& item : v.as_list()) {
        if (!first) out += ',';
        first = false;
        append_json(out, item);
        out.boundary();
      }
      out += ']';
      break;
    }
    case Value::Kind::map:
      append_json_map(out, v.as_map());
      break;
  }
}

// Builds a Value straight from the parser's events: objects keep their key order and go
// into the hashed Map (a parsed DOM would sort them or look keys up linearly).
class ValueBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  // Deeper documents are refused: destroying or writing them would recurse that deep.
  static constexpr std::size_t max_depth = 1'000;

  Value result() { return std::move(root_); }

  bool null() override { return add(nullptr); }
  bool boolean(bool b) override { return add(b); }
  bool number_integer(number_integer_t i) override { return add(i); }
  bool number_unsigned(number_unsigned_t u) override {
    if (u <= static_cast<std::uint64_t>(INT64_MAX)) return add(static_cast<std::int64_t>(u));
    return add(static_cast<double>(u));
  }
  bool number_float(number_float_t d, const string_t&) override { return add(d); }
  bool string(string_t& s) override { return add(std::move(s)); }
  bool binary(binary_t&) override { return add(nullptr); }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool start_object(std::size_t) override { return open(Map{}); }
  bool start_array(std::size_t) override { return open(List{}); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    throw std::invalid_argument(e.what());
  }

 private:
  Value* add(Value v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Value& parent = *open_.back();
    if (parent.is_list()) return &parent.as_list().emplace_back(std::move(v));
    auto [it, inserted] = parent.as_map().insert_or_assign(std::move(key_), std::move(v));
    return &it.value();
  }
  bool open(Value container) {
    if (open_.size() >= max_depth)
      throw std::invalid_argument("JSON nested deeper than " + std::to_string(max_depth) +
                                  " levels");
    open_.push_back(add(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  Value root_;
  std::string key_;
  std::vector<Value*> open_;  // containers being filled, innermost last
};

}  // namespace

std::string to_json(const Value& value) {
  BlockOutput out(nullptr);
  append_json(out, value);
  return std::move(out).take();
}

std::string to_json(const Map& map) {
  BlockOutput out(nullptr);
  append_json_map(out, map);
  return std::move(out).take();
}

void write_json(std::ostream& stream, const Value& value) {
  BlockOutput out(&stream);
  append_json(out, value);
  out.flush();
}

void write_json(std::ostream& stream, const Map& map) {
  BlockOutput out(&stream);
  append_json_map(out, map);
  out.flush();
}

Value from_json(std::string_view text) {
  try {
    ValueBuilder builder;
    nlohmann::json::sax_parse(text, &builder);
    return builder.result();
  } catch (const nlohmann::json::exception& e) {
    throw std::invalid_argument(e.what());
  }
}

}  // namespace orvelle
