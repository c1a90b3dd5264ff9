#include "orvelle/core/netweave/scheduling.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "orvelle/core/netweave/assembly.hpp"
#include "orvelle/core/netweave/finishing.hpp"
#include "orvelle/core/netweave/source.hpp"
#include "orvelle/core/netweave/statements.hpp"
#include "orvelle/core/netweave/warnings.hpp"
#include "orvelle/memory.hpp"

namespace orvelle::core::netweave::detail {

std::size_t ReaderTuning::default_two_threads_from() noexcept {
  // Below this size a second thread costs more than it saves.
  constexpr std::size_t kWorthAThread = std::size_t{1} << 18;
  return std::thread::hardware_concurrency() > 1 ? kWorthAThread : SIZE_MAX;
}

namespace {

struct Inputs {
  std::string_view content;
  const Map& settings_keymap;
  const Map& component_map;
  const Map& kwargs;
  const ReaderTuning& tuning;
  StatementObserver* observer;
};

// Lines as they come, noting where in the text the latest one starts. A line the pipeline
// had to rewrite (joined or respaced) lies outside the text and leaves the mark where it was.
class TrackedLines final : public LineStream {
 public:
  TrackedLines(std::string_view content, LineStreamPtr lines)
      : begin_(reinterpret_cast<std::uintptr_t>(content.data())),
        size_(content.size()),
        lines_(std::move(lines)) {}

  std::optional<Line> next() override {
    auto line = lines_->next();
    if (line) {
      const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(line->text.data()) - begin_;
      if (at <= size_) read_ = at;
    }
    return line;
  }
  const std::size_t& read() const noexcept { return read_; }

 private:
  std::uintptr_t begin_;
  std::size_t size_;
  LineStreamPtr lines_;
  std::size_t read_ = 0;
};

// The comment of the line being read, for the element on that line.
class LineComment {
 public:
  void set(std::int64_t id, std::string_view text) noexcept {
    id_ = id;
    text_ = text;
  }
  std::string_view of(std::int64_t id) const noexcept { return id == id_ ? text_ : ""; }

 private:
  std::int64_t id_ = 0;
  std::string_view text_;
};

// Tells the observer of each statement before the reader's own sink takes it.
class ObservedSink final : public StatementSink {
 public:
  ObservedSink(StatementObserver& observer, StatementSink& sink)
      : observer_(observer), sink_(sink) {}

  void comment(std::int64_t id, std::string_view text) override { sink_.comment(id, text); }
  void subckt_opened(const Subckt& subckt, std::size_t source_line) override {
    observer_.subckt_opened(subckt, source_line);
    sink_.subckt_opened(subckt, source_line);
  }
  void element(Element element, const Subckt& parent) override {
    observer_.element(element);
    sink_.element(std::move(element), parent);
  }
  void subckt_closed(Subckt subckt) override {
    observer_.subckt_closed(subckt);
    sink_.subckt_closed(std::move(subckt));
  }

 private:
  StatementObserver& observer_;
  StatementSink& sink_;
};

// Reads every statement into `sink`, keeping the reading warnings in `warnings`.
void read_statements(const Inputs& in, StatementSink& sink, const std::size_t*& read_at,
                     std::vector<std::string>& warnings) {
  const WarningCapture capture(warnings);
  TrackedLines lines(in.content, iter_relevant_lines(in.content));
  read_at = &lines.read();
  if (in.observer == nullptr) return parse_statements(lines, sink, in.component_map, in.kwargs);
  ObservedSink observed(*in.observer, sink);
  parse_statements(lines, observed, in.component_map, in.kwargs);
}

// ---- One thread: statements straight into the assembly.

class AssemblingSink final : public StatementSink {
 public:
  AssemblingSink(NetlistAssembly& assembly, const Map& settings_keymap)
      : assembly_(assembly), settings_keymap_(settings_keymap) {}

  const std::size_t*& read_at() noexcept { return read_at_; }

  void comment(std::int64_t id, std::string_view text) override { comment_.set(id, text); }
  void subckt_opened(const Subckt&, std::size_t) override {}
  void element(Element element, const Subckt&) override {
    Map instance = make_instance(element.component, std::move(element.settings), settings_keymap_);
    assembly_.element(Child{element.name, element.component, element.nets, std::move(instance),
                            comment_.of(element.id), element.source_line},
                      *read_at_);
  }
  void subckt_closed(Subckt subckt) override { assembly_.closed(subckt); }

