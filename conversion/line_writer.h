// The line layout of clean transcripts: every cue line that does not repeat
// the cue before, in order, each ending in CR LF, labelled "Name: " when its
// speaker differs from the speaker of the line written before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
  // A line kept for comparison: its text, a place in its cue's text buffer,
  // or a LongText.
  struct HeldLine {
    std::size_t at = 0;
    std::size_t size = 0;
    bool is_long = false;
    LongText long_text;
  };
  // The last lines of a cue, oldest first, their texts one after another in
  // one buffer. It holds up to twice kComparedLines lines, so that dropping
  // all but the last kComparedLines moves each line's text at most once.
  struct CueLines {
    std::string text;
    std::array<HeldLine, 2 * kComparedLines> lines;
    std::size_t held = 0;

    const char* Data(std::size_t i) const { return text.data() + lines[i].at; }
    std::string_view Text(std::size_t i) const { return std::string_view(Data(i), lines[i].size); }
    void Hold(const CueLine& line);
    // Keeps only the last `count` lines, when it holds more.
    void KeepLast(std::size_t count);
  };
  // The speaker of a line not written yet: a place in unwritten_speakers_.
  struct Speaker {
    std::size_t at = 0;
    std::size_t size = 0;
  };

  static bool Same(const CueLines& a, std::size_t i, const CueLines& b, std::size_t j);
  std::size_t RepeatedLineCount() const;
  // Keeps the speaker of the cue's last line.
  void HoldSpeaker(std::string_view speaker);
  std::string_view HeldSpeaker(std::size_t line) const;
  // Writes the lines that do not repeat the cue before; the last one's
  // speaker is `last_speaker`, the others' are held.
  void Settle(std::string_view last_speaker);
  void Write(std::string_view speaker, std::string_view text, const LongText* long_text);
  void WriteLabel(std::string_view speaker);
  void MarkLong(const LongText& text);

  TranscriptOutput& output_;
  CueLines& cue() { return lines_[cue_at_]; }
  const CueLines& cue() const { return lines_[cue_at_]; }
  const CueLines& previous() const { return lines_[cue_at_ ^ 1]; }

  // The cue's lines and the cue before's: they swap roles at the end of a cue.
  std::array<CueLines, 2> lines_;
  std::size_t cue_at_ = 0;
  std::size_t cue_lines_ = 0;
  std::size_t previous_lines_ = 0;
  bool settled_ = false;
  // The speakers of the cue's lines until it is settled, which is by its
  // kComparedLines-th line.
  std::string unwritten_speakers_;
  std::array<Speaker, kComparedLines> speakers_;
  std::string last_speaker_;  // of the last line written ("" when none)
};

}  // namespace orvane
