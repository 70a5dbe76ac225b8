// Fuzzing of the course title lookup: arbitrary manifest bytes, read from a
// real imsmanifest.xml in blocks of a size the fuzzer chooses, must give the
// title that a plain whole-buffer search gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  FuzzedDataProvider provider(data, size);
  // Small blocks put the tags across block boundaries; 0 stands for the
  // reader's own block size.
  auto block = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  if (block == 0) block = orvane::kDefaultReadBlock;
  // A small limit makes most titles too long to hold, to be read again.
  const auto title_limit = provider.ConsumeIntegralInRange<std::size_t>(1, 32);
  const std::string manifest = provider.ConsumeRemainingBytesAsString();
  orvane::fuzz::WriteBytes(folder / "imsmanifest.xml", manifest);

  const std::string title = orvane::ReadCourseTitle(folder.path().native(), block, title_limit);
  orvane::fuzz::Check(title == orvane::oracle::CourseTitle(manifest),
                      "title differs from the plain search");
  return 0;
}
