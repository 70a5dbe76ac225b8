// The cue model of clean transcripts: a caption format's reader turns lines
// into cues (times, cleaned text lines, speakers) and hands them to a
// transcript writer as they are read, a line at a time, so that neither side
// holds more than a few lines.
//
// The writer is reached through the small interface CueSink. Its calls come
// once per cue line, next to the cleaning of that line, which costs far more
// than a call through a pointer; so readers and writers are compiled apart,
// and any reader connects to any writer without either knowing the other.
#pragma once

#include <cstdint>
#include <string_view>

#include "conversion/cue_text.h"
#include "conversion/line_reader.h"

namespace orvane {

// A cue's start and end, in milliseconds from the start of the media.
struct CueTiming {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// A cleaned line too long to hold: compared with other lines by its size and
// a hash of its text, and cleaned again from the caption bytes `range` when
// it is written (starting from `last_close` and `voice`, see LongLine).
struct LongText {
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
  SourceRange range;
  std::uint64_t last_close = 0;
  Voice voice;
};

// One cleaned, non-empty text line of a cue. Valid during the call only.
struct CueLine {
  std::string_view text;                // the text, when held
  const LongText* long_text = nullptr;  // else this
  std::string_view speaker;             // name of the line's voice; "" when none
};

// The hash of cleaned text that LongText carries, fed in pieces of any size.
class TextHash {
 public:
  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      value_ = (value_ ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    }
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 0xCBF29CE484222325u;  // FNV-1a
};

// Receives the cues of one caption file in order.
class CueSink {
 public:
  virtual ~CueSink() = default;
  virtual void BeginCue(const CueTiming& timing) = 0;
  virtual void AddLine(const CueLine& line) = 0;
  virtual void EndCue() = 0;
};

}  // namespace orvane
