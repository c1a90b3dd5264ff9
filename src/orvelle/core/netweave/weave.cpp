// The one-pass reader: text straight to the recursive netlist, each element assembled as it
// is read, with no intermediate records and no renaming pass over the finished netlists.
// Reading the statements and assembling them are separate sides that hand over chunks of
// statements; a large text has them run on two threads.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::detail {

namespace {

// One statement as the reading side hands it to the assembling side.
struct Statement {
  enum class Kind : std::uint8_t { opened, element, closed };
  Kind kind;
  // element: name, component, nets and comment back to back in the chunk's bytes
  std::uint32_t text_at = 0;
  std::uint32_t name_size = 0;
  std::uint32_t component_size = 0;
  std::uint32_t nets_at = 0;  // into the chunk's net sizes
  std::uint32_t net_count = 0;
  std::uint32_t comment_size = 0;
  std::size_t read_at = 0;           // how far into the text the reading side was
  Map instance{};                    // component and settings
  std::unique_ptr<Subckt> subckt{};  // opened, closed
};

struct Chunk {
  static constexpr std::size_t kStatements = 1024;

  std::vector<Statement> statements;
  std::string bytes;
  std::vector<std::uint32_t> net_sizes;

  bool full() const noexcept { return statements.size() >= kStatements; }
  void clear() noexcept {
    statements.clear();
    bytes.clear();
    net_sizes.clear();
  }

  std::string_view name(const Statement& s) const {
    return std::string_view(bytes).substr(s.text_at, s.name_size);
  }
  std::string_view component(const Statement& s) const {
    return std::string_view(bytes).substr(s.text_at + s.name_size, s.component_size);
  }
  // The nets; returns where they end in the bytes.
  std::size_t nets(const Statement& s, std::vector<std::string_view>& out) const {
    out.clear();
    std::size_t at = s.text_at + s.name_size + s.component_size;
    for (std::uint32_t i = 0; i < s.net_count; ++i) {
      const std::uint32_t size = net_sizes[s.nets_at + i];
      out.push_back(std::string_view(bytes).substr(at, size));
      at += size;
    }
    return at;
  }
  std::string_view comment(const Statement& s, std::size_t nets_end) const {
    return std::string_view(bytes).substr(nets_end, s.comment_size);
  }
};

// The reading side: statements into chunks, each full chunk handed on.
class ChunkWriter final : public StatementSink {
 public:
  using Deliver = std::function<Chunk*(Chunk*)>;  // takes a full chunk, gives an empty one

  ChunkWriter(Chunk* chunk, const Map& settings_keymap, Deliver deliver)
      : chunk_(chunk), settings_keymap_(settings_keymap), deliver_(std::move(deliver)) {}

  // Tells the statements how far into the text the reading side was.
  void track(const std::size_t* read) noexcept { read_ = read; }

  void comment(std::int64_t id, std::string_view text) override {
    comment_id_ = id;
    comment_ = text;
  }

  // Elements read before an inner block opens belong to that block, whose ports were not
  // known while they were assembled.
  void subckt_opened(const Subckt& subckt) override {
    if (elements_since_close_ > 0) throw StagedReadingNeeded{};
    add(Statement{.kind = Statement::Kind::opened, .subckt = std::make_unique<Subckt>(subckt)});
  }

  void element(Element element, const Subckt&) override {
    // The normaliser refuses these; the staged reader reports them as it does.
    if (element.component.empty() || element.name.find(',') != std::string_view::npos) {
      throw StagedReadingNeeded{};
    }
    ++elements_since_close_;
    Statement statement{.kind = Statement::Kind::element, .read_at = *read_};
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
    const std::string_view comment = comment_id_ == element.id ? comment_ : std::string_view();
    chunk_->bytes += comment;
    statement.comment_size = static_cast<std::uint32_t>(comment.size());
    // The settings are fresh in this side's cache: the instance is made here.
    statement.instance =
        NetlistBuilder::instance(element.component, std::move(element.settings), settings_keymap_);
    add(std::move(statement));
  }

  void subckt_closed(Subckt subckt) override {
    elements_since_close_ = 0;
    add(Statement{.kind = Statement::Kind::closed,
                  .subckt = std::make_unique<Subckt>(std::move(subckt))});
  }

  void flush() {
    if (!chunk_->statements.empty()) chunk_ = deliver_(chunk_);
  }

