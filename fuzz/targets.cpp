#include "targets.hpp"

#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/netweave/lines.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/scheduling.hpp"
#include "orvelle/core/netweave/values.hpp"
#include "reference_lines.hpp"
#include "reference_reader.hpp"

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

namespace reader = core::netweave::detail;

// The single-pass line reader must hand out exactly what the chain of stages it stands for
// does.
void compare_line_readers(std::string_view bytes) {
  const auto fused = reader::iter_relevant_lines(bytes);
  const auto chained = reader::chained_relevant_lines(bytes);
  for (std::size_t index = 0;; ++index) {
    const auto a = fused->next();
    const auto b = chained->next();
    if (!a && !b) return;
    if (!a || !b || a->text != b->text || a->source_line != b->source_line) {
      finding("the single-pass line reader differs from the chain of stages",
              Value(static_cast<std::int64_t>(index)));
    }
  }
}

struct Options {
  Map settings_keymap;
  Map component_map;
  Map kwargs;
};

// What a reading gave: the netlist, or the error with its line, and the warnings in order.
Value reading(const std::function<RecursiveNetlist()>& read) {
  std::vector<std::string> given;
  WarningHandler previous =
      set_warning_handler([&given](const ParseWarning& w) { given.push_back(w.message); });
  Map out;
  try {
    out["netlist"] = read();
  } catch (const ParseError& e) {
    out["error"] = std::string("ParseError: ") + e.what();
    out["line"] = static_cast<std::int64_t>(e.line());
  } catch (const std::invalid_argument& e) {  // the normalisation rejected the netlist
    out["error"] = std::string("rejected: ") + e.what();
  }
  set_warning_handler(std::move(previous));
  List messages(given.begin(), given.end());
  out["warnings"] = std::move(messages);
  return out;
}

// The reader, on a schedule and with options picked by the input's hash, must give exactly
// what its operations composed one after another give: result or error, and warnings.
void compare_readers(std::string_view bytes) {
  static const Options options[] = {
      {},
      {Map{{"width", "w"}, {"length", "l"}}, Map{{"straight", "wg"}, {"arm", "renamed"}},
       Map{{"g", 3}, {"delta", 2.5}, {"name", "text"}}},
      {Map{{"w", "width"}}, Map{{"mmi1x2", "straight"}}, Map{{"l", List{1, 2.5}}}},
  };
  const std::uint32_t pick = hash32(bytes);
  const Options& o = options[pick % std::size(options)];
  const auto schedules = reader::every_schedule();
  const reader::ReaderTuning& schedule = schedules[(pick >> 8) % schedules.size()];
  const Value read = reading([&] {
    return reader::read_netlist(bytes, o.settings_keymap, o.component_map, o.kwargs, schedule);
  });
  const Value composed = reading([&] {
    return reader::composed_reading(bytes, o.settings_keymap, o.component_map, o.kwargs);
  });
  if (read != composed) {
    finding("the reader differs from its operations composed", List{read, composed});
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
  reader::parse_value(bytes, kwargs);
  reader::evaluate_expression(bytes);
}

void write_netlist(std::string_view bytes) {
  const auto nets = netlist_of(bytes);
  if (!nets) return;
  const Value value(*nets);
  if (from_json(to_json(value)) != value) finding("JSON does not read back", value);
  if (from_yaml(to_yaml(value)) != value) finding("YAML does not read back", value);
}

}  // namespace orvelle::fuzz
