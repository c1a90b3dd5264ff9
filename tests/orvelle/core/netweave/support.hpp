#pragma once
// Helpers shared by the reader's stage tests.

#include <ostream>
#include <string>
#include <vector>

#include "orvelle/codec/json.hpp"
#include "orvelle/core/netweave/ir.hpp"
#include "orvelle/core/netweave/lines.hpp"
#include "orvelle/core/netweave/location.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/ports.hpp"
#include "orvelle/core/netweave/renames.hpp"
#include "orvelle/core/netweave/scheduling.hpp"
#include "orvelle/core/netweave/settings.hpp"
#include "orvelle/core/netweave/statements.hpp"
#include "orvelle/core/netweave/values.hpp"
#include "reference_lines.hpp"

namespace orvelle {

/// Lets test failures show values as JSON, with the kind of numbers kept visible.
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << to_json(value) << (value.is_float() ? " (float)" : "");
}

}  // namespace orvelle

namespace orvelle::testing {

/// Collects the reader's warnings while alive, then restores the previous handler.
class WarningCapture {
 public:
  WarningCapture()
      : previous_(
            set_warning_handler([this](const ParseWarning& w) { messages.push_back(w.message); })) {
  }
  ~WarningCapture() { set_warning_handler(std::move(previous_)); }
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  std::vector<std::string> messages;

 private:
  WarningHandler previous_;
};

/// Every line a stream yields, as owned texts.
inline std::vector<std::string> collect(core::netweave::detail::LineStream& lines) {
  std::vector<std::string> out;
  while (auto line = lines.next()) out.emplace_back(line->text);
  return out;
}

/// The source line of every line a stream yields.
inline std::vector<std::size_t> collect_source_lines(core::netweave::detail::LineStream& lines) {
  std::vector<std::size_t> out;
  while (auto line = lines.next()) out.push_back(line->source_line);
  return out;
}

}  // namespace orvelle::testing
