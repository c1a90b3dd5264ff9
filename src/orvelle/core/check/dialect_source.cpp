// What the checker needs from the reader, and the only file that knows the reader's inner
// stages: the statements of a dialect text as written (with their source lines), watched
// during the reader's one reading, the recursive netlist exactly as netweave makes it, and
// the reader's port naming.

#include <charconv>
#include <cstring>
#include <deque>

#include <unordered_map>

#include "orvelle/core/check/detail.hpp"
#include "orvelle/core/netweave/ports.hpp"
#include "orvelle/core/netweave/renames.hpp"
#include "orvelle/core/netweave/scheduling.hpp"

namespace orvelle::check::detail {

namespace nw = orvelle::core::netweave::detail;

namespace {

// Copies of the texts the records point at, in blocks that never move.
class TextStore {
 public:
  std::string_view keep(std::string_view text) {
    if (text.size() > kBlock / 4) return big_.emplace_back(text);
    if (blocks_.empty() || used_ + text.size() > kBlock) {
      blocks_.push_back(std::make_unique<char[]>(kBlock));
      used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
  }

 private:
  static constexpr std::size_t kBlock = 1 << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
  std::deque<std::string> big_;
};

struct Storage {
  TextStore texts;
  std::vector<std::string_view> names;  // nets of elements and ports of subcircuits
  std::vector<SourceElement> elements;
};

// Collects the statements as the reader reads them. A subcircuit's elements are every
// element read since the previous ".ends", so they are always the latest run of elements.
class RecordObserver final : public nw::StatementObserver {
 public:
  RecordObserver(Storage& storage, std::string_view text) : storage_(storage), text_(text) {}

  void subckt_opened(const Subckt& subckt, std::size_t source_line) override {
    opened_on_.insert_or_assign(subckt.id, source_line);
  }

  void element(const nw::Element& element) override {
    elements_.push_back(
        Pending{kept(element.name), kept(element.component), keep_names(element.nets),
                static_cast<std::uint32_t>(element.nets.size()), element.source_line});
  }

  void subckt_closed(const Subckt& subckt) override {
    std::vector<std::string_view> ports(subckt.ports.begin(), subckt.ports.end());
    subckts_.push_back(PendingSubckt{kept(subckt.component), keep_names(ports),
                                     static_cast<std::uint32_t>(ports.size()),
                                     opened_on_.at(subckt.id), assigned_, elements_.size()});
    assigned_ = elements_.size();
  }

  // The records, their views made once nothing grows any more.
  std::vector<SourceSubcircuit> finish() {
    auto& names = storage_.names;
    auto& elements = storage_.elements;
    elements.reserve(elements_.size());
    for (const Pending& e : elements_) {
      elements.push_back(
          SourceElement{e.name, e.component, {names.data() + e.first, e.count}, e.line});
    }
    std::vector<SourceSubcircuit> subckts;
    subckts.reserve(subckts_.size());
    for (const PendingSubckt& s : subckts_) {
      subckts.push_back(SourceSubcircuit{s.name,
                                         {names.data() + s.first_port, s.port_count},
                                         s.line,
                                         {elements.data() + s.first, s.end - s.first}});
    }
    return subckts;
  }

 private:
  struct Pending {
    std::string_view name;
    std::string_view component;
    std::size_t first;
    std::uint32_t count;
    std::size_t line;
  };
  struct PendingSubckt {
    std::string_view name;
    std::size_t first_port;
    std::uint32_t port_count;
    std::size_t line;
    std::size_t first;
    std::size_t end;
  };

  template <class Names>
  std::size_t keep_names(const Names& names) {
    const std::size_t first = storage_.names.size();
    for (const std::string_view name : names) storage_.names.push_back(kept(name));
    return first;
  }

  // Most names are views of the text itself, which outlives the records: only those of
  // lines the reader had to rewrite (joined, respaced) are copied.
  std::string_view kept(std::string_view name) {
    const std::less_equal<const char*> not_after;
    if (not_after(text_.data(), name.data()) &&
        not_after(name.data() + name.size(), text_.data() + text_.size())) {
      return name;
    }
    return storage_.texts.keep(name);
  }

  Storage& storage_;
  std::string_view text_;
  std::unordered_map<std::int64_t, std::size_t> opened_on_;  // block id -> its source line
  std::vector<Pending> elements_;
  std::vector<PendingSubckt> subckts_;
  std::size_t assigned_ = 0;
};

}  // namespace

DialectSource read_dialect(std::string_view text, const Map& kwargs) {
  DialectSource source;
  auto storage = std::make_shared<Storage>();
  RecordObserver records(*storage, text);
  source.netlist = nw::read_netlist(text, {}, {}, kwargs, {}, &records);
  source.subcircuits = records.finish();
  source.texts = std::move(storage);
  return source;
}

std::shared_ptr<const std::vector<std::string>> kit_ports(std::string_view component) {
  return nw::get_ports(component);
}

std::string port_at(const RecursiveNetlist& netlist, std::string_view component,
                    std::size_t position) {
  const std::string port = nw::get_port(*nw::get_ports(component), position);
  const auto subcircuit = netlist.find(component);
  if (subcircuit == netlist.end()) return port;
  return std::string(nw::renamed_port(&subcircuit->second.as_map().at("ports").as_map(), port));
}

}  // namespace orvelle::check::detail
