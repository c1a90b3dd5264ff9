// Checking a generated netlist against reading it, at 10k, 100k and 1M lines: the checker
// reads the text, then runs every check; the target is at most 1.5 times the reading.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "netlist_generator.hpp"
#include "orvelle/core/check/check.hpp"
#include "orvelle/core/check/detail.hpp"
#include "orvelle/core/netweave/netweave.hpp"

namespace {

struct Sample {
  std::filesystem::path path;
  std::string text;
};

const Sample& sample(std::size_t lines) {
  static std::map<std::size_t, Sample> samples;
  auto [it, fresh] = samples.try_emplace(lines);
  if (fresh) {
    it->second.text = orvelle::bench::generate_netlist(lines);
    it->second.path = std::filesystem::temp_directory_path() /
                      ("orvelle_check_bench_" + std::to_string(lines) + ".sp");
    std::ofstream(it->second.path, std::ios::binary) << it->second.text;
  }
  return it->second;
}

void bytes(benchmark::State& state, const Sample& s) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.text.size()));
}

// The reading the check is measured against: file to recursive netlist, freed, as the
// checker frees what it read before it returns.
void BM_ReadAndFree(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto nets = orvelle::netweave(s.path);
    benchmark::DoNotOptimize(nets);
    nets = {};
  }
  bytes(state, s);
}

// The whole check of the file, findings in hand (not printed), what it read freed.
void BM_Check(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto findings = orvelle::check::check_file(s.path.string());
    benchmark::DoNotOptimize(findings);
    state.PauseTiming();
    state.counters["findings"] = static_cast<double>(findings.size());
    findings = {};
    state.ResumeTiming();
  }
  bytes(state, s);
}

// Its two parts: the adapter's reading (netlist and statement records) ...
void BM_CheckReading(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto source = orvelle::check::detail::read_dialect(s.text, {});
    benchmark::DoNotOptimize(source);
    state.PauseTiming();
    source = {};
    state.ResumeTiming();
  }
  bytes(state, s);
}

// ... and the checks on what it read.
void BM_Checks(benchmark::State& state) {
  const Sample& s = sample(static_cast<std::size_t>(state.range(0)));
  const auto source = orvelle::check::detail::read_dialect(s.text, {});
  for (auto _ : state) {
    auto findings = orvelle::check::detail::check_dialect_source(source, "bench.sp");
    benchmark::DoNotOptimize(findings);
    state.PauseTiming();
    findings = {};
    state.ResumeTiming();
  }
  bytes(state, s);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ReadAndFree)->Apply(sizes);
BENCHMARK(BM_Check)->Apply(sizes);
BENCHMARK(BM_CheckReading)->Apply(sizes);
BENCHMARK(BM_Checks)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
