// The checks of a dialect text: those of its recursive netlist, located at source lines, and
// those only the text can show (where the reader's rules hide a mistake).

#include <algorithm>
#include <bit>
#include <future>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "orvelle/core/check/detail.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::check::detail {

DeclaredPorts::DeclaredPorts(std::span<const std::string_view> ports) : ports_(ports) {
  constexpr std::size_t kLinearUpTo = 8;
  if (ports.size() <= kLinearUpTo) return;
  for (std::size_t i = 0; i < ports.size(); ++i) index_.try_emplace(ports[i], i);
}

std::optional<std::size_t> DeclaredPorts::find(std::string_view net) const {
  if (index_.empty()) {
    for (std::size_t i = 0; i < ports_.size(); ++i) {
      if (same_name(ports_[i], net)) return i;
    }
    return std::nullopt;
  }
  const auto at = index_.find(net);
  if (at == index_.end()) return std::nullopt;
  return at->second;
}

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

// Moves `from` into `to` grouped by `bits` bits of the key from bit `shift` up, keeping the
// order within each group (a counting sort's pass); `groups` gets each group's start, and
// its end last.
void partition(std::span<const NameKey> from, std::span<NameKey> to, int shift, int bits,
               std::vector<std::uint32_t>& groups) {
  const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
  groups.assign((std::size_t{1} << bits) + 1, 0);
  for (const NameKey& key : from) ++groups[((key.first >> shift) & mask) + 1];
  for (std::size_t g = 1; g < groups.size(); ++g) groups[g] += groups[g - 1];
  std::vector<std::uint32_t> next(groups.begin(), groups.end() - 1);
  for (const NameKey& key : from) to[next[(key.first >> shift) & mask]++] = key;
}

// Equal keys side by side, each run in name order, as a stable sort would leave them, in a
// fraction of its time. The keys are well-mixed hashes: a first pass on their top 8 bits
// leaves groups that fit in the cache, a second pass on the next bits leaves about one key
// in each subgroup, and the subgroups are put in order one by one.
std::vector<NameKey> grouped(std::vector<NameKey> keys) {
  constexpr int kFirstBits = 8;
  std::vector<NameKey> out(keys.size());
  std::vector<std::uint32_t> groups;
  partition(keys, out, 64 - kFirstBits, kFirstBits, groups);
  std::vector<std::uint32_t> subgroups;
  for (std::size_t g = 0; g + 1 < groups.size(); ++g) {
    const std::span<NameKey> group(out.data() + groups[g], groups[g + 1] - groups[g]);
    if (group.size() < 2) continue;
    const int bits = std::clamp(static_cast<int>(std::bit_width(group.size())), 1, 24);
    const std::span<NameKey> scratch(keys.data(), group.size());
    partition(group, scratch, 64 - kFirstBits - bits, bits, subgroups);
    for (std::size_t b = 0; b + 1 < subgroups.size(); ++b) {
      const auto begin = scratch.begin() + subgroups[b];
      const auto end = scratch.begin() + subgroups[b + 1];
      if (end - begin > 1) {
        std::stable_sort(begin, end,
                         [](const NameKey& x, const NameKey& y) { return x.first < y.first; });
      }
    }
    std::copy(scratch.begin(), scratch.end(), group.begin());
  }
  return out;
}

}  // namespace

