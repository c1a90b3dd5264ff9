#include "orvelle/codec/yaml.hpp"

#include <yaml-cpp/yaml.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>

#include "orvelle/codec/output.hpp"

namespace orvelle {

namespace {

using detail::BlockOutput;
using detail::require_utf8;

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

template <class Out>
void append_double_quoted(Out& out, std::string_view s) {
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

template <class Out>
void append_yaml_string(Out& out, std::string_view s) {
  if (!detail::plain_ascii(s)) {
    require_utf8(s);
    if (needs_double_quotes(s)) return append_double_quoted(out, s);
  }
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

void append_yaml_float(BlockOutput& out, double d) {
  if (std::isnan(d)) {
    out += ".nan";
  } else if (std::isinf(d)) {
    out += d < 0 ? "-.inf" : ".inf";
  } else {
    const detail::NumberText number = detail::float_text(d);
    const std::string_view text = number.view();
    // YAML 1.1 reads a float only with a point in the mantissa: 1e-08 must become 1.0e-08.
    if (text.find('.') != std::string_view::npos) {
      out += text;
      return;
    }
    const std::size_t e = text.find('e');
    out += text.substr(0, e);
    out += ".0";
    out += text.substr(e);
  }
}

bool is_empty_collection(const Value& v) {
  return (v.is_list() && v.as_list().empty()) || (v.is_map() && v.as_map().empty());
}

constexpr std::size_t max_implicit_key = 1000;  // bytes; YAML's limit is 1024 characters

// Block-style YAML, passed on between entries.
class YamlWriter {
 public:
  explicit YamlWriter(BlockOutput& out) : out_(out) {}

  void block(const Value& v, int indent) {
    if (v.is_map() && !v.as_map().empty()) return map(v.as_map(), indent);
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    if (v.is_list() && !v.as_list().empty()) {
      for (const auto& item : v.as_list()) {
        out_ += pad;
        out_ += '-';
        child(item, indent + 2);
      }
      return;
    }
    out_ += pad;
    scalar(v);
    out_ += '\n';
  }

  // A non-empty mapping as a block.
  void map(const Map& map, int indent) {
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    for (const auto& [key, item] : map) {
      out_ += pad;
      key_.clear();
      append_yaml_string(key_, key);
      // A plain "key:" may be at most 1024 characters long; a longer key must be explicit:
      // "? key" on its own line, then ": value".
      if (key_.size() > max_implicit_key) {
        out_ += "? ";
        out_ += key_;
        out_ += '\n';
        out_ += pad;
      } else {
        out_ += key_;
      }
      out_ += ':';
      child(item, indent + 2);
    }
  }

 private:
  // Writes what follows a "key:" or "-" marker: a scalar on the same line, else a nested block.
  void child(const Value& v, int indent) {
    if ((v.is_map() || v.is_list()) && !is_empty_collection(v)) {
      out_ += '\n';
      block(v, indent);
    } else {
      out_ += ' ';
      scalar(v);
      out_ += '\n';
    }
    out_.boundary();
  }

  void scalar(const Value& v) {
    switch (v.kind()) {
      case Value::Kind::null:
        out_ += "null";
        break;
      case Value::Kind::boolean:
        out_ += v.as_bool() ? "true" : "false";
        break;
      case Value::Kind::integer:
        out_ += detail::integer_text(v.as_int()).view();
        break;
      case Value::Kind::floating:
        append_yaml_float(out_, v.as_float());
        break;
      case Value::Kind::text:
        append_yaml_string(out_, v.as_string());
        break;
      case Value::Kind::list:
        out_ += "[]";
        break;
      case Value::Kind::map:
        out_ += "{}";
        break;
    }
  }

  BlockOutput& out_;
  std::string key_;
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

std::string to_yaml(const Value& value) {
  BlockOutput out(nullptr);
  YamlWriter(out).block(value, 0);
  return std::move(out).take();
}

std::string to_yaml(const Map& map) {
  if (map.empty()) return "{}\n";
  BlockOutput out(nullptr);
  YamlWriter(out).map(map, 0);
  return std::move(out).take();
}

void write_yaml(std::ostream& stream, const Value& value) {
  BlockOutput out(&stream);
  YamlWriter(out).block(value, 0);
  out.flush();
}

void write_yaml(std::ostream& stream, const Map& map) {
  if (map.empty()) {
    stream << "{}\n";
    return;
  }
  BlockOutput out(&stream);
  YamlWriter(out).map(map, 0);
  out.flush();
}

Value from_yaml(std::string_view text) {
  try {
    return from_yaml_node(YAML::Load(std::string(text)));
  } catch (const YAML::Exception& e) {
    throw std::invalid_argument(e.what());
  }
}

}  // namespace orvelle
