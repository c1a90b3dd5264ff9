#include "orvelle/value.hpp"

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <regex>
#include <stdexcept>

namespace orvelle {

MapBox::MapBox(Map map) : map_(new Map(std::move(map))) {}

MapBox::MapBox(const MapBox& other) : map_(new Map(other.get())) {}

MapBox& MapBox::operator=(const MapBox& other) {
  if (this != &other) *this = MapBox(other);
  return *this;
}

MapBox& MapBox::operator=(MapBox&& other) noexcept {
  // The old mapping may hold `other` itself: detach it before freeing.
  Map* old = map_;
  map_ = other.map_;
  other.map_ = nullptr;
  delete old;
  return *this;
}

MapBox::~MapBox() {
  delete map_;
}

const Map& MapBox::get() const noexcept {
  static const Map empty;
  return map_ == nullptr ? empty : *map_;
}

Map& MapBox::get() {
  if (map_ == nullptr) map_ = new Map();
  return *map_;
}

bool operator==(const MapBox& a, const MapBox& b) {
  return a.get() == b.get();
}

std::string_view kind_name(Value::Kind kind) noexcept {
  static constexpr std::array<std::string_view, 7> names = {"null", "bool", "int",    "float",
                                                            "text", "list", "mapping"};
  return names[static_cast<std::size_t>(kind)];
}

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is malformed.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    // Netlists are almost all ASCII: skip eight plain bytes at a time.
    if (i + 8 <= text.size()) {
      std::uint64_t chunk;
      std::memcpy(&chunk, text.data() + i, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const std::size_t len = utf8_sequence_length(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string format_float(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  // Shortest round-trip digits, then laid out the way a scripting language's repr does:
  // positional for exponents in [-4, 16), scientific with a signed two-digit exponent else.
  std::array<char, 64> buf;
  auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), d, std::chars_format::scientific);
  std::string_view sci(buf.data(), static_cast<std::size_t>(end - buf.data()));
  const auto e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  int exponent = 0;
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(),
                  exponent);
  std::string sign;
  if (mantissa.front() == '-') {
    sign = "-";
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  if (exponent < -4 || exponent >= 16) {
    std::string out = sign + digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    const int magnitude = std::abs(exponent);
    out += exponent < 0 ? "e-" : "e+";
    if (magnitude < 10) out += '0';
    return out + std::to_string(magnitude);
  }
  if (exponent < 0) return sign + "0." + std::string(-exponent - 1, '0') + digits;
  const auto int_len = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_len)
    return sign + digits + std::string(int_len - digits.size(), '0') + ".0";
  return sign + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

namespace {

void require_utf8(std::string_view text) {
  if (!is_valid_utf8(text)) throw std::invalid_argument("text is not valid UTF-8");
}

// ---------------------------------------------------------------- JSON writer

void append_json_string(std::string& out, std::string_view s) {
  require_utf8(s);
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  // Most texts need no escape: copy them whole.
  const bool plain = std::none_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
  });
  if (plain) {
    out += s;
    out += '"';
    return;
  }
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

void append_json(std::string& out, const Value& v);

void append_json_map(std::string& out, const Map& map) {
  out += '{';
  bool first = true;
  for (const auto& [key, item] : map) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, key);
    out += ':';
    append_json(out, item);
  }
  out += '}';
}

void append_json(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      out += "null";
      break;
    case Value::Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Value::Kind::integer:
      out += std::to_string(v.as_int());
      break;
    case Value::Kind::floating:
      out += std::isfinite(v.as_float()) ? format_float(v.as_float()) : "null";
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
      }
      out += ']';
      break;
    }
    case Value::Kind::map:
      append_json_map(out, v.as_map());
      break;
  }
}

// ---------------------------------------------------------------- YAML writer

