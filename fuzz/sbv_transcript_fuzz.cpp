// Differential fuzzing of SBV files in the clean styles (see clean_fuzz.h).
#include "fuzz/clean_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvane::fuzz::CheckCleanTranscript(data, size, orvane::CaptionFormat::kSbv,
                                     orvane::oracle::Format::kSbv);
  return 0;
}
