#include "conversion/line_writer.h"

#include <algorithm>
#include <limits>

namespace orvane {
namespace {

// A line's buffer is taken whole unless it holds more room than this beyond
// twice the line, so that each held line keeps memory in step with its text.
constexpr std::size_t kSmallBuffer = 256;

}  // namespace

void LineTranscriptWriter::BeginCue(const CueTiming& /*timing*/) {
  cue_lines_ = 0;
  settled_ = false;
}

void LineTranscriptWriter::AddLine(const CueLine& line) {
  HeldLine& held = cue()[cue_lines_ % kComparedLines];
  if (held.speaker != line.speaker) held.speaker.assign(line.speaker);
  held.is_long = line.long_text != nullptr;
  if (held.is_long) {
    HoldLong(held, *line.long_text);
  } else if (line.text->capacity() <= 2 * line.text->size() + kSmallBuffer) {
    held.text.swap(*line.text);  // the reader's buffer, taken rather than copied
  } else {
    held.text.assign(*line.text);  // a buffer grown by a longer line stays with the reader
  }
  ++cue_lines_;
  if (settled_) {
    Write(held);
  } else if (cue_lines_ >= std::min(previous_lines_, kComparedLines)) {
    // Later lines cannot change which lines repeat the cue before.
    Settle();
  }
}

void LineTranscriptWriter::HoldLong(HeldLine& held, const LongText& text) {
  held.long_text = text;
  held.text.clear();
}

void LineTranscriptWriter::EndCue() {
  if (cue_lines_ == 0) return;  // the cue before stays the one to compare with
  if (!settled_) Settle();
  cue_at_ ^= 1;
  previous_lines_ = cue_lines_;
  cue_lines_ = 0;
}

void LineTranscriptWriter::Reset() {
  cue_lines_ = previous_lines_ = 0;
  settled_ = false;
  for (Lines& lines : lines_) {
    for (HeldLine& line : lines) {
      ClearKeepingSmall(line.text);
      line.long_text.voice = Voice();
    }
  }
  last_speaker_.clear();
}

std::uint64_t LineTranscriptWriter::KeepFrom() const {
  std::uint64_t from = std::numeric_limits<std::uint64_t>::max();
  if (settled_) return from;
  for (std::size_t i = 0; i < cue_lines_; ++i) {
    if (cue()[i].is_long) from = std::min(from, cue()[i].long_text.range.begin);
  }
  return from;
}

bool LineTranscriptWriter::Same(const HeldLine& a, const HeldLine& b) {
  if (a.is_long != b.is_long) return false;
  if (!a.is_long) return a.text == b.text;
  return a.long_text.size == b.long_text.size && a.long_text.hash == b.long_text.hash;
}

// Tried from the largest k down; the cue's lines are all held, since a cue
// settles by its kComparedLines-th line.
std::size_t LineTranscriptWriter::RepeatedLineCount() const {
  const std::size_t most = std::min({cue_lines_, previous_lines_, kComparedLines});
  for (std::size_t k = most; k > 0; --k) {
    const std::size_t first = previous_lines_ - k;
    std::size_t i = 0;
    while (i < k && Same(previous()[(first + i) % kComparedLines], cue()[i])) ++i;
    if (i == k) return k;
  }
  return 0;
}

[[gnu::noinline]] void LineTranscriptWriter::Settle() {
  settled_ = true;
  for (std::size_t i = RepeatedLineCount(); i < cue_lines_; ++i) Write(cue()[i]);
}

// A line is labelled "Name: " when its voice has a name that differs from the
// voice of the line written before it; a line without a named voice resets
// that.
inline void LineTranscriptWriter::Write(const HeldLine& line) {
  std::string& bytes = output_.bytes;
  if (line.speaker != last_speaker_) WriteLabel(line.speaker);
  if (line.is_long) {
    MarkLong(line.long_text);
  } else {
    bytes.append(line.text);
  }
  bytes.append("\r\n");
}

[[gnu::noinline]] void LineTranscriptWriter::WriteLabel(const std::string& speaker) {
  if (!speaker.empty()) output_.bytes.append(speaker).append(": ");
  last_speaker_.assign(speaker);
}

[[gnu::noinline]] void LineTranscriptWriter::MarkLong(const LongText& text) {
  output_.long_lines.push_back({output_.bytes.size(), text.range, text.last_close, text.voice});
}

}  // namespace orvane
