// The line layout of clean transcripts: every cue line that does not repeat
// the cue before, in order, each ending in CR LF, labelled "Name: " when its
// speaker differs from the speaker of the line written before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "conversion/cues.h"
#include "conversion/transcript_output.h"

namespace orvane {

// Lines of the cue before that a cue's first lines are compared with.
inline constexpr std::size_t kComparedLines = 16;

// Drops the lines a cue repeats from the end of the cue before, as rolling
// captions do: the largest k, up to kComparedLines, such that the first k
// lines of a cue equal the last k lines of the last cue that had lines. Lines
// are written as soon as that is settled, so that a cue of any length is
// written in bounded memory.
class LineTranscriptWriter : public CueSink {
 public:
  explicit LineTranscriptWriter(TranscriptOutput& output) : output_(output) {}

  void BeginCue(const CueTiming& timing) override;
  void AddLine(const CueLine& line) override;
  void EndCue() override;
  // Starts a new caption file.
  void Reset();
  // The first caption offset that a line not yet written needs to read again.
  std::uint64_t KeepFrom() const;

 private:
  // A line kept for comparison, with its own copy of text and speaker.
  struct HeldLine {
    std::string text;
    std::string speaker;
    bool is_long = false;
    LongText long_text;
  };
  using Lines = std::array<HeldLine, kComparedLines>;

  static bool Same(const HeldLine& a, const HeldLine& b);
  std::size_t RepeatedLineCount() const;
  void Settle();
  static void HoldLong(HeldLine& held, const LongText& text);
  void Write(const HeldLine& line);
  void WriteLabel(const std::string& speaker);
  void MarkLong(const LongText& text);

  TranscriptOutput& output_;
  Lines& cue() { return lines_[cue_at_]; }
  const Lines& cue() const { return lines_[cue_at_]; }
  const Lines& previous() const { return lines_[cue_at_ ^ 1]; }

  // The cue's last lines, line i at i % kComparedLines, and the cue before's:
  // they swap roles at the end of a cue.
  std::array<Lines, 2> lines_;
  std::size_t cue_at_ = 0;
  std::size_t cue_lines_ = 0;
  std::size_t previous_lines_ = 0;
  bool settled_ = false;
  std::string last_speaker_;  // of the last line written ("" when none)
};

}  // namespace orvane
