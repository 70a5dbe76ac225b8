// Fuzzing of the text-mode reader and writer of a conversion: CR, LF and
// Ctrl-Z anywhere in a real caption file, and in a stream, read in blocks of
// sizes the fuzzer chooses (see Reading), so that CR LF pairs and line ends
// straddle the blocks, headed by a title line that may hold line ends of its
// own. A small line limit sends most lines down the path of lines too long to
// hold, which reads them a second time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  static const orvane::oracle::RegexRules rules;
  FuzzedDataProvider provider(data, size);
  const orvane::fuzz::Reading reading(provider);
  // The title's length is taken from the end, with the reading's choices, so
  // that the caption bytes keep their place when the title's bytes change.
  const std::string title =
      provider.ConsumeBytesAsString(provider.ConsumeIntegralInRange<std::size_t>(0, 32));
  const std::string bytes = provider.ConsumeRemainingBytesAsString();
  const std::string reference = reading.ReferenceCaptions(bytes);
  orvane::fuzz::CheckConversions(
      folder, title, orvane::TranscriptStyle::kDefault, reading, bytes,
      orvane::oracle::TitleLine(title) + orvane::oracle::Transcript(reference, rules));
  return 0;
}
