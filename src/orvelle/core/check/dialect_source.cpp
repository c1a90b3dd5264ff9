// What the checker needs from the reader, and the only file that knows the reader's inner
// stages: the statements of a dialect text as written (with their source lines), the
// recursive netlist exactly as netweave makes it, and the reader's port naming.
//
// Today the text is read twice: once by netweave's own fast path for the netlist, once by
// the statement parser alone for the records. A reader that lets a caller watch the
// statements of its one reading would make the second pass unnecessary.

#include <charconv>
#include <cstring>
#include <deque>

#include "orvelle/core/check/detail.hpp"
#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::check::detail {

namespace nw = orvelle::detail;

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

// Collects the statements as the parser completes them. A subcircuit's elements are every
// element read since the previous ".ends", so they are always the latest run of elements.
class RecordSink final : public nw::StatementSink {
 public:
  RecordSink(Storage& storage, const nw::SourceLines& lines) : storage_(storage), lines_(lines) {}

  void comment(std::int64_t, std::string_view) override {}
  void subckt_opened(const Subckt&) override {}

  void element(nw::Element element, const Subckt&) override {
    elements_.push_back(Pending{storage_.texts.keep(element.name),
                                storage_.texts.keep(element.component), keep_names(element.nets),
                                static_cast<std::uint32_t>(element.nets.size()),
                                line_of(element.id)});
  }

  void subckt_closed(Subckt subckt) override {
    std::vector<std::string_view> ports(subckt.ports.begin(), subckt.ports.end());
    subckts_.push_back(PendingSubckt{storage_.texts.keep(subckt.component), keep_names(ports),
                                     static_cast<std::uint32_t>(ports.size()), line_of(subckt.id),
                                     assigned_, elements_.size()});
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
    for (const std::string_view name : names) storage_.names.push_back(storage_.texts.keep(name));
    return first;
  }

  std::size_t line_of(std::int64_t id) const {
    return id >= 1 && static_cast<std::size_t>(id) <= lines_.size() ? lines_[id - 1] : 0;
  }

  Storage& storage_;
  const nw::SourceLines& lines_;
  std::vector<Pending> elements_;
  std::vector<PendingSubckt> subckts_;
  std::size_t assigned_ = 0;
};

// What netweave does with a text in memory: the one-pass reader, else the staged one.
RecursiveNetlist weave(std::string_view text, const Map& kwargs) {
  if (auto woven = nw::weave_text(text, {}, {}, kwargs)) return std::move(*woven);
  nw::ParsedIr parsed = nw::netweave_text_into_ir(text, {}, kwargs);
  return nw::recursive_netlist_from_ir(std::move(parsed.ir), {}, std::move(parsed.comments),
                                       &parsed.source_lines);
}

}  // namespace

DialectSource read_dialect(std::string_view text, const Map& kwargs) {
  DialectSource source;
  source.netlist = weave(text, kwargs);  // errors and warnings come from here, as netweave's
  auto storage = std::make_shared<Storage>();
  nw::SourceLines lines;
  RecordSink sink(*storage, lines);
  {
    std::vector<std::string> repeated;  // the first reading showed them already
    const nw::WarningCapture quiet(repeated);
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const auto relevant = nw::iter_relevant_lines(text);
    nw::parse_statements(*relevant, sink, {}, kwargs, &lines);
  }
  source.subcircuits = sink.finish();
  source.texts = std::move(storage);
  return source;
}

std::shared_ptr<const std::vector<std::string>> kit_ports(std::string_view component) {
  return nw::get_ports(component);
}

std::string port_at(const RecursiveNetlist& netlist, std::string_view component,
                    std::size_t position) {
  std::string port = nw::get_port(*nw::get_ports(component), position);
  const auto subcircuit = netlist.find(component);
  if (subcircuit == netlist.end()) return port;
  // Positional names of a subcircuit's instances become its external ports, in their order.
  const Map& ports = subcircuit->second.as_map().at("ports").as_map();
  std::size_t k = 0;
  const char* digits = port.data() + 1;
  const char* end = port.data() + port.size();
  if (port.size() < 2 || port[0] != 'o' || port[1] == '0' ||
      std::from_chars(digits, end, k).ptr != end || k == 0 || k > ports.size() ||
      port != nw::get_port({}, k - 1)) {
    return port;
  }
  return ports.nth(k - 1).key().str();
}

}  // namespace orvelle::check::detail
