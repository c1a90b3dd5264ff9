#include "sax/sax.hpp"
#include "orvelle/codec/json.hpp"

#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace sax {

using orvelle::List;
using orvelle::Map;
using orvelle::Value;

namespace {

[[noreturn]] void reject_instance_port(std::string_view text, std::string_view netlist_name) {
  throw std::invalid_argument("netlist '" + std::string(netlist_name) + "': instance port '" +
                              std::string(text) + "' is not of the form 'instance,port'");
}

void check_instance_port(std::string_view text, std::string_view netlist_name) {
  if (!is_instance_port(text)) reject_instance_port(text, netlist_name);
}

void check_instance_port(const Value& text, std::string_view netlist_name) {
  if (!text.is_string()) reject_instance_port(orvelle::to_json(text), netlist_name);
  check_instance_port(text.as_string(), netlist_name);
}

const Map& as_mapping(const Value& v, std::string_view what) {
  if (!v.is_map()) throw std::invalid_argument(std::string(what) + " is not a mapping");
  return v.as_map();
}

// Puts the wanted keys first, in the wanted order, filling missing ones with `fill`; keys
// the library does not know keep their values, after the known ones.
template <std::size_t N>
bool has_exactly(const Map& m, const std::array<std::string_view, N>& keys) {
  if (m.size() != N) return false;
  std::size_t i = 0;
  for (const auto& entry : m) {
    if (entry.first != keys[i++]) return false;
  }
  return true;
}

template <std::size_t N>
Map with_keys_first(Map m, const std::array<std::string_view, N>& keys, const Value& fill) {
  Map out;
  out.reserve(m.size() + N);
  for (auto key : keys) {
    auto it = m.find(key);
    out.emplace(std::string(key), it != m.end() ? std::move(it.value()) : fill);
  }
  for (auto it = m.begin(); it != m.end(); ++it) {
    if (!out.contains(it->first)) out.emplace(it->first, std::move(it.value()));
  }
  return out;
}

// Normalises in place: the reader's own instances already have their keys in order, and
// replacing them would reallocate every instance of a large netlist.
void normalise_instance(Value& instance, std::string_view netlist, std::string_view name) {
  const auto label = [&] {
    return "netlist '" + std::string(netlist) + "': instance '" + std::string(name) + "'";
  };
  if (!instance.is_map()) throw std::invalid_argument(label() + " is not a mapping");
  Map& m = instance.as_map();
  const auto component = m.find("component");
  if (component == m.end() || !component->second.is_string() ||
      component->second.as_string().empty())
    throw std::invalid_argument(label() + " has no component");
  if (!has_exactly(m, instance_keys)) m = with_keys_first(std::move(m), instance_keys, Map{});
}

void normalise_netlist(Value& netlist, std::string_view name) {
  as_mapping(netlist, "netlist '" + std::string(name) + "'");
  Map& out = netlist.as_map();
  if (!has_exactly(out, netlist_keys)) out = with_keys_first(std::move(out), netlist_keys, Map{});
  for (auto key : netlist_keys) {
    as_mapping(out.at(key), "netlist '" + std::string(name) + "': " + std::string(key));
  }
  Map& instances = out.at("instances").as_map();
  for (auto it = instances.begin(); it != instances.end(); ++it) {
    normalise_instance(it.value(), name, it->first);
  }
  for (const auto& [from, to] : out.at("connections").as_map()) {
    check_instance_port(std::string_view(from), name);
    check_instance_port(to, name);
  }
  for (const auto& [port, target] : out.at("ports").as_map()) check_instance_port(target, name);
}

}  // namespace

orvelle::Text instance_port(std::string_view instance, std::string_view port) {
  const std::size_t size = instance.size() + 1 + port.size();
  if (size <= orvelle::Text::max_inline) {  // most are: made without a heap block
    std::array<char, orvelle::Text::max_inline> text;
    std::memcpy(text.data(), instance.data(), instance.size());
    text[instance.size()] = ',';
    std::memcpy(text.data() + instance.size() + 1, port.data(), port.size());
    return orvelle::Text(std::string_view(text.data(), size));
  }
  std::string text;
  text.reserve(size);
  text += instance;
  text += ',';
  text += port;
  return orvelle::Text(text);
}

bool is_instance_port_part(std::string_view part) noexcept {
  return !part.empty() && part.find(',') == std::string_view::npos;
}

bool is_instance_port(std::string_view text) noexcept {
  const auto comma = text.find(',');
  return comma != std::string_view::npos && is_instance_port_part(text.substr(0, comma)) &&
         is_instance_port_part(text.substr(comma + 1));
}

std::pair<std::string_view, std::string_view> split_instance_port(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
    throw std::invalid_argument("Cannot split instance port '" + std::string(text) +
                                "' into instance and port.");
  }
  return {text.substr(0, comma), text.substr(comma + 1)};
}

Netlist::Netlist(Map nets) : nets_(std::move(nets)) {
  for (auto it = nets_.begin(); it != nets_.end(); ++it) {
    normalise_netlist(it.value(), it->first);
  }
}

Map Netlist::model_dump() const& {
  return nets_;
}

Map Netlist::model_dump() && {
  return std::move(nets_);
}

Netlist netlist(Map nets) {
  return Netlist(std::move(nets));
}

std::vector<std::string> get_ports(const Model& model) {
  return model.ports;
}

}  // namespace sax
