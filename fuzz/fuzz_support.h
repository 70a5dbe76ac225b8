// Helpers shared by the fuzz targets: a check that stops the run, and a
// scratch folder for file round trips. The reference readings of the formats
// are in tests/oracle.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace orvane::fuzz {

// Stops the run with a crash, so that libFuzzer saves the input, when `ok` is
// false.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "difference: %s\n", what);
  std::abort();
}

// Cuts `bytes` into pieces of pseudo-random sizes from 0 to `largest`, drawn
// from `seed`, and calls `take(piece, draw)` for each in order, where `draw`
// is a further random number for the caller's own choices.
template <class Fn>
void ForEachPiece(std::string_view bytes, std::size_t largest, std::uint32_t seed, Fn take) {
  std::uint32_t state = seed | 1;
  while (!bytes.empty()) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t piece = std::min<std::size_t>(state % (largest + 1), bytes.size());
    take(bytes.substr(0, piece), state);
    bytes.remove_prefix(piece);
  }
}

// A folder of its own under the temporary folder for the life of the process.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
    Check(::mkdtemp(name.data()) != nullptr, "cannot create a scratch folder");
    path_ = name;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(out.good(), "cannot write a scratch file");
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  Check(in.good(), "cannot read a scratch file");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orvane::fuzz