// Plain scalars that a YAML 1.1 or 1.2 reader would resolve to null, a bool or a number.
// Anything that starts like a number is quoted: a few harmless extra quotes buy safety
// against every numeric spelling (0x1F, 1_000, 1:20, .5).
bool reads_as_other_type(std::string_view s) {
  static constexpr std::array<std::string_view, 31> words = {
      "~",  "null", "Null", "NULL", "y",    "Y",    "yes",   "Yes",   "YES",   "n",  "N",
      "no", "No",   "NO",   "true", "True", "TRUE", "false", "False", "FALSE", "on", "On",
      "ON", "off",  "Off",  "OFF",  ".nan", ".NaN", ".NAN",  "<<",    "="};
  const std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  const std::string_view unsigned_part = s.substr(i);
  if (unsigned_part == ".inf" || unsigned_part == ".Inf" || unsigned_part == ".INF") return true;
  for (std::string_view word : words) {
    if (s == word) return true;
  }
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (i < s.size() && digit(s[i])) return true;
  return i + 1 < s.size() && s[i] == '.' && digit(s[i + 1]);
}

bool needs_double_quotes(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u < 0x20 || u == 0x7F) return true;
    // U+0085, U+2028, U+2029 and U+FEFF are line breaks or invisible to a YAML reader.
    if (u == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) return true;
    if (u == 0xE2 && s.substr(i, 3) >= "\xE2\x80\xA8" && s.substr(i, 3) <= "\xE2\x80\xA9")
      return true;
    if (u == 0xEF && s.substr(i, 3) == "\xEF\xBB\xBF") return true;
  }
  return false;
}

bool needs_quotes(std::string_view s) {
  if (s.empty() || reads_as_other_type(s)) return true;
  static constexpr std::string_view indicators = "-?:,[]{}#&*!|>'\"%@` \t";
  if (indicators.find(s.front()) != std::string_view::npos) {
    // "-x", "?x" and ":x" are plain; "- x", "-" alone and the others are not.
    const bool dash_like = s.front() == '-' || s.front() == '?' || s.front() == ':';
    if (!dash_like || s.size() == 1 || s[1] == ' ') return true;
  }
  if (s.back() == ' ' || s.back() == ':') return true;
  return s.find(": ") != std::string_view::npos || s.find(" #") != std::string_view::npos;
}

void append_double_quoted(std::string& out, std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (s[i] == '"' || s[i] == '\\') {
      out += '\\';
      out += s[i];
    } else if (s[i] == '\n') {
      out += "\\n";
    } else if (s[i] == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 0xF];
    } else if (u == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) {
      out += "\\N";
      ++i;
    } else if (s.substr(i, 3) == "\xE2\x80\xA8" || s.substr(i, 3) == "\xE2\x80\xA9") {
      out += s[i + 2] == '\xA8' ? "\\L" : "\\P";
      i += 2;
    } else if (s.substr(i, 3) == "\xEF\xBB\xBF") {
      out += "\\uFEFF";
      i += 2;
    } else {
      out += s[i];
    }
  }
  out += '"';
}

void append_yaml_string(std::string& out, std::string_view s) {
  require_utf8(s);
  if (needs_double_quotes(s)) return append_double_quoted(out, s);
  if (!needs_quotes(s)) {
    out += s;
    return;
  }
  out += '\'';
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

std::string yaml_float(double d) {
  if (std::isnan(d)) return ".nan";
  if (std::isinf(d)) return d < 0 ? "-.inf" : ".inf";
  std::string text = format_float(d);
  // YAML 1.1 reads a float only with a point in the mantissa: 1e-08 must become 1.0e-08.
  if (text.find('.') == std::string::npos) text.insert(text.find('e'), ".0");
  return text;
}

bool is_empty_collection(const Value& v) {
  return (v.is_list() && v.as_list().empty()) || (v.is_map() && v.as_map().empty());
}

void append_yaml_block(std::string& out, const Value& v, int indent);

void append_yaml_scalar(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      out += "null";
      break;
    case Value::Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Value::Kind::integer:
      out += std::to_string(v.as_int());
      break;
    case Value::Kind::floating:
      out += yaml_float(v.as_float());
      break;
    case Value::Kind::text:
      append_yaml_string(out, v.as_string());
      break;
    case Value::Kind::list:
      out += "[]";
      break;
    case Value::Kind::map:
      out += "{}";
      break;
  }
}

// Writes what follows a "key:" or "-" marker: a scalar on the same line, else a nested block.
void append_yaml_child(std::string& out, const Value& v, int indent) {
  if ((v.is_map() || v.is_list()) && !is_empty_collection(v)) {
    out += '\n';
    append_yaml_block(out, v, indent);
  } else {
    out += ' ';
    append_yaml_scalar(out, v);
    out += '\n';
  }
}

