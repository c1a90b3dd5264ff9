#pragma once
// The line stages one by one, as the reader's single-pass line reader stands for them: the
// reference its tests and fuzzer hold it to.

#include <functional>
#include <string>
#include <vector>

#include "orvelle/core/netweave/lines.hpp"

namespace orvelle::core::netweave::detail {

using LineStage = std::function<LineStreamPtr(LineStreamPtr)>;

/// A stream over given lines, numbered from 1.
LineStreamPtr lines_from(std::vector<std::string> lines);

LineStreamPtr strip_lines(LineStreamPtr lines);
LineStreamPtr join_continuations(LineStreamPtr lines);
LineStreamPtr standardize_spaces(LineStreamPtr lines);
LineStreamPtr filter_empty(LineStreamPtr lines);
/// Everything from the first "$", then from the first "*", removed.
LineStreamPtr strip_comments(LineStreamPtr lines);

/// One stage that applies `stages` in order; no stages gives the identity.
LineStage chain(std::vector<LineStage> stages);

/// The relevant lines as the chain of stages gives them.
LineStreamPtr chained_relevant_lines(std::string_view content);

}  // namespace orvelle::core::netweave::detail
