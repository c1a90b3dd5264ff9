#pragma once
// Ports: which component port each position of an instance line stands for.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvelle::core::netweave::detail {

using PortNames = std::vector<std::string>;
using SharedPortNames = std::shared_ptr<const PortNames>;

/// The words that hold no "=", in order.
std::vector<std::string_view> get_ir_ports(std::span<const std::string_view> words);
/// The same into `ports`, reusing its storage.
void get_ir_ports(std::span<const std::string_view> words, std::vector<std::string_view>& ports);
/// The component's ports in canonical order; remembered per (active kit, name).
SharedPortNames get_ports(std::string_view component);
PortNames get_ports_from_model(std::string_view component);
PortNames get_ports_from_component(std::string_view component);
/// Names beginning with "in" first, then the rest, each group in natural order.
PortNames sort_ports(PortNames ports);
/// Digit runs compare by value, other runs as text; a leading digit run sorts first.
bool natural_less(std::string_view a, std::string_view b) noexcept;
/// `ports[i]`, or "o" followed by i + 1 past the end.
std::string get_port(const PortNames& ports, std::size_t i);

}  // namespace orvelle::core::netweave::detail
