// The checks of a dialect text: those of its recursive netlist, located at source lines, and
// those only the text can show (where the reader's rules hide a mistake).

#include <algorithm>
#include <bit>
#include <unordered_map>
#include <unordered_set>

#include "orvelle/core/check/detail.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::check::detail {

bool one_edit_apart(std::string_view a, std::string_view b) noexcept {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.size() - b.size() > 1) return false;
  std::size_t i = 0;
  while (i < b.size() && a[i] == b[i]) ++i;
  if (i == b.size()) return true;  // equal, or one character added at the end
  if (a.size() != b.size()) return a.substr(i + 1) == b.substr(i);
  if (a.substr(i + 1) == b.substr(i + 1)) return true;  // one character changed
  return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
         a.substr(i + 2) == b.substr(i + 2);  // two neighbours swapped
}

namespace {

std::uint64_t mixed(std::uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ULL;
  return h ^ (h >> 33);
}

// Two names one edit apart share at least one of these keys: the name itself or the name
// with one character dropped. The keys are hashes, made for every drop in one pass
// (polynomial hashes of prefix and suffix), since a large subcircuit asks for millions.
template <class Add>
void for_each_key(std::string_view name, Add add) {
  constexpr std::uint64_t kBase = 0x100000001B3ULL;
  const std::size_t n = name.size();
  std::uint64_t prefix[64];  // names past 63 characters get only their own key
  std::uint64_t power[64];
  const auto code = [&](std::size_t i) { return static_cast<unsigned char>(name[i]) + 1ULL; };
  std::uint64_t whole = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i < 64) prefix[i] = whole;
    whole = whole * kBase + code(i);
  }
  add(mixed(whole + n));
  if (n >= 64) return;
  power[0] = 1;
  for (std::size_t i = 1; i < n; ++i) power[i] = power[i - 1] * kBase;
  for (std::size_t i = 0; i < n; ++i) {
    // prefix[i] holds name[0, i); the hash of name[i + 1, n) is whole less name[0, i + 1).
    const std::uint64_t head = i + 1 < n ? prefix[i + 1] : whole;
    const std::uint64_t tail = whole - head * power[n - 1 - i];
    add(mixed(prefix[i] * power[n - 1 - i] + tail + (n - 1)));
  }
}

using NameKey = std::pair<std::uint64_t, std::uint32_t>;  // (key, name index)

// Equal keys side by side, each run in name order, as sorting would leave them, in a
// fraction of a sort's time: the keys are well-mixed hashes, so a counting pass on their top
// bits leaves about one key in each bucket, and the buckets are put in order one by one.
std::vector<NameKey> grouped(const std::vector<NameKey>& keys) {
  const int bits = std::clamp(static_cast<int>(std::bit_width(keys.size())), 1, 24);
  const int shift = 64 - bits;
  std::vector<std::uint32_t> starts((std::size_t{1} << bits) + 1, 0);
  for (const NameKey& key : keys) ++starts[(key.first >> shift) + 1];
  for (std::size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
  std::vector<NameKey> out(keys.size());
  std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
  for (const NameKey& key : keys) out[next[key.first >> shift]++] = key;  // in name order
  for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
    const auto begin = out.begin() + starts[b];
    const auto end = out.begin() + starts[b + 1];
    if (end - begin > 1) {
      std::stable_sort(begin, end,
                       [](const NameKey& x, const NameKey& y) { return x.first < y.first; });
    }
  }
  return out;
}

}  // namespace

std::vector<std::optional<std::size_t>> nearest_names(std::span<const std::string_view> names) {
  // Every name's keys, sorted: only names that share a key can be one edit apart. A run of
  // one key lists its names in order, so each name's first partner in it is the nearest the
  // run offers; it is usually the run's first name, so a run is not compared pair by pair.
  std::vector<NameKey> unordered;
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    for_each_key(names[i], [&](std::uint64_t key) { unordered.emplace_back(key, i); });
  }
  const std::vector<NameKey> keys = grouped(unordered);
  std::vector<std::optional<std::size_t>> nearest(names.size());
  for (std::size_t begin = 0, end = 0; begin < keys.size(); begin = end) {
    while (end < keys.size() && keys[end].first == keys[begin].first) ++end;
    for (std::size_t b = begin; end - begin > 1 && b < end; ++b) {
      const std::uint32_t j = keys[b].second;
      for (std::size_t a = begin; a < end; ++a) {
        const std::uint32_t i = keys[a].second;
        if (nearest[j] && i >= *nearest[j]) break;
        if (i != j && names[i] != names[j] && one_edit_apart(names[i], names[j])) {
          nearest[j] = i;
          break;
        }
      }
    }
  }
  return nearest;
}

namespace {

// The declared ports of a subcircuit, looked up as often as its instances have nets.
class DeclaredPorts {
 public:
  explicit DeclaredPorts(std::span<const std::string_view> ports) : ports_(ports) {
    constexpr std::size_t kLinearUpTo = 8;
    if (ports.size() <= kLinearUpTo) return;
    for (std::size_t i = 0; i < ports.size(); ++i) index_.try_emplace(ports[i], i);
  }
  std::optional<std::size_t> find(std::string_view net) const {
    if (index_.empty()) {
      const auto at = std::find(ports_.begin(), ports_.end(), net);
      if (at == ports_.end()) return std::nullopt;
      return static_cast<std::size_t>(at - ports_.begin());
    }
    const auto at = index_.find(net);
    if (at == index_.end()) return std::nullopt;
    return at->second;
  }

