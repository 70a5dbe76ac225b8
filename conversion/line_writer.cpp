#include "conversion/line_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace orvane {

void LineTranscriptWriter::BeginCue(const CueTiming& /*timing*/) {
  cue_lines_ = 0;
  settled_ = false;
}

void LineTranscriptWriter::AddLine(const CueLine& line) {
  cue().Hold(line);
  ++cue_lines_;
  if (settled_) {
    // Written from the reader's bytes; held only for the next cue to compare.
    Write(line.speaker, line.text, line.long_text);
  } else if (cue_lines_ >= std::min(previous_lines_, kComparedLines)) {
    // Later lines cannot change which lines repeat the cue before.
    Settle(line.speaker);
  } else {
    HoldSpeaker(line.speaker);
  }
}

inline void LineTranscriptWriter::CueLines::Hold(const CueLine& line) {
  if (held == lines.size()) KeepLast(kComparedLines);
  HeldLine& kept = lines[held++];
  kept.at = text.size();
  kept.is_long = line.long_text != nullptr;
  if (kept.is_long) {
    kept.size = 0;
    kept.long_text = *line.long_text;
  } else {
    kept.size = line.text.size();
    text.append(line.text);
  }
}

void LineTranscriptWriter::CueLines::KeepLast(std::size_t count) {
  if (held <= count) return;
  const std::size_t first = held - count;
  const std::size_t dropped = lines[first].at;
  text.erase(0, dropped);
  for (std::size_t i = 0; i < count; ++i) {
    lines[i] = std::move(lines[first + i]);
    lines[i].at -= dropped;
  }
  held = count;
}

// A run of lines of one speaker keeps one copy of the name.
inline void LineTranscriptWriter::HoldSpeaker(std::string_view speaker) {
  const std::size_t line = cue_lines_ - 1;
  if (line == 0) {
    unwritten_speakers_.clear();
  } else if (HeldSpeaker(line - 1) == speaker) {
    speakers_[line] = speakers_[line - 1];
    return;
  }
  speakers_[line] = {unwritten_speakers_.size(), speaker.size()};
  if (!speaker.empty()) unwritten_speakers_.append(speaker);
}

std::string_view LineTranscriptWriter::HeldSpeaker(std::size_t line) const {
  return std::string_view(unwritten_speakers_.data() + speakers_[line].at, speakers_[line].size);
}

void LineTranscriptWriter::EndCue() {
  if (cue_lines_ == 0) return;  // the cue before stays the one to compare with
  if (!settled_) Settle(HeldSpeaker(cue_lines_ - 1));
  if (cue().held > kComparedLines) cue().KeepLast(kComparedLines);
  cue_at_ ^= 1;
  previous_lines_ = cue_lines_;
  cue_lines_ = 0;
  cue().text.clear();
  cue().held = 0;
}

void LineTranscriptWriter::Reset() {
  cue_lines_ = previous_lines_ = 0;
  settled_ = false;
  for (CueLines& lines : lines_) {
    ClearKeepingSmall(lines.text);
    lines.held = 0;
    for (HeldLine& line : lines.lines) line.long_text.voice = Voice();
  }
  ClearKeepingSmall(unwritten_speakers_);
  last_speaker_.clear();
}

std::uint64_t LineTranscriptWriter::KeepFrom() const {
  std::uint64_t from = std::numeric_limits<std::uint64_t>::max();
  if (settled_) return from;
  for (std::size_t i = 0; i < cue_lines_; ++i) {
    const HeldLine& line = cue().lines[i];
    if (line.is_long) from = std::min(from, line.long_text.range.begin);
  }
  return from;
}

// Most lines that differ differ in size.
bool LineTranscriptWriter::Same(const CueLines& a, std::size_t i, const CueLines& b,
                                std::size_t j) {
  const HeldLine& line_a = a.lines[i];
  const HeldLine& line_b = b.lines[j];
  if (line_a.size != line_b.size || line_a.is_long != line_b.is_long) return false;
  if (!line_a.is_long) return std::memcmp(a.Data(i), b.Data(j), line_a.size) == 0;
  return line_a.long_text.size == line_b.long_text.size &&
         line_a.long_text.hash == line_b.long_text.hash;
}

// Tried from the largest k down; the cue's lines are all held, since a cue
// settles by its kComparedLines-th line, and the cue before holds its last
// kComparedLines.
inline std::size_t LineTranscriptWriter::RepeatedLineCount() const {
  const std::size_t most = std::min({cue_lines_, previous_lines_, kComparedLines});
  for (std::size_t k = most; k > 0; --k) {
    const std::size_t first = previous().held - k;
    std::size_t i = 0;
    while (i < k && Same(previous(), first + i, cue(), i)) ++i;
    if (i == k) return k;
  }
  return 0;
}

[[gnu::noinline]] void LineTranscriptWriter::Settle(std::string_view last_speaker) {
  settled_ = true;
  const std::size_t last = cue_lines_ - 1;
  for (std::size_t i = RepeatedLineCount(); i <= last; ++i) {
    const HeldLine& line = cue().lines[i];
    Write(i == last ? last_speaker : HeldSpeaker(i), cue().Text(i),
          line.is_long ? &line.long_text : nullptr);
  }
}

// A line is labelled "Name: " when its voice has a name that differs from the
// voice of the line written before it; a line without a named voice resets
// that.
inline void LineTranscriptWriter::Write(std::string_view speaker, std::string_view text,
                                        const LongText* long_text) {
  std::string& bytes = output_.bytes;
  if (speaker != last_speaker_) WriteLabel(speaker);
  if (long_text != nullptr) {
    MarkLong(*long_text);
  } else {
    bytes.append(text);
  }
  bytes.push_back('\r');
  bytes.push_back('\n');
}

[[gnu::noinline]] void LineTranscriptWriter::WriteLabel(std::string_view speaker) {
  if (!speaker.empty()) output_.bytes.append(speaker).append(": ");
  last_speaker_.assign(speaker);
}

[[gnu::noinline]] void LineTranscriptWriter::MarkLong(const LongText& text) {
  output_.long_lines.push_back({output_.bytes.size(), text.range, text.last_close, text.voice});
}

}  // namespace orvane
