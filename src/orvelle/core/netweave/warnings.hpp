#pragma once
// The reader's warnings on their way to the process-wide handler (netweave.hpp).

#include <string>
#include <vector>

namespace orvelle::core::netweave::detail {

/// Passes `message` to the process-wide warning handler, or to this thread's capture.
void warn(std::string message);
/// Passes each message on in order.
void warn_all(std::vector<std::string>& messages);

/// While alive, this thread's warnings are kept in `into` instead of being passed on, so a
/// reader can hold them until it knows in which order they are due. Captures nest.
class WarningCapture {
 public:
  explicit WarningCapture(std::vector<std::string>& into) noexcept;
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

 private:
  std::vector<std::string>* previous_;
};

}  // namespace orvelle::core::netweave::detail
