// What the checker needs from the reader, and the only file that knows the reader's inner
// stages: the statements of a dialect text as written (with their source lines), watched
// during the reader's one reading, the recursive netlist exactly as netweave makes it, and
// the reader's port naming.

#include <algorithm>
#include <cstring>
#include <deque>
#include <span>
#include <unordered_map>
#include <unordered_set>

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

// Views kept in blocks that never move, so that each element's nets are a span from the
// start, however many elements follow.
class ViewStore {
 public:
  template <class Views>
  std::span<const std::string_view> keep(const Views& views, TextStore& texts,
                                         std::string_view text) {
    const std::size_t n = std::size(views);
    if (blocks_.empty() || used_ + n > capacity_) {
      capacity_ = std::max(kBlock, n);
      blocks_.push_back(std::make_unique<std::string_view[]>(capacity_));
      used_ = 0;
    }
    std::string_view* at = blocks_.back().get() + used_;
    std::size_t i = 0;
    for (const std::string_view view : views) at[i++] = kept(view, texts, text);
    used_ += n;
    return {at, n};
  }

  // Most names are views of the text itself, which outlives the records: only those of
  // lines the reader had to rewrite (joined, respaced) are copied.
  static std::string_view kept(std::string_view name, TextStore& texts, std::string_view text) {
    const std::less_equal<const char*> not_after;
    if (not_after(text.data(), name.data()) &&
        not_after(name.data() + name.size(), text.data() + text.size())) {
      return name;
    }
    return texts.keep(name);
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;
  std::vector<std::unique_ptr<std::string_view[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
};

struct Storage {
  TextStore texts;
  ViewStore views;  // nets of elements and ports of subcircuits
  std::unordered_set<std::string> components;
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
    storage_.elements.push_back(SourceElement{
        kept(element.name), component(element.component),
        storage_.views.keep(element.nets, storage_.texts, text_), element.source_line});
  }

  void subckt_closed(const Subckt& subckt) override {
    subckts_.push_back(PendingSubckt{kept(subckt.component), keep_ports(subckt.ports),
                                     opened_on_.at(subckt.id), assigned_,
                                     storage_.elements.size()});
    assigned_ = storage_.elements.size();
  }

  // The records, their spans of elements made once no element is added any more.
  std::vector<SourceSubcircuit> finish() {
    const SourceElement* elements = storage_.elements.data();
    std::vector<SourceSubcircuit> subckts;
    subckts.reserve(subckts_.size());
    for (const PendingSubckt& s : subckts_) {
      subckts.push_back(
          SourceSubcircuit{s.name, s.ports, s.line, {elements + s.first, s.end - s.first}});
    }
    return subckts;
  }

 private:
  struct PendingSubckt {
    std::string_view name;
    std::span<const std::string_view> ports;
    std::size_t line;
    std::size_t first;
    std::size_t end;
  };

  std::span<const std::string_view> keep_ports(const std::vector<std::string>& ports) {
    std::vector<std::string_view> views(ports.begin(), ports.end());
    return storage_.views.keep(views, storage_.texts, text_);
  }

  std::string_view kept(std::string_view name) {
    return ViewStore::kept(name, storage_.texts, text_);
  }

  // The reader hands the component over as a string of its own; the few distinct ones are
  // kept once each, and neighbouring elements mostly share one.
  std::string_view component(const std::string& name) {
    if (name != last_component_) {
      last_component_ = *storage_.components.insert(name).first;
    }
    return last_component_;
  }

  Storage& storage_;
  std::string_view text_;
  std::unordered_map<std::int64_t, std::size_t> opened_on_;  // block id -> its source line
  std::vector<PendingSubckt> subckts_;
  std::size_t assigned_ = 0;
  std::string_view last_component_;
};

}  // namespace

DialectSource read_dialect(std::string_view text, const Map& kwargs) {
  DialectSource source;
  auto storage = std::make_shared<Storage>();
  // The reading thread writes the records while this one assembles: on this thread's stack,
  // beside the assembly's own state, they shared its cache lines and slowed both sides.
  auto records = std::make_unique<RecordObserver>(*storage, text);
  source.netlist = nw::read_netlist(text, {}, {}, kwargs, {}, records.get());
  source.subcircuits = records->finish();
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