std::vector<std::optional<std::size_t>> nearest_names(std::span<const std::string_view> names) {
  // Every name's keys, sorted: only names that share a key can be one edit apart. A run of
  // one key lists its names in order, so each name's first partner in it is the nearest the
  // run offers; it is usually the run's first name, so a run is not compared pair by pair.
  std::size_t key_count = 0;
  for (const std::string_view name : names) key_count += name.size() < 64 ? name.size() + 1 : 1;
  std::vector<NameKey> unordered;
  unordered.reserve(key_count);
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    for_each_key(names[i], [&](std::uint64_t key) { unordered.emplace_back(key, i); });
  }
  const std::vector<NameKey> keys = grouped(std::move(unordered));
  // Indices, not optionals, so that the table stays in the cache while runs jump about it.
  constexpr std::uint32_t kNone = UINT32_MAX;  // above every index
  std::vector<std::uint32_t> found(names.size(), kNone);
  for (std::size_t begin = 0, end = 0; begin < keys.size(); begin = end) {
    while (end < keys.size() && keys[end].first == keys[begin].first) ++end;
    for (std::size_t b = begin; end - begin > 1 && b < end; ++b) {
      const std::uint32_t j = keys[b].second;
      for (std::size_t a = begin; a < end && keys[a].second < found[j]; ++a) {
        const std::uint32_t i = keys[a].second;
        if (i != j && !same_name(names[i], names[j]) && one_edit_apart(names[i], names[j])) {
          found[j] = i;
        }
      }
    }
  }
  std::vector<std::optional<std::size_t>> nearest(names.size());
  for (std::size_t j = 0; j < names.size(); ++j) {
    if (found[j] != kNone) nearest[j] = found[j];
  }
  return nearest;
}

namespace {

// Sorts `items` by merging its ascending runs, pairwise until one is left: linear for the
// few long runs the checks make (each check reports in line order), n log n at worst.
template <class T>
void sort_by_runs(std::vector<T>& items) {
  std::vector<std::size_t> bounds = {0};  // where each run starts, and the end
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (items[i] < items[i - 1]) bounds.push_back(i);
  }
  bounds.push_back(items.size());
  while (bounds.size() > 2) {
    std::vector<std::size_t> merged = {0};
    for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
      const std::size_t end = r + 2 < bounds.size() ? bounds[r + 2] : bounds[r + 1];
      if (r + 2 < bounds.size()) {
        std::inplace_merge(items.begin() + static_cast<std::ptrdiff_t>(bounds[r]),
                           items.begin() + static_cast<std::ptrdiff_t>(bounds[r + 1]),
                           items.begin() + static_cast<std::ptrdiff_t>(end));
      }
      merged.push_back(end);
    }
    bounds = std::move(merged);
  }
}

// Runs `work` on a thread of its own, or here and now when no thread is to be had (the
// future is then empty).
template <class Work>
std::future<void> on_another_thread(Work work) {
  try {
    return std::async(std::launch::async, work);
  } catch (const std::system_error&) {
    work();
    return {};
  }
}

class DialectChecker {
 public:
  DialectChecker(const DialectSource& source, const std::string& file)
      : source_(source), netlist_(source.netlist), file_(file) {
    pick_live_subcircuits();
  }

  std::vector<Finding> run() {
    // The shared port nets are found first: they explain some dangling ports, which are then
    // not reported again.
    std::vector<std::vector<SharedPortNet>> shared;
    for (const SourceSubcircuit* subckt : live_) shared.push_back(shared_port_nets(*subckt));
    Components components(netlist_, kit_ports, pdk::get_active_pdk().name, portless());
    Connectivity connectivity(netlist_, components, false, explained_by(shared));
    // The netlist's checks and the text's share nothing they change, so they run side by
    // side; then the dangling ports, most of the findings, are shared out between the two.
    Report uses(file_);
    Report text(file_);
    Report dangling(file_);
    Report dangling_later(file_);
    std::future<void> beside = on_another_thread([&] { connectivity.check_uses(uses); });
    for (std::size_t s = 0; s < live_.size(); ++s) {
      for (SharedPortNet& found : shared[s]) {
        text.add("shared-port-net", Severity::error, live_[s]->name, {}, std::move(found.message),
                 found.element);
      }
      check_undeclared_ports(*live_[s], text);
    }
    check_usage(text);
    if (beside.valid()) beside.get();
    beside = on_another_thread([&] { connectivity.report_dangling(1, 2, dangling_later); });
    connectivity.report_dangling(0, 2, dangling);
    if (beside.valid()) beside.get();
    return in_line_order({&uses, &dangling, &dangling_later, &text});
  }

