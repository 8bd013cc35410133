// Micro-benchmarks: each fast path beside the straightforward code it must equal.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "model/phase_model.h"
#include "model/scaled_sine.h"
#include "text/number_text.h"
#include "text/line_source.h"
#include "respmat/text.h"

namespace {

std::vector<std::string> number_texts() {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> value(-1, 1);
  std::vector<std::string> texts;
  char text[32];
  for (int i = 0; i < 4096; ++i) {
    std::snprintf(text, sizeof text, "%.16g", value(rng) * std::pow(10.0, static_cast<int>(rng() % 6)));
    texts.emplace_back(text);
  }
  return texts;
}

void BM_ParseAtof(benchmark::State &state) {
  const auto texts = number_texts();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::atof(texts[i++ & 4095].c_str()));
}
BENCHMARK(BM_ParseAtof);

void BM_ParseFast(benchmark::State &state) {
  const auto texts = number_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string &t = texts[i++ & 4095];
    benchmark::DoNotOptimize(respmat::detail::parse_number(t.data(), t.data() + t.size()));
  }
}
BENCHMARK(BM_ParseFast);

std::vector<double> model_values() {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> value(-0.4725, 0.4725);
  std::vector<double> values(4096);
  for (double &v : values) v = value(rng);
  return values;
}

void BM_FormatPrintf(benchmark::State &state) {
  const auto values = model_values();
  char out[64];
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%.16lg", values[i++ & 4095]));
}
BENCHMARK(BM_FormatPrintf);

void BM_FormatFast(benchmark::State &state) {
  const auto values = model_values();
  char out[64];
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(respmat::detail::format_g16(values[i++ & 4095], out));
}
BENCHMARK(BM_FormatFast);

// A 4 MB text of csv lines in a temporary file, for the line readers.
std::FILE *csv_file() {
  std::FILE *file = std::tmpfile();
  std::mt19937_64 rng(3);
  std::string line;
  for (int i = 0; i < 20000; ++i) {
    line.clear();
    for (int c = 0; c < 12; ++c) line += std::to_string(rng() % 100000000) + ",";
    line += "0.5\r\n";
    std::fputs(line.c_str(), file);
  }
  return file;
}

void BM_ReadLinesOneByOne(benchmark::State &state) {
  std::FILE *file = csv_file();
  for (auto _ : state) {
    std::rewind(file);
    while (char *line = text_read_line(file)) std::free(line);
  }
  state.SetBytesProcessed(state.iterations() * std::ftell(file));
  std::fclose(file);
}
BENCHMARK(BM_ReadLinesOneByOne)->Unit(benchmark::kMillisecond);

void BM_ReadLinesInBlocks(benchmark::State &state) {
  std::FILE *file = csv_file();
  for (auto _ : state) {
    std::rewind(file);
    respmat::detail::LineSource lines(file);
    std::string_view line;
    while (lines.next(line)) benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(state.iterations() * std::ftell(file));
  std::fclose(file);
}
BENCHMARK(BM_ReadLinesInBlocks)->Unit(benchmark::kMillisecond);

std::vector<long double> model_arguments() {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> turns(0, 60);
  std::vector<long double> arguments(4096);
  for (long double &u : arguments) {
    const double phase_i = turns(rng);
    u = respmat::model_argument(phase_i, turns(rng));
  }
  return arguments;
}

void BM_ModelEntrySinl(benchmark::State &state) {
  const respmat::ScaledSine scaled_sine(respmat::kAmplitude);
  const auto arguments = model_arguments();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(scaled_sine.exact(arguments[i++ & 4095]));
}
BENCHMARK(BM_ModelEntrySinl);

void BM_ModelEntryFast(benchmark::State &state) {
  const respmat::ScaledSine scaled_sine(respmat::kAmplitude);
  const auto arguments = model_arguments();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(scaled_sine(arguments[i++ & 4095]));
}
BENCHMARK(BM_ModelEntryFast);

}  // namespace

BENCHMARK_MAIN();
