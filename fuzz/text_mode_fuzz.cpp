// Fuzzing of the text-mode reader and writer of a conversion: CR, LF and
// Ctrl-Z anywhere in a real caption file, read in blocks of sizes the fuzzer
// chooses, so that CR LF pairs and line ends straddle the blocks, headed by a
// title line that may hold line ends of its own. A line limit of a few bytes
// sends most lines down the path of lines too long to hold, which reads them
// a second time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  static const orvane::oracle::RegexRules rules;
  FuzzedDataProvider provider(data, size);
  const auto read_block = provider.ConsumeIntegralInRange<std::size_t>(1, 16);
  const auto line_limit = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::string title = provider.ConsumeRandomLengthString(32);
  const std::string captions = provider.ConsumeRemainingBytesAsString();
  const auto input = folder / "captions.vtt";
  const auto output = folder / "captions.txt";
  orvane::fuzz::WriteBytes(input, captions);

  const auto result =
      orvane::CaptionConverter(title, orvane::TranscriptStyle::kDefault, read_block, line_limit)
          .Convert(input, output);
  orvane::fuzz::Check(result == orvane::ConversionResult::kConverted, "conversion failed");
  const std::string expected =
      orvane::oracle::TitleLine(title) + orvane::oracle::Transcript(captions, rules);
  orvane::fuzz::Check(orvane::fuzz::ReadBytes(output) == expected,
                      "transcript differs from the text-mode reading");
  return 0;
}