 private:
  std::span<const std::string_view> ports_;
  std::unordered_map<std::string_view, std::size_t> index_;
};

class DialectChecker {
 public:
  DialectChecker(const DialectSource& source, const std::string& file)
      : source_(source), netlist_(source.netlist), file_(file) {
    pick_live_subcircuits();
  }

  // All on one thread: with the netlist's checks on a second thread beside the text's, the
  // whole took about twice as long at a million lines on a two-core machine.
  std::vector<Finding> run() {
    Components components(netlist_, kit_ports, pdk::get_active_pdk().name, portless());
    std::vector<Issue> issues = check_connectivity(netlist_, components, false);
    for (const SourceSubcircuit* subckt : live_) {
      check_shared_port_nets(*subckt, issues);
      check_undeclared_ports(*subckt, issues);
    }
    check_usage(issues);
    drop_explained_dangling(issues);
    // In line order; the lines are sorted apart from the findings, which are moved once.
    std::vector<std::pair<std::size_t, std::size_t>> order;  // (line, issue)
    order.reserve(issues.size());
    for (std::size_t i = 0; i < issues.size(); ++i) order.emplace_back(line_of(issues[i]), i);
    std::sort(order.begin(), order.end());
    std::vector<Finding> findings;
    findings.reserve(issues.size());
    for (const auto& [line, i] : order) findings.push_back(located(std::move(issues[i]), line));
    return findings;
  }

 private:
  // A name defined twice makes the netlist of its last definition with instances (or, when
  // none has any, of none): that definition is the one checked.
  void pick_live_subcircuits() {
    std::unordered_map<std::string_view, const SourceSubcircuit*> chosen;
    for (const SourceSubcircuit& subckt : source_.subcircuits) {
      const SourceSubcircuit*& slot = chosen[subckt.name];
      if (slot == nullptr || !subckt.elements.empty() || slot->elements.empty()) slot = &subckt;
    }
    for (const SourceSubcircuit& subckt : source_.subcircuits) {
      if (chosen[subckt.name] == &subckt) live_.push_back(&subckt);
    }
    for (const SourceSubcircuit* subckt : live_) by_name_.emplace(subckt->name, subckt);
  }

  // Subcircuits the text defines but the netlist leaves out, having no instances.
  std::vector<std::string_view> portless() const {
    std::vector<std::string_view> names;
    for (const SourceSubcircuit* subckt : live_) {
      if (!netlist_.contains(subckt->name)) names.push_back(subckt->name);
    }
    return names;
  }

  // The reader keeps only the last instance port on a declared port net as that port.
  void check_shared_port_nets(const SourceSubcircuit& subckt, std::vector<Issue>& issues) {
    const DeclaredPorts declared(subckt.ports);
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> touches(subckt.ports.size());
    for (std::size_t e = 0; e < subckt.elements.size(); ++e) {
      const auto nets = subckt.elements[e].nets;
      for (std::size_t position = 0; position < nets.size(); ++position) {
        if (const auto port = declared.find(nets[position])) {
          touches[*port].emplace_back(e, position);
        }
      }
    }
    for (std::size_t port = 0; port < touches.size(); ++port) {
      if (touches[port].size() < 2) continue;
      const std::string_view net = subckt.ports[port];
      const auto [kept_element, kept_position] = touches[port].back();
      const std::string kept = kept_text(subckt, net, kept_element, kept_position);
      for (std::size_t t = 0; t + 1 < touches[port].size(); ++t) {
        const auto [e, position] = touches[port][t];
        const SourceElement& element = subckt.elements[e];
        std::string lost =
            std::string(element.name) + "," + port_at(netlist_, element.component, position);
        issues.push_back(Issue{"shared-port-net",
                               Severity::error,
                               std::string(subckt.name),
                               {},
                               "instance port " + in_quotes(lost) + " is on port net " +
                                   in_quotes(net) + " with " + in_quotes(kept) + " (line " +
                                   std::to_string(subckt.elements[kept_element].line) +
                                   "); only the last one becomes port " + in_quotes(net) + ", so " +
                                   in_quotes(lost) + " is left unconnected",
                               e,
                               lost});
      }
    }
  }

  std::string kept_text(const SourceSubcircuit& subckt, std::string_view net, std::size_t e,
                        std::size_t position) const {
    if (const Map* ports = ports_of(subckt.name)) {
      if (const auto found = ports->find(net); found != ports->end()) {
        return found->second.as_text().str();
      }
    }
    const SourceElement& element = subckt.elements[e];
    return std::string(element.name) + "," + port_at(netlist_, element.component, position);
  }

  const Map* ports_of(std::string_view subcircuit) const {
    const auto found = netlist_.find(subcircuit);
    if (found == netlist_.end()) return nullptr;
    return &found->second.as_map().at("ports").as_map();
  }

