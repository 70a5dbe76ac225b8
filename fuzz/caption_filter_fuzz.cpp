// Differential fuzzing of the caption filter. Arbitrary bytes, fed to
// CaptionFilter in pieces the fuzzer chooses, must give exactly the transcript
// that the std::regex reading of the same lines gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <regex>

#include "conversion/caption_filter.h"
#include "fuzz/fuzz_support.h"

namespace {

using orvane::fuzz::Check;

// libstdc++'s std::regex recurses once per character; longer lines are left
// to the hand matchers alone (whose agreement on short lines is checked here).
constexpr std::size_t kRegexLineLimit = 1024;

std::string ReferenceLine(std::string_view line_view) {
  static const std::regex timing(R"(\d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3})");
  static const std::regex voice("<v>|</v>");
  static const std::regex klass("<c>|</c>");
  static const std::regex cue(R"(^\d+$)");
  const std::string line(line_view);
  if (line.size() >= 6 && line.find("WEBVTT") != line.npos) return {};
  std::string kept;
  if (line.size() <= kRegexLineLimit) {
    if (std::regex_search(line, timing) || std::regex_search(line, cue)) return {};
    kept = std::regex_replace(std::regex_replace(line, voice, ""), klass, "");
  } else {
    if (orvane::IsTimingLine(line) || orvane::IsCueNumber(line)) return {};
    orvane::AppendWithoutTags(line, kept);
  }
  return kept.empty() ? kept : kept + "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  // The last bytes of the input choose how the caption bytes are cut up.
  const auto largest_piece = std::size_t{1} << provider.ConsumeIntegralInRange(0, 12);
  const auto split_seed = provider.ConsumeIntegral<std::uint32_t>();
  const std::string captions = provider.ConsumeRemainingBytesAsString();

  orvane::CaptionFilter filter;
  filter.Feed(std::string_view());  // an empty piece without any storage
  std::string_view rest = captions;
  std::uint32_t state = split_seed | 1;
  bool more = true;
  while (!rest.empty()) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t piece = std::min<std::size_t>(state % (largest_piece + 1), rest.size());
    const bool fed = filter.Feed(rest.substr(0, piece));
    Check(more || !fed, "Feed accepted bytes after a Ctrl-Z");
    more = fed;
    rest.remove_prefix(piece);
  }
  filter.Finish();

  Check(more == (captions.find('\x1A') == captions.npos), "Feed reported the end wrongly");
  const std::string expected =
      orvane::fuzz::PerLine(orvane::fuzz::TextModeRead(captions), ReferenceLine);
  Check(filter.output() == expected, "transcript differs from the std::regex reading");
  return 0;
}
