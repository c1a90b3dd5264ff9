#include "orvelle/core/netweave/warnings.hpp"

#include <iostream>
#include <mutex>
#include <utility>

#include "orvelle/core/netweave/netweave.hpp"

namespace orvelle {

namespace {

void print_warning(const ParseWarning& warning) {
  std::cerr << "warning: " << warning.message << '\n';
}

struct WarningChannel {
  std::mutex mutex;
  WarningHandler handler = print_warning;
};

WarningChannel& warning_channel() {
  static WarningChannel channel;
  return channel;
}

thread_local std::vector<std::string>* captured_warnings = nullptr;

}  // namespace

WarningHandler set_warning_handler(WarningHandler handler) {
  WarningChannel& channel = warning_channel();
  std::lock_guard lock(channel.mutex);
  WarningHandler previous = std::move(channel.handler);
  channel.handler = handler ? std::move(handler) : WarningHandler(print_warning);
  return previous;
}

WarningCapture::WarningCapture(std::vector<std::string>& into) noexcept
    : previous_(std::exchange(captured_warnings, &into)) {}

WarningCapture::~WarningCapture() {
  captured_warnings = previous_;
}

namespace core::netweave::detail {

void warn(std::string message) {
  if (captured_warnings != nullptr) {
    captured_warnings->push_back(std::move(message));
    return;
  }
  WarningHandler handler;
  {
    WarningChannel& channel = warning_channel();
    std::lock_guard lock(channel.mutex);
    handler = channel.handler;
  }
  handler(ParseWarning{std::move(message)});
}

void warn_all(std::vector<std::string>& messages) {
  for (std::string& message : messages) warn(std::move(message));
  messages.clear();
}

}  // namespace core::netweave::detail

}  // namespace orvelle
