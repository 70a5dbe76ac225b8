// What a transcript style produces from the caption bytes fed so far: the
// transcript's bytes, and the lines they leave out because they are too long
// to hold, which the converter makes again from the caption file as it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/cue_text.h"
#include "conversion/line_reader.h"

namespace orvane {

// A line that belongs at byte `at` of the transcript's bytes and is made
// again from the caption bytes `range`. A clean line also carries what its
// cleaning starts from: the offset in the line of its last '>' and the voice
// span open at its start.
struct LongLine {
  std::size_t at = 0;
  SourceRange range;
  std::uint64_t last_close = 0;
  Voice voice;
  std::uint64_t skip = 0;  // cleaned bytes of its start left out
  std::uint64_t last_brace = 0;
  bool html = false;  // written as HTML text
};

struct TranscriptOutput {
  static constexpr std::size_t kAllSettled = static_cast<std::size_t>(-1);

  std::string bytes;
  std::vector<LongLine> long_lines;  // in order of `at`
  // Bytes and long lines from here on may still change: they stay when the
  // rest is written out.
  std::size_t unsettled_at = kAllSettled;

  void Clear() {
    bytes.clear();
    long_lines.clear();
    unsettled_at = kAllSettled;
  }
  // Drops what was written out: the bytes before `settled` and the long lines
  // before `lines`.
  void DropWritten(std::size_t settled, std::size_t lines) {
    bytes.erase(0, settled);
    long_lines.erase(long_lines.begin(), long_lines.begin() + static_cast<std::ptrdiff_t>(lines));
    for (LongLine& line : long_lines) line.at -= settled;
    if (unsettled_at != kAllSettled) unsettled_at -= settled;
  }
  // Clear, releasing buffers that grew large.
  void Reset() {
    ClearKeepingSmall(bytes);
    ClearKeepingSmall(long_lines);
    unsettled_at = kAllSettled;
  }
};

}  // namespace orvane
