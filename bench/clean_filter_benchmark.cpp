// Throughput of the clean filter on captions held in memory, in bytes of
// caption text per second on one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "conversion/clean_writer.h"
#include "conversion/transcriber.h"
#include "conversion/webvtt_reader.h"

namespace {

constexpr std::string_view kWords[] = {
    "the",     "of",        "to",      "and",    "we",          "lecture",  "today",
    "example", "figure",    "slide",   "energy", "model",       "data",     "function",
    "result",  "process",   "safety",  "hazard", "measure",     "notice",   "because",
    "however", "therefore", "between", "within", "caf\xC3\xA9", "question", "answer"};

// Appends a timing line for the cue from `start` to `end` milliseconds.
void AppendTiming(std::string& out, unsigned start, unsigned end, std::string_view settings,
                  std::string_view line_end) {
  char timing[96];
  std::snprintf(timing, sizeof timing, "%02u:%02u:%02u.%03u --> %02u:%02u:%02u.%03u%.*s",
                start / 3600000 % 100, start / 60000 % 60, start / 1000 % 60, start % 1000,
                end / 3600000 % 100, end / 60000 % 60, end / 1000 % 60, end % 1000,
                static_cast<int>(settings.size()), settings.data());
  out.append(timing).append(line_end);
}

// About `size` bytes of one of two kinds of caption file: lecture captions
// (numbered cues of one or two lines, some in <v Name>, <c.yellow> or <i>,
// some with &amp;), or a web player's rolling auto-captions (each cue repeats
// the line before and adds one with inline timestamps).
std::string MakeCaptions(std::size_t size, bool rolling, bool crlf) {
  std::mt19937 engine(2026);
  const auto next = [&engine](unsigned below) { return static_cast<unsigned>(engine() % below); };
  const std::string_view end = crlf ? "\r\n" : "\n";
  std::string out = "WEBVTT";
  out.append(end).append("Kind: captions").append(end).append(end);
  std::string previous = "hello";
  for (unsigned cue = 1, clock = 0; out.size() < size; ++cue) {
    const unsigned start = clock;
    clock += 1200 + next(3600);
    if (rolling) {
      AppendTiming(out, start, clock, " align:start position:0%", end);
      std::string line;
      for (unsigned word = 0, words = 4 + next(6); word < words; ++word) {
        if (word != 0) {
          char stamp[32];
          std::snprintf(stamp, sizeof stamp, "<00:%02u:%02u.%03u><c> ", start / 60000 % 60,
                        start / 1000 % 60, (start + 200 * word) % 1000);
          line.append(stamp).append(kWords[next(std::size(kWords))]).append("</c>");
        } else {
          line.append(kWords[next(std::size(kWords))]);
        }
      }
      out.append(previous).append(end).append(line).append(end).append(end);
      previous = line;
      continue;
    }
    out.append(std::to_string(cue)).append(end);
    AppendTiming(out, start, clock, next(3) == 0 ? " align:start position:10%" : "", end);
    for (unsigned line = 0, lines = 1 + next(2); line < lines; ++line) {
      static constexpr std::string_view kWrap[][2] = {
          {"", ""},       {"", ""}, {"", ""}, {"<v Maria>", "</v>"}, {"<c.yellow>", "</c>"},
          {"<i>", "</i>"}};
      const auto& wrap = kWrap[next(std::size(kWrap))];
      out.append(wrap[0]);
      for (unsigned word = 0, words = 4 + next(8); word < words; ++word) {
        if (word != 0) out.append(next(40) == 0 ? " &amp; " : " ");
        out.append(kWords[next(std::size(kWords))]);
      }
      out.append(wrap[1]).append(end);
    }
    out.append(end);
  }
  return out;
}

constexpr std::size_t kInputSize = 16 << 20;

// Takes a transcript and keeps nothing of it.
class DiscardingSink : public orvane::TranscriptSink {
 public:
  bool Write(const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(size);
    return true;
  }
};

// Feeds `captions` to `transcriber` in read-sized blocks, the output written
// out after each, as a conversion does it.
void FeedInBlocks(orvane::Transcriber& transcriber, const std::string& captions,
                  orvane::MemorySource& source) {
  DiscardingSink sink;
  std::vector<char> buffer(orvane::kDefaultReadBlock);
  std::string scratch;
  transcriber.Reset();
  constexpr std::size_t kBlock = 256 * 1024;
  for (std::size_t at = 0; at < captions.size(); at += kBlock) {
    transcriber.Feed(std::string_view(captions).substr(at, kBlock), source);
    orvane::WriteOutput(transcriber, source, sink, buffer, scratch);
  }
  transcriber.Finish(source);
  orvane::WriteOutput(transcriber, source, sink, buffer, scratch);
}

// Arguments: rolling auto-captions or lecture captions; CR LF or LF.
void BM_CleanFilterBlocks(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, state.range(0) != 0, state.range(1) != 0);
  const auto transcriber =
      orvane::MakeTranscriber(orvane::TranscriptStyle::kClean, orvane::kDefaultLineLimit);
  orvane::MemorySource source(captions);
  for (auto _ : state) FeedInBlocks(*transcriber, captions, source);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_CleanFilterBlocks)->ArgNames({"rolling", "crlf"})->ArgsProduct({{0, 1}, {0, 1}});

