// Text to recursive netlist, and the netlist to JSON and YAML, at 10k, 100k and 1M lines.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "netlist_generator.hpp"
#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/netweave/ir.hpp"
#include "orvelle/core/netweave/netweave.hpp"

namespace {

// Generated once per size and kept on disk for the run, as a user's netlist would be.
struct Sample {
  std::filesystem::path path;
  std::size_t bytes = 0;
  orvelle::RecursiveNetlist nets;
};

const Sample& sample(std::size_t lines) {
  static std::map<std::size_t, Sample> samples;
  auto [it, fresh] = samples.try_emplace(lines);
  if (fresh) {
    const std::string text = orvelle::bench::generate_netlist(lines);
    it->second.path =
        std::filesystem::temp_directory_path() / ("orvelle_bench_" + std::to_string(lines) + ".sp");
    std::ofstream(it->second.path, std::ios::binary) << text;
    it->second.bytes = text.size();
    it->second.nets = orvelle::netweave(it->second.path);
  }
  return it->second;
}

// From the file to the recursive netlist in the caller's hands; freeing it afterwards is
// the caller's business and is not timed.
void BM_Netweave(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto nets = orvelle::netweave(s.path);
    benchmark::DoNotOptimize(nets);
    state.PauseTiming();
    nets = {};
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

// The same text with an unsupported command 10 lines before its end: the reader finds it in
// its one reading, so failing should cost no more than reading the whole text.
void BM_NetweaveLateError(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  static std::map<std::size_t, std::filesystem::path> paths;
  auto [it, fresh] = paths.try_emplace(s.bytes);
  if (fresh) {
    std::ifstream in(s.path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t at = text.size();
    for (int line = 0; line < 11; ++line) at = text.rfind('\n', at - 1);
    text.insert(at + 1, ".param late=1\n");
    it->second = s.path;
    it->second.replace_extension(".late.sp");
    std::ofstream(it->second, std::ios::binary) << text;
  }
  for (auto _ : state) {
    try {
      benchmark::DoNotOptimize(orvelle::netweave(it->second));
      state.SkipWithError("the error went unnoticed");
    } catch (const orvelle::ParseError&) {
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

// The first stage alone, text already in memory: lines, words and settings to the IR. The
// IR is freed outside the timing, as the reader hands it on to the assembly instead.
void BM_TextToIr(benchmark::State& state) {
  const std::string text =
      orvelle::bench::generate_netlist(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto parsed = orvelle::core::netweave::detail::netweave_text_into_ir(text);
    benchmark::DoNotOptimize(parsed);
    state.PauseTiming();
    parsed = {};
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ToJson(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(orvelle::to_json(s.nets));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

void BM_ToYaml(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(orvelle::to_yaml(s.nets));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
}

// Large texts are read on two threads: the rate is per second of wall-clock time.
BENCHMARK(BM_Netweave)->Apply(sizes)->UseRealTime();
BENCHMARK(BM_NetweaveLateError)->Apply(sizes)->UseRealTime();
BENCHMARK(BM_TextToIr)->Apply(sizes);
BENCHMARK(BM_ToJson)->Apply(sizes);
BENCHMARK(BM_ToYaml)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
