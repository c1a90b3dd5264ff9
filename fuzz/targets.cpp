#include "targets.hpp"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "orvelle/core/netweave/detail.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"

namespace orvelle::fuzz {

namespace {

void silence_warnings() {
  static const bool silenced = [] {
    set_warning_handler([](const ParseWarning&) {});
    return true;
  }();
  (void)silenced;
}

[[noreturn]] void finding(std::string_view what, const Value& value) {
  std::cerr << "finding: " << what << "\n" << to_json(value).substr(0, 2000) << '\n';
  std::abort();
}

std::optional<RecursiveNetlist> netlist_of(std::string_view bytes) {
  silence_warnings();
  std::istringstream stream{std::string(bytes)};
  try {
    return netweave(stream);
  } catch (const ParseError&) {
  } catch (const std::invalid_argument&) {  // the normalisation rejected the netlist
  }
  return std::nullopt;
}

// The one-pass line reader must hand out exactly what the chain of stages it stands for does.
void compare_line_readers(std::string_view bytes) {
  static const detail::LineStage stages =
      detail::chain({detail::strip_lines, detail::join_continuations, detail::standardize_spaces,
                     detail::strip_lines, detail::filter_empty});
  const auto fused = detail::iter_relevant_lines(bytes);
  const auto chained = stages(detail::split_lines(bytes));
  for (std::size_t index = 0;; ++index) {
    const auto a = fused->next();
    const auto b = chained->next();
    if (!a && !b) return;
    if (!a || !b || a->text != b->text || a->source_line != b->source_line) {
      finding("the one-pass line reader differs from the chain of stages",
              Value(static_cast<std::int64_t>(index)));
    }
  }
}

// The one-pass reader must give exactly what the staged reader gives, or hand over.
void compare_readers(std::string_view bytes) {
  const auto woven = detail::weave_text(bytes);
  if (!woven) return;
  try {
    auto parsed = detail::netweave_text_into_ir(bytes);
    const RecursiveNetlist staged = detail::recursive_netlist_from_ir(
        std::move(parsed.ir), {}, std::move(parsed.comments), &parsed.source_lines);
    if (Value(*woven) != Value(staged)) {
      finding("the one-pass reader differs from the staged one", Value(*woven));
    }
  } catch (const std::exception& error) {
    finding("the one-pass reader reads what the staged one refuses", Value(error.what()));
  }
}

}  // namespace

void read_netlist(std::string_view bytes) {
  compare_line_readers(bytes);
  compare_readers(bytes);
  netlist_of(bytes);
}

void read_value(std::string_view bytes) {
  silence_warnings();
  const Map kwargs{{"x", 1}, {"name", "text"}};
  detail::parse_value(bytes, kwargs);
  detail::evaluate_expression(bytes);
}

void write_netlist(std::string_view bytes) {
  const auto nets = netlist_of(bytes);
  if (!nets) return;
  const Value value(*nets);
  if (from_json(to_json(value)) != value) finding("JSON does not read back", value);
  if (from_yaml(to_yaml(value)) != value) finding("YAML does not read back", value);
}

}  // namespace orvelle::fuzz
