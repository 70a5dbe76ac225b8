// Differential fuzzing of the clean style on WebVTT (see clean_fuzz.h); the
// title cleaning is compared with the reference as well.
#include "conversion/course_title.h"
#include "fuzz/clean_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string captions = orvane::fuzz::CheckCleanTranscript(
      data, size, orvane::CaptionFormat::kWebVtt, orvane::oracle::Format::kWebVtt);
  orvane::fuzz::Check(orvane::MakeCleanTitleLines(captions) == orvane::oracle::CleanTitle(captions),
                      "title differs from the reference reading");
  return 0;
}