 private:
  void add(Statement statement) {
    chunk_->statements.push_back(std::move(statement));
    if (chunk_->full()) chunk_ = deliver_(chunk_);
  }

  Chunk* chunk_;
  const Map& settings_keymap_;
  Deliver deliver_;
  std::int64_t comment_id_ = 0;
  std::string_view comment_;
  std::size_t elements_since_close_ = 0;
  const std::size_t* read_ = &kNothingRead;
  static constexpr std::size_t kNothingRead = 0;
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
  const std::size_t* read() const noexcept { return &read_; }

 private:
  std::uintptr_t begin_;
  std::size_t size_;
  LineStreamPtr lines_;
  std::size_t read_ = 0;
};

struct WovenNetlist {
  std::string name;
  NetlistBuilder builder;
  Map settings;
  Map port_names;  // the external ports, kept apart: the builder gives its own up when done
};

// The assembling side: chunks of statements into netlists.
class Weaver {
 public:
  Weaver(const Map& settings_keymap, std::size_t text_size)
      : settings_keymap_(settings_keymap), text_size_(text_size) {}

  void take(Chunk& chunk) {
    auto& statements = chunk.statements;
    for (std::size_t i = 0; i < statements.size(); ++i) {
      // The large tables are far from the cache: ask for a later element's slots now.
      if (i + kLookahead < statements.size()) prefetch(chunk, statements[i + kLookahead]);
      Statement& statement = statements[i];
      switch (statement.kind) {
        case Statement::Kind::opened:
          parents_.push_back(std::move(*statement.subckt));
          break;
        case Statement::Kind::element:
          add_element(chunk, statement);
          break;
        case Statement::Kind::closed:
          close(std::move(*statement.subckt));
          break;
      }
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
  static constexpr std::size_t kLookahead = 4;
  static constexpr std::size_t kEstimateAfter = 1 << 14;

  void prefetch(const Chunk& chunk, const Statement& statement) {
    if (statement.kind != Statement::Kind::element || !batch_) return;
    chunk.nets(statement, prefetched_nets_);
    batch_->prefetch(chunk.name(statement), prefetched_nets_);
  }

  void add_element(const Chunk& chunk, Statement& statement) {
    if (!batch_) open_batch(statement.read_at);
    if (++batch_children_ == kEstimateAfter) reserve_for_the_rest(statement.read_at);
    const std::size_t nets_end = chunk.nets(statement, nets_);
    std::optional<Map> placement;
    if (statement.comment_size > 0) {
      // The staged reader reads locations while assembling, after every other warning, and
      // not at all for a block that never closes: their warnings wait for the block's end.
      const WarningCapture capture(batch_warnings_);
      placement = parse_location_comment(chunk.comment(statement, nets_end));
    }
    batch_->add_child(chunk.name(statement), chunk.component(statement), nets_,
                      std::move(statement.instance), std::move(placement));
  }

  void open_batch(std::size_t read_at) {
    batch_.emplace(parents_.back(), settings_keymap_);
    batch_began_at_ = read_at;
    batch_children_ = 0;
  }

  // A large block most likely goes on as it began: room for as many children as the rest of
  // the text holds at the rate so far spares its tables their doublings, each a stall that
  // holds up both sides. Lines too short to be likely leave the tables to grow as usual.
  void reserve_for_the_rest(std::size_t read_at) {
    constexpr std::size_t kShortestLikelyLine = 16;
    const std::size_t spanned = read_at - batch_began_at_;
    if (spanned == 0) return;
    const double rest = static_cast<double>(text_size_ - batch_began_at_) / spanned;
    const auto expected = static_cast<std::size_t>(rest * kEstimateAfter * (1 + 1.0 / 32));
    batch_->reserve(std::min(expected, (text_size_ - batch_began_at_) / kShortestLikelyLine));
  }

  void close(Subckt subckt) {
    parents_.pop_back();
    if (!batch_) return;  // no children: no netlist
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

  const Map& settings_keymap_;
  std::size_t text_size_;
  std::size_t batch_began_at_ = 0;
  std::size_t batch_children_ = 0;
  std::vector<Subckt> parents_;          // the open blocks, as the reading side saw them
  std::optional<NetlistBuilder> batch_;  // the netlist of the block the next ".ends" closes
  std::vector<std::string> batch_warnings_;
  std::vector<std::string> assembly_warnings_;
  std::vector<WovenNetlist> netlists_;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> positions_;
  std::vector<std::string_view> nets_;  // kept to reuse their storage
  std::vector<std::string_view> prefetched_nets_;
};

// Full chunks one way, empty ones back, between the reading thread and the assembling one.
// Chunks are made as the reading side gets ahead, up to enough to cover a stall of the
// assembling side (a table that grows, a busy core) without holding the reading side up.
class ChunkChannel {
 public:
  static constexpr std::size_t kMostChunks = 64;

  // Reading side. Nothing once the assembling side has stopped.
  Chunk* exchange(Chunk* full) {
    std::unique_lock lock(mutex_);
    if (full != nullptr) full_.push_back(full);
    changed_.notify_all();
    if (empty_.empty() && chunks_.size() < kMostChunks) empty_.push_back(&chunks_.emplace_back());
    changed_.wait(lock, [&] { return stopped_ || !empty_.empty(); });
    if (stopped_) return nullptr;
    Chunk* chunk = empty_.front();
    empty_.pop_front();
    return chunk;
  }
  void close(bool read_all) {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    read_all_ = read_all;
    changed_.notify_all();
  }

  // Assembling side. Nothing once every chunk was taken or the reading side failed.
  Chunk* take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || !full_.empty(); });
    if (full_.empty() || (closed_ && !read_all_)) return nullptr;
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
  bool read_all() {
    const std::lock_guard lock(mutex_);
    return closed_ && read_all_;
  }

 private:
  std::deque<Chunk> chunks_;  // never moved: the lists point into it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk*> full_;
  std::deque<Chunk*> empty_;
  bool closed_ = false;
  bool read_all_ = false;
  bool stopped_ = false;
};

struct Stopped {};  // unwinds the reading thread once the assembling side gave up

struct Inputs {
  std::string_view content;
  const Map& settings_keymap;
  const Map& component_map;
  const Map& kwargs;
};

// Reads every statement into `writer`, keeping the reading warnings in `warnings`.
void read_statements(const Inputs& in, ChunkWriter& writer, std::vector<std::string>& warnings) {
  const WarningCapture capture(warnings);
  TrackedLines lines(in.content, iter_relevant_lines(in.content));
  writer.track(lines.read());
  parse_statements(lines, writer, in.component_map, in.kwargs);
  writer.flush();
}

void weave_here(const Inputs& in, Weaver& weaver, std::vector<std::string>& warnings) {
  Chunk chunk;
  ChunkWriter writer(&chunk, in.settings_keymap, [&](Chunk* full) {
    weaver.take(*full);
    full->clear();
    return full;
  });
  read_statements(in, writer, warnings);
}

// Returns false when either side could not go on. Both sides make their share of the
// millions of small mappings (settings, placements, instances) from pools: they live and die
// with the netlist.
bool weave_on_two_threads(const Inputs& in, Weaver& weaver, std::vector<std::string>& warnings) {
  ChunkChannel channel;
  std::thread reader([&] {
    const MapPool pool;
    try {
      Chunk* first = channel.exchange(nullptr);
      if (first == nullptr) throw Stopped{};
      ChunkWriter writer(first, in.settings_keymap, [&](Chunk* full) {
        Chunk* next = channel.exchange(full);
        if (next == nullptr) throw Stopped{};
        return next;
      });
      read_statements(in, writer, warnings);
      channel.close(true);
    } catch (...) {
      channel.close(false);
    }
  });
  bool woven = true;
  try {
    const MapPool pool;
    while (Chunk* chunk = channel.take()) {
      weaver.take(*chunk);
      channel.give_back(chunk);
    }
  } catch (...) {
    woven = false;
  }
  channel.stop();
  reader.join();
  return woven && channel.read_all();
}

// Below this size a second thread costs more than it saves.
constexpr std::size_t kTwoThreadsFrom = std::size_t{1} << 18;

}  // namespace

std::optional<RecursiveNetlist> weave_text(std::string_view content, const Map& settings_keymap,
                                           const Map& component_map, const Map& kwargs) {
  if (!is_valid_utf8(content)) return std::nullopt;
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  const Inputs inputs{content, settings_keymap, component_map, kwargs};
  std::vector<std::string> warnings;
  std::optional<RecursiveNetlist> result;
  try {
    Weaver weaver(settings_keymap, content.size());
    if (content.size() >= kTwoThreadsFrom && std::thread::hardware_concurrency() > 1) {
      if (!weave_on_two_threads(inputs, weaver, warnings)) return std::nullopt;
    } else {
      weave_here(inputs, weaver, warnings);
    }
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
