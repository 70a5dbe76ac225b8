// The copy floor for the benchmark: copies every caption file of a folder to
// its transcript path with the same file layer, block size and write path (a
// temporary file renamed into place) that orvane-convert uses, and nothing
// else. No converter can do less work.
//
// Usage: copy_floor FOLDER
#include <cstdio>
#include <vector>

#include "conversion/batch_run.h"
#include "conversion/conversion.h"
#include "conversion/naming.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kBlock = 256 * 1024;

bool CopyFile(const orvane::NativeString& input, const orvane::NativeString& output,
              std::vector<char>& block) {
  orvane::platform::InputFile source;
  orvane::platform::ReplacementFile target;
  if (!source.Open(input) || !target.Create(output, source)) return false;
  for (;;) {
    const std::ptrdiff_t count = source.Read(block.data(), block.size());
    if (count < 0) return false;
    if (count == 0) break;
    if (!target.Write(block.data(), static_cast<std::size_t>(count))) return false;
  }
  return target.Commit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: copy_floor FOLDER\n", stderr);
    return 2;
  }
  const orvane::NativeString folder = argv[1];
  std::vector<char> block(kBlock);
  int status = 0;
  for (orvane::platform::DirectoryListing listing(folder); listing.ok(); listing.Next()) {
    if (listing.is_directory() ||
        orvane::CaptionFormatOfName(listing.name()) != orvane::CaptionFormat::kWebVtt) {
      continue;
    }
    const orvane::NativeString input = folder + orvane::platform::PathSeparator() + listing.name();
    if (!CopyFile(input, orvane::MakeOutputPath(input), block)) {
      std::fprintf(stderr, "copy_floor: %s: copy failed\n", input.c_str());
      status = 1;
    }
  }
  return status;
}
