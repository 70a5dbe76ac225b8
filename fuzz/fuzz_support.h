// Helpers shared by the fuzz targets: a check that stops the run, a scratch
// folder for file round trips, and the read blocks and line limits of the
// conversion targets. The reference readings of the formats are in
// tests/oracle.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "conversion/conversion.h"

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

// How a conversion target reads the caption bytes, chosen by the fuzzer:
// in blocks of 1 to 16 bytes, which split every line end and tag, or in
// blocks of the sizes real runs read, 4 KiB to 256 KiB give or take two
// bytes; with a line limit of 1 to 64 bytes, or 64 times that. The larger
// blocks come with a lead that puts a block boundary among the first 32 of the
// fuzzer's bytes: a header line padded with spaces, then a cue whose text
// line, of up to 5000 digits or words, ends just before the fuzzer's bytes or
// is continued by them; the same text may follow them, so that they lie
// inside a long line.
class Reading {
 public:
  explicit Reading(FuzzedDataProvider& provider) {
    const bool real_blocks = provider.ConsumeBool();
    if (real_blocks) {
      read_block = (std::size_t{4096} << provider.ConsumeIntegralInRange(0, 6)) - 2 +
                   provider.ConsumeIntegralInRange<std::size_t>(0, 4);
    } else {
      read_block = provider.ConsumeIntegralInRange<std::size_t>(1, 16);
    }
    line_limit = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
    if (provider.ConsumeBool()) line_limit *= 64;
    if (!real_blocks) return;

    const bool digits = provider.ConsumeBool();
    const std::string_view line_end =
        std::array{"", "\n", "\r", "\r\n"}[provider.ConsumeIntegralInRange(0, 3)];
    const auto line = provider.ConsumeIntegralInRange<std::size_t>(0, 5000);
    const bool tail = provider.ConsumeBool();
    const auto before_boundary = provider.ConsumeIntegralInRange<std::size_t>(0, 31);
    const std::string_view pattern = digits ? "0123456789" : "what was said ";
    lead_ = "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\n";
    std::string text;
    while (text.size() < line) text += pattern;
    text.resize(line);
    lead_ += text;
    lead_ += line_end;
    if (tail) tail_ = text + "\n";
    const std::size_t least = lead_.size() + before_boundary;
    padding_ = (least + read_block - 1) / read_block * read_block - least;
  }

  // The caption bytes the converter reads: the lead, `bytes` and the tail.
  std::string Captions(std::string_view bytes) const {
    std::string captions = ReferenceCaptions(bytes);
    if (!lead_.empty()) captions.insert(kPaddingAt, padding_, ' ');
    return captions;
  }
  // Caption bytes of the same transcripts, for the slow references: without
  // the padding, since every line that holds "WEBVTT" is dropped, and so is
  // the header of a clean transcript, whatever their lengths.
  std::string ReferenceCaptions(std::string_view bytes) const {
    return lead_ + std::string(bytes) + tail_;
  }

  std::size_t read_block = 1;
  std::size_t line_limit = 1;

 private:
  static constexpr std::size_t kPaddingAt = 6;  // after "WEBVTT"
  std::string lead_;                            // without the padding
  std::size_t padding_ = 0;
  std::string tail_;
};

// Converts `bytes` after the lead of `reading`, from a file in `folder` and
// from a stream, and stops the run unless both give `expected`.
inline void CheckConversions(const ScratchFolder& folder, const std::string& title,
                             TranscriptStyle style, const Reading& reading, std::string_view bytes,
                             const std::string& expected) {
  const auto input = folder / "captions.vtt";
  const auto output = folder / "captions.txt";
  const std::string captions = reading.Captions(bytes);
  // New files each time: the file system writes a replaced or truncated one
  // out at once.
  std::filesystem::remove(input);
  std::filesystem::remove(output);
  WriteBytes(input, captions);
  CaptionConverter converter(title, style, reading.read_block, reading.line_limit);
  Check(converter.Convert(input, output) == ConversionResult::kConverted, "conversion failed");
  Check(ReadBytes(output) == expected, "transcript of the file differs from the reference");
  // ConvertStream reads a stream once, never again by offset.
  MemorySource source(captions);
  StringSink sink;
  Check(converter.ConvertStream(source, sink) == ConversionResult::kConverted,
        "stream conversion failed");
  Check(sink.text == expected, "transcript of the stream differs from the reference");
}

}  // namespace orvane::fuzz
