// Throughput of the caption filter on captions held in memory, in bytes of
// caption text per second on one core.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "bench/bench_support.h"
#include "conversion/caption_filter.h"

namespace {

// Lecture captions of about `size` bytes shaped like those of
// make_captions.py: numbered cues, timing lines with and without settings, one
// or two text lines, some of them tagged, a few non-ASCII words.
std::string MakeCaptions(std::size_t size, bool crlf) {
  static constexpr std::string_view kWords[] = {
      "the",      "of",        "to",          "and",         "we",      "lecture", "today",
      "example",  "figure",    "slide",       "energy",      "model",   "data",    "function",
      "result",   "process",   "safety",      "hazard",      "measure", "notice",  "because",
      "however",  "therefore", "caf\xC3\xA9", "between",     "within",  "design",  "theory",
      "practice", "question",  "answer",      "na\xC3\xAFve"};
  static constexpr std::string_view kWrap[][2] = {{"", ""},
                                                  {"", ""},
                                                  {"", ""},
                                                  {"", ""},
                                                  {"<v>", "</v>"},
                                                  {"<c>", "</c>"},
                                                  {"<v Maria>", "</v>"},
                                                  {"<c.yellow>", "</c>"},
                                                  {"<i>", "</i>"},
                                                  {"", ""}};
  std::mt19937 engine(2026);
  auto random = [&engine] { return static_cast<unsigned>(engine()); };
  const std::string_view end = crlf ? "\r\n" : "\n";
  std::string out = "WEBVTT";
  out.append(end).append("Kind: captions").append(end).append(end);
  char timing[64];
  for (unsigned cue = 1, clock = 0; out.size() < size; ++cue) {
    const unsigned start = clock;
    clock += 1200 + random() % 3600;
    std::snprintf(timing, sizeof timing, "%02u:%02u:%02u.%03u --> %02u:%02u:%02u.%03u%s",
                  start / 3600000 % 100, start / 60000 % 60, start / 1000 % 60, start % 1000,
                  clock / 3600000 % 100, clock / 60000 % 60, clock / 1000 % 60, clock % 1000,
                  random() % 3 == 0 ? " align:start position:10%" : "");
    out.append(std::to_string(cue)).append(end).append(timing).append(end);
    const unsigned lines = 1 + random() % 2;
    for (unsigned line = 0; line < lines; ++line) {
      const auto& wrap = kWrap[random() % std::size(kWrap)];
      out.append(wrap[0]);
      const unsigned words = 4 + random() % 8;
      for (unsigned word = 0; word < words; ++word) {
        if (word != 0) out += ' ';
        out.append(kWords[random() % std::size(kWords)]);
      }
      out.append(wrap[1]).append(end);
    }
    out.append(end);
  }
  return out;
}

constexpr std::size_t kInputSize = 16 << 20;

// The whole caption file in one piece.
void BM_FilterCaptions(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, state.range(0) != 0);
  for (auto _ : state) {
    std::string transcript = orvane::FilterCaptions(captions);
    benchmark::DoNotOptimize(transcript.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_FilterCaptions)->ArgName("crlf")->Arg(0)->Arg(1);

// Fed in read-sized blocks, the output drained after each, as a conversion
// does it.
void BM_CaptionFilterBlocks(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, state.range(0) != 0);
  for (auto _ : state) {
    orvane::CaptionFilter filter;
    orvane::bench::FeedInReadBlocks(filter, captions);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_CaptionFilterBlocks)->ArgName("crlf")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
