#include "orvelle/core/cli/options.hpp"

#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <unordered_set>

#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/values.hpp"
#include "orvelle/core/shared.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::cli {

namespace {

std::pair<std::string, std::string> split_assignment(const std::string& text,
                                                     const std::string& option) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    throw CLI::ValidationError(option, "expected NAME=VALUE, got '" + text + "'");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

// -D values: an integer when the text is one, a float when it is a decimal literal, else text.
Value define_value(const std::string& text) {
  // from_chars takes no "+": skip it, but only before a digit, so "+-5" stays text.
  const bool plus = text.size() > 1 && text[0] == '+' && text[1] >= '0' && text[1] <= '9';
  const char* first = text.data() + (plus ? 1 : 0);
  const char* last = text.data() + text.size();
  std::int64_t i = 0;
  if (auto [end, ec] = std::from_chars(first, last, i);
      ec == std::errc{} && end == last && first != last)
    return i;
  // The same literal rule as setting values in the netlist.
  if (const auto d = core::netweave::detail::parse_float(text)) return *d;
  return text;
}

}  // namespace

Map assignments(const std::vector<std::string>& texts, const std::string& option, bool typed) {
  Map map;
  for (const auto& text : texts) {
    auto [name, value] = split_assignment(text, option);
    map[name] = typed ? define_value(value) : Value(value);
  }
  return map;
}

void activate_kit(const std::string& name_or_file) {
  if (name_or_file.empty()) return;
  try {
    pdk::activate_pdk(name_or_file);
  } catch (const std::invalid_argument&) {
    if (!std::filesystem::exists(name_or_file)) throw;
    pdk::activate_pdk(pdk::register_pdk(pdk::load_pdk_file(name_or_file)).name);
  }
}

RecursiveNetlist read_netlist(const std::string& file, const Map& settings_keymap,
                              const Map& component_map, const Map& kwargs) {
  const bool from_stdin = file == "-";
  try {
    if (from_stdin) return netweave(std::cin, settings_keymap, component_map, kwargs);
    return netweave(std::filesystem::path(file), settings_keymap, component_map, kwargs);
  } catch (const ParseError& e) {
    std::cerr << "error: " << (from_stdin ? "<stdin>" : file);
    if (e.line() > 0) std::cerr << ':' << e.line();
    std::cerr << ": " << e.what() << '\n';
    exit_with(1);
  }
}

void write_output(const std::string& output, std::string_view text) {
  write_output(output, [text](std::ostream& out) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  });
}

void write_output(const std::string& output, const std::function<void(std::ostream&)>& produce) {
  if (output.empty() || output == "-") {
    produce(std::cout);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write to standard output");
  } else {
    write_file_atomic(output, produce);
  }
}

// Each distinct warning once: a large netlist may repeat one unresolved name thousands of times.
void print_warnings_once() {
  auto seen = std::make_shared<std::unordered_set<std::string>>();
  set_warning_handler([seen](const ParseWarning& w) {
    if (seen->insert(w.message).second) std::cerr << "warning: " << w.message << '\n';
  });
}

}  // namespace orvelle::cli
