// Differential fuzzing of SubRip files in the clean styles (see clean_fuzz.h):
// position codes and tags are found in one scan, whole lines and lines cleaned
// again from the caption bytes alike.
#include "fuzz/clean_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvane::fuzz::CheckCleanTranscript(data, size, orvane::CaptionFormat::kSubRip,
                                     orvane::oracle::Format::kSubRip);
  return 0;
}