constexpr std::size_t max_implicit_key = 1000;  // bytes; YAML's limit is 1024 characters

// A non-empty mapping as a block.
void append_yaml_map(std::string& out, const Map& map, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  for (const auto& [key, item] : map) {
    out += pad;
    const std::size_t key_start = out.size();
    append_yaml_string(out, key);
    // A plain "key:" may be at most 1024 characters long; a longer key must be explicit:
    // "? key" on its own line, then ": value".
    if (out.size() - key_start > max_implicit_key) {
      out.insert(key_start, "? ");
      out += '\n';
      out += pad;
    }
    out += ':';
    append_yaml_child(out, item, indent + 2);
  }
}

void append_yaml_block(std::string& out, const Value& v, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (v.is_map() && !v.as_map().empty()) {
    append_yaml_map(out, v.as_map(), indent);
  } else if (v.is_list() && !v.as_list().empty()) {
    for (const auto& item : v.as_list()) {
      out += pad;
      out += '-';
      append_yaml_child(out, item, indent + 2);
    }
  } else {
    out += pad;
    append_yaml_scalar(out, v);
    out += '\n';
  }
}

// ---------------------------------------------------------------- readers

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

Value resolve_plain_scalar(const std::string& s) {
  static const std::regex null_re("~|null|Null|NULL|", std::regex::optimize);
  static const std::regex true_re("true|True|TRUE", std::regex::optimize);
  static const std::regex false_re("false|False|FALSE", std::regex::optimize);
  static const std::regex int_re("[-+]?[0-9]+", std::regex::optimize);
  static const std::regex float_re(
      "[-+]?(\\.[0-9]+|[0-9]+(\\.[0-9]*)?)([eE][-+]?[0-9]+)?|[-+]?\\.(inf|Inf|INF)|\\.(nan|NaN|"
      "NAN)",
      std::regex::optimize);
  if (std::regex_match(s, null_re)) return nullptr;
  if (std::regex_match(s, true_re)) return true;
  if (std::regex_match(s, false_re)) return false;
  if (std::regex_match(s, int_re)) {
    std::int64_t i = 0;
    const char* first = s.data() + (s.front() == '+');
    if (std::from_chars(first, s.data() + s.size(), i).ec == std::errc{}) return i;
  }
  if (std::regex_match(s, float_re)) {
    if (s.find("inf") != std::string::npos || s.find("Inf") != std::string::npos ||
        s.find("INF") != std::string::npos)
      return s.front() == '-' ? -HUGE_VAL : HUGE_VAL;
    if (s.find('.') == 0 && s.size() > 1 && std::isalpha(static_cast<unsigned char>(s[1])))
      return std::nan("");
    return std::strtod(s.c_str(), nullptr);
  }
  return s;
}

Value from_yaml_node(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Scalar:
      // A quoted scalar carries the non-specific tag "!": it is text whatever it spells.
      if (node.Tag() == "!") return node.Scalar();
      return resolve_plain_scalar(node.Scalar());
    case YAML::NodeType::Sequence: {
      List list;
      for (const auto& item : node) list.push_back(from_yaml_node(item));
      return list;
    }
    case YAML::NodeType::Map: {
      Map map;
      for (const auto& item : node) map[item.first.as<std::string>()] = from_yaml_node(item.second);
      return map;
    }
    default:
      return nullptr;
  }
}

}  // namespace

std::string to_json(const Value& value) {
  std::string out;
  append_json(out, value);
  return out;
}

std::string to_yaml(const Value& value) {
  std::string out;
  append_yaml_block(out, value, 0);
  return out;
}

std::string to_json(const Map& map) {
  std::string out;
  append_json_map(out, map);
  return out;
}

std::string to_yaml(const Map& map) {
  if (map.empty()) return "{}\n";
  std::string out;
  append_yaml_map(out, map, 0);
  return out;
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

Value from_yaml(std::string_view text) {
  try {
    return from_yaml_node(YAML::Load(std::string(text)));
  } catch (const YAML::Exception& e) {
    throw std::invalid_argument(e.what());
  }
}

}  // namespace orvelle