 private:
  NetlistAssembly& assembly_;
  const Map& settings_keymap_;
  LineComment comment_;
  const std::size_t* read_at_ = nullptr;
};

std::exception_ptr read_here(const Inputs& in, NetlistAssembly& assembly,
                             std::vector<std::string>& warnings) {
  std::optional<MapPool> pool;
  if (in.content.size() >= in.tuning.slabs_from) pool.emplace();
  try {
    AssemblingSink sink(assembly, in.settings_keymap);
    read_statements(in, sink, sink.read_at(), warnings);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// ---- Two threads: statements in chunks from the reading thread to the assembling one.

// One statement as the reading side hands it over.
struct Statement {
  // element: name, component, nets and comment back to back in the chunk's bytes
  std::uint32_t text_at = 0;
  std::uint32_t name_size = 0;
  std::uint32_t component_size = 0;
  std::uint32_t nets_at = 0;  // into the chunk's net sizes
  std::uint32_t net_count = 0;
  std::uint32_t comment_size = 0;
  std::size_t read_at = 0;  // how far into the text the reading side was
  std::size_t source_line = 0;
  Map instance{};
  std::unique_ptr<Subckt> closed{};  // set for a block's end, which is no element
};

struct Chunk {
  std::vector<Statement> statements;
  std::string bytes;
  std::vector<std::uint32_t> net_sizes;

  void clear() noexcept {
    statements.clear();
    bytes.clear();
    net_sizes.clear();
  }
  std::string_view text(std::size_t at, std::size_t size) const {
    return std::string_view(bytes).substr(at, size);
  }
  std::string_view name(const Statement& s) const { return text(s.text_at, s.name_size); }
  // The nets into `out`; returns where they end in the bytes.
  std::size_t nets(const Statement& s, std::vector<std::string_view>& out) const {
    out.clear();
    std::size_t at = s.text_at + s.name_size + s.component_size;
    for (std::uint32_t i = 0; i < s.net_count; ++i) {
      const std::uint32_t size = net_sizes[s.nets_at + i];
      out.push_back(text(at, size));
      at += size;
    }
    return at;
  }
  // The element as a child; its instance is taken, its nets viewed from `nets`.
  Child child(Statement& s, std::vector<std::string_view>& nets) const {
    const std::size_t nets_end = this->nets(s, nets);
    return Child{name(s),
                 text(s.text_at + s.name_size, s.component_size),
                 nets,
                 std::move(s.instance),
                 text(nets_end, s.comment_size),
                 s.source_line};
  }
};

// The reading side: statements into chunks, each full chunk handed on.
class ChunkWriter final : public StatementSink {
 public:
  using Deliver = std::function<Chunk*(Chunk*)>;  // takes a full chunk, gives an empty one

  ChunkWriter(Chunk* chunk, const Inputs& in, Deliver deliver)
      : chunk_(chunk), in_(in), deliver_(std::move(deliver)) {}

  const std::size_t*& read_at() noexcept { return read_at_; }

  void comment(std::int64_t id, std::string_view text) override { comment_.set(id, text); }
  void subckt_opened(const Subckt&, std::size_t) override {}

  void element(Element element, const Subckt&) override {
    Statement statement{.read_at = *read_at_, .source_line = element.source_line};
    statement.text_at = static_cast<std::uint32_t>(chunk_->bytes.size());
    statement.name_size = static_cast<std::uint32_t>(element.name.size());
    statement.component_size = static_cast<std::uint32_t>(element.component.size());
    statement.nets_at = static_cast<std::uint32_t>(chunk_->net_sizes.size());
    statement.net_count = static_cast<std::uint32_t>(element.nets.size());
    chunk_->bytes += element.name;
    chunk_->bytes += element.component;
    for (const std::string_view net : element.nets) {
      chunk_->bytes += net;
      chunk_->net_sizes.push_back(static_cast<std::uint32_t>(net.size()));
    }
    // The location comment is read on the assembling side: with the instance made here, that
    // splits the work about evenly (by measurement; moving either shifts the balance too far).
    const std::string_view comment = comment_.of(element.id);
    chunk_->bytes += comment;
    statement.comment_size = static_cast<std::uint32_t>(comment.size());
    // The settings are fresh in this side's cache: the instance is made here.
    statement.instance =
        make_instance(element.component, std::move(element.settings), in_.settings_keymap);
    add(std::move(statement));
  }

  void subckt_closed(Subckt subckt) override {
    add(Statement{.closed = std::make_unique<Subckt>(std::move(subckt))});
  }

  void flush() {
    if (!chunk_->statements.empty()) chunk_ = deliver_(chunk_);
  }

 private:
  void add(Statement statement) {
    chunk_->statements.push_back(std::move(statement));
    if (chunk_->statements.size() >= in_.tuning.chunk_statements) chunk_ = deliver_(chunk_);
  }

  Chunk* chunk_;
  const Inputs& in_;
  Deliver deliver_;
  LineComment comment_;
  const std::size_t* read_at_ = nullptr;
};

// The assembling side: a chunk's statements into the assembly.
class ChunkReader {
 public:
  explicit ChunkReader(NetlistAssembly& assembly) : assembly_(assembly) {}

  void read(Chunk& chunk) {
    auto& statements = chunk.statements;
    for (std::size_t i = 0; i < statements.size(); ++i) {
      // The large tables are far from the cache: ask for a later element's slots now.
      if (i + kLookahead < statements.size()) prefetch(chunk, statements[i + kLookahead]);
      Statement& statement = statements[i];
      if (statement.closed) {
        assembly_.closed(*statement.closed);
      } else {
        assembly_.element(chunk.child(statement, nets_), statement.read_at);
      }
    }
  }

 private:
  static constexpr std::size_t kLookahead = 4;

  void prefetch(const Chunk& chunk, const Statement& statement) {
    if (statement.closed) return;
    chunk.nets(statement, prefetched_nets_);
    assembly_.prefetch(chunk.name(statement), prefetched_nets_);
  }

  NetlistAssembly& assembly_;
  std::vector<std::string_view> nets_;  // kept to reuse their storage
  std::vector<std::string_view> prefetched_nets_;
};

// Full chunks one way, empty ones back. Chunks are made as the reading side gets ahead, up
// to enough to cover a stall of the assembling side (a table that grows, a busy core)
// without holding the reading side up.
class ChunkChannel {
 public:
  explicit ChunkChannel(std::size_t most_chunks)
      : most_chunks_(std::max<std::size_t>(most_chunks, 1)) {}

  // Reading side. Nothing once the assembling side has stopped.
  Chunk* exchange(Chunk* full) {
    std::unique_lock lock(mutex_);
    if (full != nullptr) full_.push_back(full);
    changed_.notify_all();
    if (empty_.empty() && chunks_.size() < most_chunks_) empty_.push_back(&chunks_.emplace_back());
    changed_.wait(lock, [&] { return stopped_ || !empty_.empty(); });
    if (stopped_) return nullptr;
    Chunk* chunk = empty_.front();
    empty_.pop_front();
    return chunk;
  }
  void close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  // Assembling side. Nothing once every chunk was taken or the reading side stopped.
  Chunk* take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || !full_.empty(); });
    if (full_.empty()) return nullptr;
    Chunk* chunk = full_.front();
    full_.pop_front();
    return chunk;
  }
  void give_back(Chunk* chunk) {
    chunk->clear();
    const std::lock_guard lock(mutex_);
    empty_.push_back(chunk);
    changed_.notify_all();
  }
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::size_t most_chunks_;
  std::deque<Chunk> chunks_;  // never moved: the lists point into it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk*> full_;
  std::deque<Chunk*> empty_;
  bool closed_ = false;
  bool stopped_ = false;
};

struct Stopped {};  // unwinds the reading thread once the assembling side gave up

// Returns the reading side's failure, else the assembling side's. The statements read before
// a failure of the reading side are still assembled: the assembly keeps its faults, and the
// reading side's failure wins over them.
std::exception_ptr read_on_two_threads(const Inputs& in, NetlistAssembly& assembly,
                                       std::vector<std::string>& warnings) {
  const bool slabs = in.content.size() >= in.tuning.slabs_from;
  ChunkChannel channel(in.tuning.most_chunks);
  std::exception_ptr reading_failure;
  const auto read = [&] {
    std::optional<MapPool> pool;
    if (slabs) pool.emplace();
    try {
      Chunk* first = channel.exchange(nullptr);
      if (first == nullptr) throw Stopped{};
      ChunkWriter writer(first, in, [&](Chunk* full) {
        Chunk* next = channel.exchange(full);
        if (next == nullptr) throw Stopped{};
        return next;
      });
      read_statements(in, writer, writer.read_at(), warnings);
      writer.flush();
    } catch (const Stopped&) {
    } catch (...) {
      reading_failure = std::current_exception();
    }
    channel.close();
  };
  std::thread reader;
  try {
    reader = std::thread(read);
  } catch (const std::system_error&) {  // no thread to be had: all on this one
    return read_here(in, assembly, warnings);
  }
  std::exception_ptr assembling_failure;
  try {
    std::optional<MapPool> pool;
    if (slabs) pool.emplace();
    ChunkReader chunks(assembly);
    while (Chunk* chunk = channel.take()) {
      chunks.read(*chunk);
      channel.give_back(chunk);
    }
  } catch (...) {
    assembling_failure = std::current_exception();
  }
  channel.stop();
  reader.join();
  return reading_failure ? reading_failure : assembling_failure;
}

}  // namespace

RecursiveNetlist read_netlist(std::string_view content, const Map& settings_keymap,
                              const Map& component_map, const Map& kwargs,
                              const ReaderTuning& tuning, StatementObserver* observer) {
  content = checked_text(content);
  const Inputs in{content, settings_keymap, component_map, kwargs, tuning, observer};
  std::vector<std::string> warnings;
  NetlistAssembly assembly(settings_keymap, content.size(), tuning.size_tables_after);
  const std::exception_ptr failure = content.size() >= tuning.two_threads_from
                                         ? read_on_two_threads(in, assembly, warnings)
                                         : read_here(in, assembly, warnings);
  // The statements' warnings come first, then those of the assembly, as they would if the
  // text were read whole before anything was assembled.
  warn_all(warnings);
  if (failure) std::rethrow_exception(failure);
  return finish_netlists(std::move(assembly).take(), tuning.finish_on_two_threads_from);
}

}  // namespace orvelle::core::netweave::detail
