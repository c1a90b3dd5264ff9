#include "reference_lines.hpp"

#include <array>
#include <optional>

namespace orvelle::core::netweave::detail {

namespace {

class OwnedLines final : public LineStream {
 public:
  explicit OwnedLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  std::optional<Line> next() override {
    if (index_ >= lines_.size()) return std::nullopt;
    ++index_;
    return Line{lines_[index_ - 1], index_};
  }

 private:
  std::vector<std::string> lines_;
  std::size_t index_ = 0;
};

// A one-to-one or filtering stage given as a function of the line and a scratch buffer.
template <class Step>
class StepStage final : public LineStream {
 public:
  StepStage(LineStreamPtr upstream, Step step)
      : upstream_(std::move(upstream)), step_(std::move(step)) {}
  std::optional<Line> next() override {
    while (auto line = upstream_->next()) {
      if (auto out = step_(*line, buffer_)) return out;
    }
    return std::nullopt;
  }

 private:
  LineStreamPtr upstream_;
  Step step_;
  std::string buffer_;
};

template <class Step>
LineStreamPtr make_stage(LineStreamPtr upstream, Step step) {
  return std::make_unique<StepStage<Step>>(std::move(upstream), std::move(step));
}

// Holds one logical line while it looks for "+" lines after it. Two buffers take turns: one
// holds the line handed out, the other the line already pulled behind it.
class JoinContinuations final : public LineStream {
 public:
  explicit JoinContinuations(LineStreamPtr upstream) : upstream_(std::move(upstream)) {}

  std::optional<Line> next() override {
    if (!started_) {
      started_ = true;
      if (auto first = upstream_->next()) hold(*first);
    }
    if (!held_) return std::nullopt;
    std::string& current = buffers_[held_index_];
    const std::size_t line = *held_;
    held_.reset();
    while (auto following = upstream_->next()) {
      if (following->text.starts_with('+')) {
        current += ' ';
        current += strip(following->text.substr(1));
      } else {
        held_index_ ^= 1;
        hold(*following);
        break;
      }
    }
    return Line{current, line};
  }

 private:
  void hold(const Line& line) {
    buffers_[held_index_].assign(line.text);
    held_ = line.source_line;
  }

  LineStreamPtr upstream_;
  std::array<std::string, 2> buffers_;
  std::size_t held_index_ = 0;
  std::optional<std::size_t> held_;  // source line of the held line, if any
  bool started_ = false;
};

}  // namespace

LineStreamPtr lines_from(std::vector<std::string> lines) {
  return std::make_unique<OwnedLines>(std::move(lines));
}

LineStreamPtr strip_lines(LineStreamPtr lines) {
  return make_stage(std::move(lines), [](Line line, std::string&) -> std::optional<Line> {
    line.text = strip(line.text);
    return line;
  });
}

LineStreamPtr join_continuations(LineStreamPtr lines) {
  return std::make_unique<JoinContinuations>(std::move(lines));
}

LineStreamPtr standardize_spaces(LineStreamPtr lines) {
  return make_stage(std::move(lines), [](Line line, std::string& buffer) -> std::optional<Line> {
    if (spaces_standard(line.text)) return line;
    buffer.clear();
    bool in_run = false;
    append_standardized(buffer, line.text, in_run);
    line.text = buffer;
    return line;
  });
}

LineStreamPtr filter_empty(LineStreamPtr lines) {
  return make_stage(std::move(lines), [](Line line, std::string&) -> std::optional<Line> {
    if (line.text.empty()) return std::nullopt;
    return line;
  });
}

LineStreamPtr strip_comments(LineStreamPtr lines) {
  return make_stage(std::move(lines), [](Line line, std::string&) -> std::optional<Line> {
    line.text = line.text.substr(0, line.text.find('$'));
    line.text = line.text.substr(0, line.text.find('*'));
    return line;
  });
}

LineStage chain(std::vector<LineStage> stages) {
  return [stages = std::move(stages)](LineStreamPtr lines) {
    for (const auto& stage : stages) lines = stage(std::move(lines));
    return lines;
  };
}

LineStreamPtr chained_relevant_lines(std::string_view content) {
  static const LineStage stages =
      chain({strip_lines, join_continuations, standardize_spaces, strip_lines, filter_empty});
  return stages(split_lines(content));
}

}  // namespace orvelle::core::netweave::detail
