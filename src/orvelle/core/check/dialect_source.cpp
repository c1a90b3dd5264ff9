// What the checker needs from the reader, and the only file that knows the reader's inner
// stages: the statements of a dialect text as written (with their source lines), watched
// during the reader's one reading, the recursive netlist exactly as netweave makes it, and
// the reader's port naming.

#include <algorithm>
#include <cstring>
#include <deque>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "orvelle/core/check/detail.hpp"
#include "orvelle/core/netweave/ports.hpp"
#include "orvelle/core/netweave/renames.hpp"
#include "orvelle/core/netweave/scheduling.hpp"
#include "orvelle/core/netweave/source.hpp"

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

// Views kept in blocks that never move, so that a span handed out stays valid however many
// follow.
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
  ViewStore views;  // the declared ports of subcircuits, and nets waiting for their block
  std::unordered_set<std::string> components;
  std::vector<SourceElement> elements;
  std::vector<PortNetUse> port_net_uses;
};

// Collects the statements as the reader reads them. A subcircuit's elements are every
// element read since the previous ".ends": always the latest run of elements, joining the
// block that ".ends" closes, the innermost open one.
//
// Of the nets, only the uses of a declared port net of their subcircuit are kept: a large
// text has millions of nets. As read, an element's nets are looked up in the ports of the
// innermost open block, the block it joins unless another block opens before the next
// ".ends". In that rare case (a block inside a block, after elements of the outer one) the
// lookups were made in the wrong ports; a second reading then keeps each element's nets
// until its block closes.
class RecordObserver final : public nw::StatementObserver {
 public:
  enum class Nets { looked_up_as_read, kept_until_closed };

  RecordObserver(Storage& storage, std::string_view text, Nets nets)
      : storage_(storage), text_(text), nets_(nets) {}

  // Whether the records are wrong and the text must be read again, keeping the nets.
  bool looked_up_too_early() const noexcept { return looked_up_too_early_; }

  void subckt_opened(const Subckt& subckt, std::size_t source_line) override {
    if (storage_.elements.size() > assigned_) looked_up_too_early_ = true;
    const std::span<const std::string_view> ports = keep_ports(subckt.ports);
    open_.push_back(OpenBlock{source_line, ports, DeclaredPorts(ports)});
  }

  void element(const nw::Element& element) override {
    const std::size_t index = storage_.elements.size();
    storage_.elements.push_back(
        SourceElement{kept(element.name), component(element.component), element.source_line});
    if (nets_ == Nets::kept_until_closed) {
      waiting_.push_back(storage_.views.keep(element.nets, storage_.texts, text_));
    } else if (!open_.empty()) {
      look_up(element.nets, index, open_.back().declared);
    }
  }

  void subckt_closed(const Subckt& subckt) override {
    const OpenBlock block = std::move(open_.back());  // the reader closes the innermost
    open_.pop_back();
    for (std::size_t w = 0; w < waiting_.size(); ++w) {
      look_up(waiting_[w], assigned_ + w, block.declared);
    }
    waiting_.clear();
    subckts_.push_back(PendingSubckt{kept(subckt.component), block.ports, block.line, assigned_,
                                     storage_.elements.size(), uses_assigned_,
                                     storage_.port_net_uses.size()});
    assigned_ = storage_.elements.size();
    uses_assigned_ = storage_.port_net_uses.size();
  }

  // The records, their spans made once nothing grows any more.
  std::vector<SourceSubcircuit> finish() {
    const SourceElement* elements = storage_.elements.data();
    PortNetUse* uses = storage_.port_net_uses.data();
    std::vector<SourceSubcircuit> subckts;
    subckts.reserve(subckts_.size());
    for (const PendingSubckt& s : subckts_) {
      for (std::size_t u = s.first_use; u < s.end_use; ++u) uses[u].element -= s.first;
      subckts.push_back(SourceSubcircuit{s.name,
                                         s.ports,
                                         s.line,
                                         {elements + s.first, s.end - s.first},
                                         {uses + s.first_use, s.end_use - s.first_use}});
    }
    return subckts;
  }

 private:
  struct OpenBlock {
    std::size_t line;
    std::span<const std::string_view> ports;
    DeclaredPorts declared;
  };
  struct PendingSubckt {
    std::string_view name;
    std::span<const std::string_view> ports;
    std::size_t line;
    std::size_t first;  // elements [first, end)
    std::size_t end;
    std::size_t first_use;  // port net uses [first_use, end_use)
    std::size_t end_use;
  };

  template <class Nets>
  void look_up(const Nets& nets, std::size_t element, const DeclaredPorts& declared) {
    std::uint32_t position = 0;
    for (const std::string_view net : nets) {
      if (const auto port = declared.find(net)) {
        storage_.port_net_uses.push_back(
            PortNetUse{element, position, static_cast<std::uint32_t>(*port)});
      }
      ++position;
    }
  }

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
  Nets nets_;
  bool looked_up_too_early_ = false;
  std::vector<OpenBlock> open_;
  std::vector<std::span<const std::string_view>> waiting_;  // nets of elements since ".ends"
  std::vector<PendingSubckt> subckts_;
  std::size_t assigned_ = 0;
  std::size_t uses_assigned_ = 0;
  std::string_view last_component_;
};

DialectSource read_with(std::string_view text, const Map& kwargs, RecordObserver::Nets nets,
                        bool& looked_up_too_early) {
  DialectSource source;
  auto storage = std::make_shared<Storage>();
  // The reading thread writes the records while this one assembles: on this thread's stack,
  // beside the assembly's own state, they shared its cache lines and slowed both sides.
  auto records = std::make_unique<RecordObserver>(*storage, text, nets);
  source.netlist = nw::read_netlist(text, {}, {}, kwargs, {}, records.get());
  looked_up_too_early = records->looked_up_too_early();
  source.subcircuits = records->finish();
  source.texts = std::move(storage);
  return source;
}

}  // namespace

std::string read_file(const std::string& path) {
  try {
    return nw::read_file(path);
  } catch (const nw::FileError& error) {
    const bool opening = error.step() == nw::FileError::Step::open;
    throw std::runtime_error((opening ? "cannot open the file: " : "cannot read the file: ") +
                             error.code().message());
  }
}

DialectSource read_dialect(std::string_view text, const Map& kwargs) {
  bool again = false;
  DialectSource source = read_with(text, kwargs, RecordObserver::Nets::looked_up_as_read, again);
  if (!again) return source;
  // The reader's warnings reached the handler once already.
  std::vector<std::string> warned_already;
  const WarningCapture capture(warned_already);
  return read_dialect_keeping_nets(text, kwargs);
}

DialectSource read_dialect_keeping_nets(std::string_view text, const Map& kwargs) {
  bool again = false;
  return read_with(text, kwargs, RecordObserver::Nets::kept_until_closed, again);
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
