// The DOT text of one subcircuit: our own, written in a stable order.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include "orvelle/core/check/check.hpp"
#include "orvelle/core/graph/graph.hpp"

namespace orvelle::graph {

namespace {

// A placed instance is drawn about two inches wide (Graphviz reads positions in inches): the
// closest two placed instances stand this far apart once scaled, so that no two boxes overlap.
constexpr double kClosestInches = 2.2;

std::string quoted_id(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string html_escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string instance_id(std::string_view instance) {
  return quoted_id("instance " + std::string(instance));
}

std::string port_node_id(std::string_view port) {
  return quoted_id("port " + std::string(port));
}

struct InstancePort {
  std::string_view instance;
  std::string_view port;
};

InstancePort split(std::string_view text) {
  const std::size_t comma = text.find(',');
  return {text.substr(0, comma), comma == std::string_view::npos ? "" : text.substr(comma + 1)};
}

struct Point {
  double x;
  double y;
};

std::optional<Point> placed_at(const Value& placement) {
  const Map* fields = placement.get_if<Map>();
  if (fields == nullptr) return std::nullopt;
  const auto number = [&](std::string_view key) -> std::optional<double> {
    const auto found = fields->find(key);
    if (found == fields->end()) return std::nullopt;
    if (const auto* d = found->second.get_if<double>()) return *d;
    if (const auto* i = found->second.get_if<std::int64_t>()) return static_cast<double>(*i);
    return std::nullopt;
  };
  const auto x = number("x");
  const auto y = number("y");
  if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y)) return std::nullopt;
  return Point{*x, *y};
}

// Inches per placement unit: the closest two distinct positions end kClosestInches apart.
double scale_for(std::vector<Point> points) {
  std::sort(points.begin(), points.end(), [](Point a, Point b) { return a.x < b.x; });
  double closest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = i + 1; j < points.size() && points[j].x - points[i].x < closest; ++j) {
      const double d = std::hypot(points[j].x - points[i].x, points[j].y - points[i].y);
      if (d > 0) closest = std::min(closest, d);
    }
  }
  return std::isfinite(closest) ? kClosestInches / closest : 1.0;
}

std::string number_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return buffer;
}

class DotWriter {
 public:
  DotWriter(const RecursiveNetlist& netlist, std::string_view name, const Map& subcircuit)
      : netlist_(netlist),
        name_(name),
        instances_(subcircuit.at("instances").as_map()),
        connections_(subcircuit.at("connections").as_map()),
        ports_(subcircuit.at("ports").as_map()),
        placements_(subcircuit.at("placements").as_map()) {}

  std::string write() {
    collect_ports();
    const bool placed = !placements_.empty();
    out_ += "graph " + quoted_id(name_) + " {\n";
    if (placed) {
      out_ += "  graph [layout=neato, overlap=true, splines=true];\n";
    } else {
      out_ += "  graph [layout=dot, rankdir=LR];\n";
    }
    out_ += "  node [fontname=\"Helvetica\", fontsize=10];\n";
    out_ += "  edge [fontname=\"Helvetica\", fontsize=9];\n";
    write_instances(placed ? scale_for(positions()) : 0.0);
    write_external_ports();
    for (const auto& [from, to] : connections_) {
      out_ += "  " + end_of(from) + " -- " + end_of(to.as_string()) + ";\n";
    }
    for (const auto& [port, target] : ports_) {
      out_ += "  " + port_node_id(port) + " -- " + end_of(target.as_string()) + ";\n";
    }
    out_ += "}\n";
    return std::move(out_);
  }

 private:
  // Every port of each instance: its component's, then any other the netlist names.
  void collect_ports() {
    std::unordered_map<std::string, std::vector<std::string>> known;
    for (const auto& [instance, fields] : instances_) {
      const std::string component(fields.as_map().at("component").as_string());
      auto found = known.find(component);
      if (found == known.end()) {
        found = known.emplace(component, check::component_ports(netlist_, component)).first;
      }
      ports_of_[instance.str()] = found->second;
    }
    const auto named = [&](std::string_view text) {
      const auto [instance, port] = split(text);
      const auto found = ports_of_.find(std::string(instance));
      if (found == ports_of_.end()) return;  // no such instance: the edge shows a bare node
      auto& ports = found->second;
      if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.emplace_back(port);
    };
    for (const auto& [from, to] : connections_) {
      named(from);
      named(to.as_string());
    }
    for (const auto& [port, target] : ports_) named(target.as_string());
  }

  std::vector<Point> positions() const {
    std::vector<Point> points;
    for (const auto& [instance, placement] : placements_) {
      if (const auto at = placed_at(placement)) points.push_back(*at);
    }
    return points;
  }

  void write_instances(double scale) {
    for (const auto& [instance, fields] : instances_) {
      const std::vector<std::string>& ports = ports_of_.at(instance.str());
      out_ += "  " + instance_id(instance) + " [shape=plain, label=<" +
              table(instance, fields.as_map().at("component").as_string(), ports) + ">";
      if (const auto placement = placements_.find(instance);
          scale > 0 && placement != placements_.end()) {
        if (const auto at = placed_at(placement->second)) {
          out_ +=
              ", pos=\"" + number_text(at->x * scale) + "," + number_text(at->y * scale) + "!\"";
        }
      }
      out_ += "];\n";
    }
  }

  static std::string table(std::string_view instance, std::string_view component,
                           const std::vector<std::string>& ports) {
    const std::size_t columns = std::max<std::size_t>(1, ports.size());
    std::string html =
        "<TABLE BORDER=\"0\" CELLBORDER=\"1\" CELLSPACING=\"0\" CELLPADDING=\"3\">"
        "<TR><TD COLSPAN=\"" +
        std::to_string(columns) + "\" BGCOLOR=\"#dde6f0\"><B>" + html_escaped(instance) +
        "</B><BR/>" + html_escaped(component) + "</TD></TR>";
    if (!ports.empty()) {
      html += "<TR>";
      for (const std::string& port : ports) {
        html += "<TD PORT=\"" + html_escaped(port) + "\">" + html_escaped(port) + "</TD>";
      }
      html += "</TR>";
    }
    return html + "</TABLE>";
  }

  void write_external_ports() {
    for (const auto& [port, target] : ports_) {
      out_ += "  " + port_node_id(port) + " [shape=cds, style=filled, fillcolor=\"#f4e3b5\", " +
              "label=" + quoted_id(port) + "];\n";
    }
  }

  // An instance port as an edge's end: the port's cell of the instance's box.
  std::string end_of(std::string_view text) const {
    const auto [instance, port] = split(text);
    if (!ports_of_.contains(std::string(instance))) return quoted_id(text);
    return instance_id(instance) + ":" + quoted_id(port);
  }

  const RecursiveNetlist& netlist_;
  std::string_view name_;
  const Map& instances_;
  const Map& connections_;
  const Map& ports_;
  const Map& placements_;
  std::unordered_map<std::string, std::vector<std::string>> ports_of_;
  std::string out_;
};

}  // namespace

std::string to_dot(const RecursiveNetlist& netlist, std::string_view subcircuit) {
  if (netlist.empty()) throw GraphError("the netlist holds no subcircuit");
  const auto found = subcircuit.empty() ? netlist.begin() : netlist.find(subcircuit);
  if (found == netlist.end()) {
    std::string names;
    for (const auto& [name, ignored] : netlist) names += (names.empty() ? "" : ", ") + name.str();
    throw GraphError("no subcircuit '" + std::string(subcircuit) + "'; there are: " + names);
  }
  return DotWriter(netlist, found->first, found->second.as_map()).write();
}

}  // namespace orvelle::graph
