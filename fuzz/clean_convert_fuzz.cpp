// Fuzzing of clean conversions as text_mode_fuzz does default ones: caption
// bytes in a real file, and in a stream, read in blocks and with line limits
// the fuzzer chooses (see Reading), must give the clean reference's
// transcript, headed by the cleaned title.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/clean_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  FuzzedDataProvider provider(data, size);
  const orvane::fuzz::Reading reading(provider);
  // The title's length is taken from the end, with the reading's choices, so
  // that the caption bytes keep their place when the title's bytes change.
  const std::string title =
      provider.ConsumeBytesAsString(provider.ConsumeIntegralInRange<std::size_t>(0, 32));
  const std::string bytes = provider.ConsumeRemainingBytesAsString();
  const std::string reference = reading.ReferenceCaptions(bytes);
  orvane::fuzz::CheckConversions(
      folder, title, orvane::TranscriptStyle::kClean, reading, bytes,
      orvane::oracle::CleanTitle(title) + orvane::oracle::CleanTranscript(reference));
  return 0;
}
