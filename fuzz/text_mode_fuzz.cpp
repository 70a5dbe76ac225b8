// Fuzzing of the text-mode reader and writer of ConvertCaptionFile: CR, LF and
// Ctrl-Z anywhere in a real caption file, read and written in blocks of sizes
// the fuzzer chooses, so that CR LF pairs and line ends straddle the blocks.
// The line checks themselves are covered against std::regex by
// caption_filter_fuzz.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/caption_filter.h"
#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"

namespace {

std::string ReferenceLine(std::string_view line) {
  if (line.empty() || orvane::IsHeaderLine(line) || orvane::IsTimingLine(line) ||
      orvane::IsCueNumber(line)) {
    return {};
  }
  std::string kept;
  orvane::AppendWithoutTags(line, kept);
  return kept.empty() ? kept : kept + "\r\n";
}

// Text-mode writing of the title line: every LF reaches the file as CR LF.
std::string ReferenceTitleLine(const std::string& title) {
  if (title.empty()) return {};
  std::string line;
  for (const char c : title + ".\n") {
    if (c == '\n') line += '\r';
    line += c;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  FuzzedDataProvider provider(data, size);
  const auto read_block = provider.ConsumeIntegralInRange<std::size_t>(1, 16);
  const std::string title = provider.ConsumeRandomLengthString(32);
  const std::string captions = provider.ConsumeRemainingBytesAsString();
  const auto input = folder / "captions.vtt";
  const auto output = folder / "captions.txt";
  orvane::fuzz::WriteBytes(input, captions);

  orvane::SetReadBlockSizeForTesting(read_block);
  const auto result = orvane::ConvertCaptionFile(input, output, title);
  orvane::fuzz::Check(result == orvane::ConversionResult::kConverted, "conversion failed");
  const std::string expected =
      ReferenceTitleLine(title) +
      orvane::fuzz::PerLine(orvane::fuzz::TextModeRead(captions), ReferenceLine);
  orvane::fuzz::Check(orvane::fuzz::ReadBytes(output) == expected,
                      "transcript differs from the text-mode reading");
  return 0;
}
