#pragma once
// The reader's warnings on their way to the process-wide handler (netweave.hpp).

#include <string>
#include <vector>

namespace orvelle::core::netweave::detail {

/// Passes `message` to this thread's innermost WarningCapture (netweave.hpp), else to the
/// process-wide warning handler.
void warn(std::string message);
/// Passes each message on in order.
void warn_all(std::vector<std::string>& messages);

}  // namespace orvelle::core::netweave::detail