  // A net on a single instance port becomes an external port the subcircuit never
  // declared: usually a misspelt net. The net meant is either a declared port or another such
  // net (a net already joining two ports would have three, which the reader refuses).
  void check_undeclared_ports(const SourceSubcircuit& subckt, std::vector<Issue>& issues) {
    const Map* ports = ports_of(subckt.name);
    if (ports == nullptr) return;
    const DeclaredPorts declared(subckt.ports);
    std::vector<std::pair<std::string_view, std::string_view>> undeclared;
    for (const auto& [port, target] : *ports) {
      if (!declared.find(port)) undeclared.emplace_back(port, target.as_string());
    }
    if (undeclared.empty()) return;
    // Declared ports first: of two names as near, the declared one is meant.
    std::vector<std::string_view> names(subckt.ports.begin(), subckt.ports.end());
    for (const auto& [net, target] : undeclared) names.push_back(net);
    const auto nearest = nearest_names(names);
    const Map& instances = netlist_.at(subckt.name).as_map().at("instances").as_map();
    for (std::size_t u = 0; u < undeclared.size(); ++u) {
      const auto& [net, target] = undeclared[u];
      const auto meant = nearest[subckt.ports.size() + u];
      // Any two one-letter names are one edit apart: no hint worth giving.
      const bool hint = meant && std::max(names[*meant].size(), net.size()) >= 2;
      std::string message = concatenated(
          {"net '", net, "' is on '", target, "' alone, so it becomes port '", net, "', which '",
           subckt.name, "' does not declare", hint ? "; did you mean '" : "",
           hint ? names[*meant] : "", hint ? "'?" : ""});
      const auto instance = instances.find(target.substr(0, target.find(',')));
      issues.push_back(Issue{"undeclared-port",
                             Severity::warning,
                             std::string(subckt.name),
                             {},
                             std::move(message),
                             instance == instances.end()
                                 ? std::nullopt
                                 : std::optional<std::size_t>(instance - instances.begin()),
                             std::string(target)});
    }
  }

  void check_usage(std::vector<Issue>& issues) const {
    std::unordered_set<std::string_view> used;
    std::string_view last;
    for (const SourceSubcircuit& subckt : source_.subcircuits) {
      for (const SourceElement& element : subckt.elements) {
        if (element.component != last) used.insert(element.component);
        last = element.component;
      }
    }
    const std::string_view top =
        netlist_.empty() ? std::string_view() : netlist_.begin()->first.view();
    for (const SourceSubcircuit* subckt : live_) {
      if (subckt->name != top && !used.contains(subckt->name)) {
        issues.push_back(Issue{"unused-subcircuit",
                               Severity::warning,
                               std::string(subckt->name),
                               {},
                               "subcircuit " + in_quotes(subckt->name) +
                                   " is never used and is not the top" +
                                   (top.empty() ? "" : " (" + in_quotes(top) + ")"),
                               std::nullopt,
                               {}});
      }
      if (subckt->elements.empty()) {
        issues.push_back(Issue{"empty-subcircuit",
                               Severity::warning,
                               std::string(subckt->name),
                               {},
                               "subcircuit " + in_quotes(subckt->name) +
                                   " has no instances, so the netlist leaves it out",
                               std::nullopt,
                               {}});
      }
    }
  }

  // An instance port left unconnected by a shared port net is reported once, as that.
  static void drop_explained_dangling(std::vector<Issue>& issues) {
    std::unordered_set<std::string> explained;
    for (const Issue& issue : issues) {
      if (issue.check == "shared-port-net")
        explained.insert(issue.subcircuit + "\n" + issue.instance_port);
    }
    if (explained.empty()) return;
    std::erase_if(issues, [&](const Issue& issue) {
      return issue.check == "dangling-port" &&
             explained.contains(issue.subcircuit + "\n" + issue.instance_port);
    });
  }

  Finding located(Issue issue, std::size_t line) const {
    Finding finding;
    finding.file = file_;
    finding.line = line;
    finding.severity = issue.severity;
    finding.check = std::string(issue.check);
    finding.subcircuit = std::move(issue.subcircuit);
    finding.message = std::move(issue.message);
    return finding;
  }

  // The instance's element line, else the subcircuit's definition.
  std::size_t line_of(const Issue& issue) const {
    const auto found = by_name_.find(issue.subcircuit);
    if (found == by_name_.end()) return 0;
    const SourceSubcircuit& subckt = *found->second;
    if (!issue.instance || *issue.instance >= subckt.elements.size()) return subckt.line;
    return subckt.elements[*issue.instance].line;
  }

  const DialectSource& source_;
  const RecursiveNetlist& netlist_;
  const std::string& file_;
  std::vector<const SourceSubcircuit*> live_;
  std::unordered_map<std::string_view, const SourceSubcircuit*> by_name_;
};

}  // namespace

std::vector<Finding> check_dialect_source(const DialectSource& source, const std::string& file) {
  return DialectChecker(source, file).run();
}

}  // namespace orvelle::check::detail