 private:
  // An instance port the reader leaves unconnected because a later one took its port net.
  struct SharedPortNet {
    std::size_t element;
    std::string lost;  // its instance-port text
    std::string message;
  };

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
  std::vector<SharedPortNet> shared_port_nets(const SourceSubcircuit& subckt) const {
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> touches(subckt.ports.size());
    for (const PortNetUse& use : subckt.port_net_uses) {
      touches[use.port].emplace_back(use.element, use.position);
    }
    std::vector<SharedPortNet> found;
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
        std::string message = "instance port " + in_quotes(lost) + " is on port net " +
                              in_quotes(net) + " with " + in_quotes(kept) + " (line " +
                              std::to_string(subckt.elements[kept_element].line) +
                              "); only the last one becomes port " + in_quotes(net) + ", so " +
                              in_quotes(lost) + " is left unconnected";
        found.push_back(SharedPortNet{e, std::move(lost), std::move(message)});
      }
    }
    return found;
  }

  // An instance port left unconnected by a shared port net is reported once, as that.
  Explained explained_by(const std::vector<std::vector<SharedPortNet>>& shared) const {
    auto lost = std::make_shared<std::unordered_set<std::string>>();
    for (std::size_t s = 0; s < live_.size(); ++s) {
      for (const SharedPortNet& found : shared[s]) {
        lost->insert(concatenated({live_[s]->name, "\n", found.lost}));
      }
    }
    if (lost->empty()) return {};
    return [lost](std::string_view subcircuit, std::string_view instance, std::string_view port) {
      return lost->contains(concatenated({subcircuit, "\n", instance, ",", port}));
    };
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
  void check_undeclared_ports(const SourceSubcircuit& subckt, Report& report) const {
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
    InstanceFinder instances(netlist_.at(subckt.name).as_map().at("instances").as_map());
    for (std::size_t u = 0; u < undeclared.size(); ++u) {
      const auto& [net, target] = undeclared[u];
      const auto meant = nearest[subckt.ports.size() + u];
      // Any two one-letter names are one edit apart: no hint worth giving.
      const bool hint = meant && std::max(names[*meant].size(), net.size()) >= 2;
      std::string message = concatenated(
          {"net '", net, "' is on '", target, "' alone, so it becomes port '", net, "', which '",
           subckt.name, "' does not declare", hint ? "; did you mean '" : "",
           hint ? names[*meant] : "", hint ? "'?" : ""});
      report.add("undeclared-port", Severity::warning, subckt.name, {}, std::move(message),
                 instances.find(target.substr(0, target.find(','))));
    }
  }

  void check_usage(Report& report) const {
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
        report.add("unused-subcircuit", Severity::warning, subckt->name, {},
                   "subcircuit " + in_quotes(subckt->name) + " is never used and is not the top" +
                       (top.empty() ? "" : " (" + in_quotes(top) + ")"));
      }
      if (subckt->elements.empty()) {
        report.add("empty-subcircuit", Severity::warning, subckt->name, {},
                   "subcircuit " + in_quotes(subckt->name) +
                       " has no instances, so the netlist leaves it out");
      }
    }
  }

  // The findings at their source lines, in line order; within a line, in the order made.
  std::vector<Finding> in_line_order(std::initializer_list<Report*> reports) const {
    std::vector<std::pair<std::size_t, std::size_t>> order;  // (line, finding)
    std::vector<Finding*> made;
    for (Report* report : reports) {
      const SourceSubcircuit* subckt = nullptr;
      for (std::size_t i = 0; i < report->size(); ++i) {
        Finding& finding = (*report)[i];
        // Findings come in runs of one subcircuit.
        if (subckt == nullptr || subckt->name != finding.subcircuit) {
          const auto found = by_name_.find(finding.subcircuit);
          subckt = found == by_name_.end() ? nullptr : found->second;
        }
        finding.line = line_of(subckt, report->instance(i));
        order.emplace_back(finding.line, made.size());
        made.push_back(&finding);
      }
    }
    sort_by_runs(order);
    std::vector<Finding> ordered;
    ordered.reserve(order.size());
    for (const auto& [line, i] : order) ordered.push_back(std::move(*made[i]));
    return ordered;
  }

  // The instance's element line, else the subcircuit's definition.
  static std::size_t line_of(const SourceSubcircuit* subckt, std::optional<std::size_t> instance) {
    if (subckt == nullptr) return 0;
    if (!instance || *instance >= subckt->elements.size()) return subckt->line;
    return subckt->elements[*instance].line;
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
