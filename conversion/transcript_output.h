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
};

struct TranscriptOutput {
  std::string bytes;
  std::vector<LongLine> long_lines;  // in order of `at`

  void Clear() {
    bytes.clear();
    long_lines.clear();
  }
  // Clear, releasing buffers that grew large.
  void Reset() {
    ClearKeepingSmall(bytes);
    ClearKeepingSmall(long_lines);
  }
};

}  // namespace orvane
