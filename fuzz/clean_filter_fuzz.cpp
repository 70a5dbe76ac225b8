// Differential fuzzing of the clean filter. Arbitrary bytes, fed to
// CleanFilter in pieces the fuzzer chooses, must give exactly the transcript
// of the plain reference reading; the title cleaning is compared as well.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/clean_filter.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/clean_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using orvane::fuzz::Check;
  FuzzedDataProvider provider(data, size);
  // The last bytes of the input choose how the caption bytes are cut up.
  const auto largest_piece = std::size_t{1} << provider.ConsumeIntegralInRange(0, 12);
  const auto split_seed = provider.ConsumeIntegral<std::uint32_t>();
  const std::string captions = provider.ConsumeRemainingBytesAsString();

  // One filter for the whole run, so that Reset must forget the last input.
  static orvane::CleanFilter filter;
  filter.Reset();
  filter.Feed(std::string_view());  // an empty piece without any storage
  std::string transcript;
  bool more = true;
  orvane::fuzz::ForEachPiece(captions, largest_piece, split_seed,
                             [&](std::string_view piece, std::uint32_t draw) {
                               const bool fed = filter.Feed(piece);
                               Check(more || !fed, "Feed accepted bytes after a Ctrl-Z");
                               more = fed;
                               if (draw % 2 == 0) {
                                 transcript += filter.output();
                                 filter.output().clear();
                               }
                             });
  filter.Finish();
  transcript += filter.output();

  Check(more == (captions.find('\x1A') == captions.npos), "Feed reported the end wrongly");
  Check(transcript == orvane::oracle::CleanTranscript(captions),
        "transcript differs from the reference reading");
  Check(orvane::MakeCleanTitleLines(captions) == orvane::oracle::CleanTitle(captions),
        "title differs from the reference reading");
  return 0;
}