// The paragraph layout with time stamps. Arguments: rolling auto-captions or
// lecture captions.
void BM_ParagraphFilterBlocks(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, state.range(0) != 0, false);
  const auto transcriber =
      orvane::MakeTranscriber(orvane::TranscriptStyle::kTimedParagraphs, orvane::kDefaultLineLimit);
  orvane::MemorySource source(captions);
  for (auto _ : state) FeedInBlocks(*transcriber, captions, source);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_ParagraphFilterBlocks)->ArgNames({"rolling"})->DenseRange(0, 1);

// The cue model's calls a reader makes for a caption file, recorded.
class RecordedCues : public orvane::CueSink {
 public:
  void BeginCue(const orvane::CueTiming& timing) override {
    events_.push_back({Event::kBegin, timing, {}, {}, {}});
  }
  void AddLine(const orvane::CueLine& line) override {
    events_.push_back({Event::kLine, {}, Keep(line.text), Keep(line.speaker), Keep(line.label)});
  }
  void InlineTimestamp() override { events_.push_back({Event::kTimestamp, {}, {}, {}, {}}); }
  std::uint64_t GrowthPrefixSize() const override { return 0; }
  void EndCue() override { events_.push_back({Event::kEnd, {}, {}, {}, {}}); }

  // Makes the same calls on `sink`, writing out what `output` settles.
  void Replay(orvane::CueSink& sink, orvane::TranscriptOutput& output) const {
    for (const Event& event : events_) {
      switch (event.kind) {
        case Event::kBegin:
          sink.BeginCue(event.timing);
          break;
        case Event::kLine:
          sink.AddLine({Text(event.text), nullptr, Text(event.speaker), Text(event.label)});
          break;
        case Event::kTimestamp:
          sink.InlineTimestamp();
          break;
        case Event::kEnd:
          sink.EndCue();
          if (output.bytes.size() > kBlock) Drain(output);
          break;
      }
    }
  }
  static void Drain(orvane::TranscriptOutput& output) {
    const std::size_t settled = std::min(output.unsettled_at, output.bytes.size());
    benchmark::DoNotOptimize(output.bytes.data());
    output.DropWritten(settled, 0);
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;
  struct Event {
    enum Kind : std::uint8_t { kBegin, kLine, kTimestamp, kEnd } kind;
    orvane::CueTiming timing;
    std::pair<std::size_t, std::size_t> text, speaker, label;
  };
  std::pair<std::size_t, std::size_t> Keep(std::string_view text) {
    bytes_.append(text);
    return {bytes_.size() - text.size(), text.size()};
  }
  std::string_view Text(std::pair<std::size_t, std::size_t> at) const {
    return std::string_view(bytes_).substr(at.first, at.second);
  }
  std::vector<Event> events_;
  std::string bytes_;
};

// The paragraph writer alone, with time stamps, on the cues the WebVTT reader
// gives, in bytes of caption file per second. Arguments: rolling
// auto-captions or lecture captions.
void BM_ParagraphWriter(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, state.range(0) != 0, false);
  RecordedCues cues;
  orvane::WebVttCueReader reader(cues, orvane::kDefaultLineLimit);
  orvane::MemorySource source(captions);
  reader.Feed(captions, source);
  reader.Finish(source);
  orvane::TranscriptOutput output;
  orvane::CleanTranscriptWriter writer(output, orvane::TranscriptLayout::kTimedParagraphs);
  for (auto _ : state) {
    writer.Reset();
    output.Reset();
    cues.Replay(writer, output);
    writer.Finish();
    RecordedCues::Drain(output);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_ParagraphWriter)->ArgNames({"rolling"})->DenseRange(0, 1);

// The whole caption file in one piece.
void BM_FilterCleanCaptions(benchmark::State& state) {
  const std::string captions = MakeCaptions(kInputSize, false, false);
  for (auto _ : state) {
    std::string transcript = orvane::TranscribeCaptions(captions, orvane::TranscriptStyle::kClean);
    benchmark::DoNotOptimize(transcript.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captions.size()));
}
BENCHMARK(BM_FilterCleanCaptions);

}  // namespace

BENCHMARK_MAIN();
