// Differential fuzzing of the caption filter. Arbitrary bytes, fed to a
// CaptionFilter on every chunk kernel this processor runs, in pieces the
// fuzzer chooses, must give exactly the transcript that the std::regex
// reading of the same lines gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/caption_filter.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::oracle::RegexRules rules;
  static const std::vector<orvane::ChunkKernel> kernels = orvane::SupportedKernels();
  FuzzedDataProvider provider(data, size);
  // The last bytes of the input choose how the caption bytes are cut up.
  const auto largest_piece = std::size_t{1} << provider.ConsumeIntegralInRange(0, 12);
  const auto split_seed = provider.ConsumeIntegral<std::uint32_t>();
  const std::string captions = provider.ConsumeRemainingBytesAsString();
  const std::string expected = orvane::oracle::Transcript(captions, rules);

  for (const orvane::ChunkKernel kernel : kernels) {
    orvane::CaptionFilter filter(kernel);
    filter.Feed(std::string_view());  // an empty piece without any storage
    bool more = true;
    orvane::fuzz::ForEachPiece(
        captions, largest_piece, split_seed, [&](std::string_view piece, std::uint32_t) {
          const bool fed = filter.Feed(piece);
          orvane::fuzz::Check(more || !fed, "Feed accepted bytes after a Ctrl-Z");
          more = fed;
        });
    filter.Finish();
    orvane::fuzz::Check(more == (captions.find('\x1A') == captions.npos),
                        "Feed reported the end wrongly");
    orvane::fuzz::Check(filter.output() == expected,
                        "transcript differs from the std::regex reading");
  }
  return 0;
}
