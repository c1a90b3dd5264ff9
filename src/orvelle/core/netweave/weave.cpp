// The one-pass reader: text straight to the recursive netlist, each element assembled as it
// is read, with no intermediate records and no renaming pass over the finished netlists.

#include <unordered_map>

#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::detail {

namespace {

struct WovenNetlist {
  std::string name;
  NetlistBuilder builder;
  Map settings;
  Map port_names;  // the external ports, kept apart: the builder gives its own up when done
};

// An element kept back for one line, so that its slots in the large tables are fetched
// while the next line is read. Its texts are copied into storage that is reused.
class HeldElement {
 public:
  bool held() const noexcept { return held_; }

  void hold(Element& element, std::string_view comment) {
    std::size_t size = element.name.size() + element.component.size() + comment.size();
    for (const std::string_view net : element.nets) size += net.size();
    bytes_.clear();
    bytes_.reserve(size);  // the views below point into it: no reallocation while filling
    name_ = keep(element.name);
    component_ = keep(element.component);
    comment_ = keep(comment);
    nets_.clear();
    for (const std::string_view net : element.nets) nets_.push_back(keep(net));
    settings_ = std::move(element.settings);
    held_ = true;
  }

  void add_to(NetlistBuilder& builder) {
    held_ = false;
    builder.add_child(name_, component_, nets_, std::move(settings_), comment_);
  }

 private:
  std::string_view keep(std::string_view text) {
    const std::size_t at = bytes_.size();
    bytes_.append(text);
    return std::string_view(bytes_).substr(at);
  }

  bool held_ = false;
  std::string bytes_;
  std::string_view name_;
  std::string_view component_;
  std::string_view comment_;
  std::vector<std::string_view> nets_;
  Map settings_;
};

class Weaver final : public StatementSink {
 public:
  explicit Weaver(const Map& settings_keymap) : settings_keymap_(settings_keymap) {}

  void comment(std::int64_t id, std::string_view text) override {
    comment_id_ = id;
    comment_ = text;
  }

  // Elements read before an inner block opens belong to that block, whose ports were not
  // known while they were assembled.
  void subckt_opened(const Subckt&) override {
    if (batch_) throw StagedReadingNeeded{};
  }

  void element(Element element, const Subckt& parent) override {
    // The normaliser refuses these; the staged reader reports them as it does.
    if (element.component.empty() || element.name.find(',') != std::string_view::npos) {
      throw StagedReadingNeeded{};
    }
    if (!batch_) batch_.emplace(parent, settings_keymap_);
    batch_->prefetch(element.name, element.nets);
    add_held();
    held_.hold(element, comment_id_ == element.id ? comment_ : std::string_view());
  }

  void subckt_closed(Subckt subckt) override {
    if (!batch_) return;  // no children: no netlist
    add_held();
    batch_->close();
    assembly_warnings_.insert(assembly_warnings_.end(), batch_warnings_.begin(),
                              batch_warnings_.end());
    batch_warnings_.clear();
    WovenNetlist woven{subckt.component,
                       std::move(*batch_),
                       patch_settings(subckt.settings, settings_keymap_),
                       {}};
    batch_.reset();
    woven.port_names = woven.builder.ports();
    const auto [at, fresh] = positions_.try_emplace(woven.name, netlists_.size());
    if (fresh) {
      netlists_.push_back(std::move(woven));
    } else {  // a later block of the same name replaces the earlier one in its place
      netlists_[at->second] = std::move(woven);
    }
  }

  RecursiveNetlist finish() {
    batch_.reset();  // a block that never closed: its children are in no netlist
    const SubcircuitPorts renames = [this](std::string_view component) -> const Map* {
      const auto found = positions_.find(component);
      return found == positions_.end() ? nullptr : &netlists_[found->second].port_names;
    };
    RecursiveNetlist result;
    result.reserve(netlists_.size());
    for (std::size_t i = netlists_.size(); i-- > 0;) {
      WovenNetlist& woven = netlists_[i];
      result.emplace(woven.name,
                     std::move(woven.builder).finish(std::move(woven.settings), &renames));
    }
    return result;
  }

  std::vector<std::string>& assembly_warnings() { return assembly_warnings_; }

 private:
  void add_held() {
    if (!held_.held()) return;
    // Location comments are read during assembly in the staged reader, after every other
    // warning, and not at all for a block that never closes.
    const WarningCapture capture(batch_warnings_);
    held_.add_to(*batch_);
  }

  const Map& settings_keymap_;
  std::int64_t comment_id_ = 0;
  std::string_view comment_;
  std::optional<NetlistBuilder> batch_;  // the netlist of the block the next ".ends" closes
  HeldElement held_;                     // the batch's latest element, not yet added
  std::vector<std::string> batch_warnings_;
  std::vector<std::string> assembly_warnings_;
  std::vector<WovenNetlist> netlists_;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> positions_;
};

}  // namespace

std::optional<RecursiveNetlist> weave_text(std::string_view content, const Map& settings_keymap,
                                           const Map& component_map, const Map& kwargs) {
  if (!is_valid_utf8(content)) return std::nullopt;
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  std::vector<std::string> warnings;
  std::optional<RecursiveNetlist> result;
  try {
    const WarningCapture capture(warnings);
    Weaver weaver(settings_keymap);
    const auto lines = iter_relevant_lines(content);
    parse_statements(*lines, weaver, component_map, kwargs);
    result = weaver.finish();
    auto& late = weaver.assembly_warnings();
    warnings.insert(warnings.end(), late.begin(), late.end());
  } catch (...) {  // the staged reader reads it again, and fails as it should
    return std::nullopt;
  }
  for (auto& message : warnings) warn(std::move(message));
  return result;
}

}  // namespace orvelle::detail
