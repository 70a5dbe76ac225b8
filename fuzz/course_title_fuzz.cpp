// Fuzzing of the course title lookup: arbitrary manifest bytes, read from a
// real imsmanifest.xml in blocks of a size the fuzzer chooses, must give the
// title that a plain whole-buffer search gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "conversion/conversion.h"
#include "fuzz/fuzz_support.h"

namespace {

// The text between the first "<title>" and the first "</title>" of the
// manifest, which ends at its first NUL byte; empty when either is missing or
// the "</title>" comes first.
std::string ReferenceTitle(std::string_view manifest) {
  manifest = manifest.substr(0, manifest.find('\0'));
  const auto open = manifest.find("<title>");
  const auto close = manifest.find("</title>");
  if (open == manifest.npos || close == manifest.npos || close < open) return {};
  return std::string(manifest.substr(open + 7, close - open - 7));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvane::fuzz::ScratchFolder folder;
  FuzzedDataProvider provider(data, size);
  // 0 keeps the reader's own block size; small blocks put the tags across
  // block boundaries.
  const auto block = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  const std::string manifest = provider.ConsumeRemainingBytesAsString();
  orvane::fuzz::WriteBytes(folder / "imsmanifest.xml", manifest);

  orvane::SetReadBlockSizeForTesting(block);
  const std::string title = orvane::ReadCourseTitle(folder.path().native());
  orvane::fuzz::Check(title == ReferenceTitle(manifest), "title differs from the plain search");
  return 0;
}
