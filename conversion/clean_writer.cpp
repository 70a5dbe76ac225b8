#include "conversion/clean_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace orvane {
namespace {

// A cue that only repeats the cue before and lasts this long or less is a
// flash between two cues, not a line said again.
constexpr std::int64_t kFlashMillis = 50;
// Rolling captions hold a line between cues: a cue that only repeats the cue
// before and starts within this of its end holds it.
constexpr std::int64_t kHoldGapMillis = 100;
// A pause this long starts a new paragraph.
constexpr std::int64_t kPauseMillis = 2000;
// A paragraph this long (in code points) ends at a sentence's end, or at
// the next line when it is twice as long.
constexpr std::uint64_t kSentenceBreakChars = 500;
constexpr std::uint64_t kParagraphChars = 1000;
// A cue whose first line may have grown from the cue before's last line is
// held until it is known whether it is rolling: until an inline timestamp or
// its end, but no longer than this many lines or bytes, after which it is
// taken as not rolling.
constexpr std::size_t kMostUndecidedLines = 64;
constexpr std::size_t kMostUndecidedBytes = std::size_t{1} << 20;

// Counts the bytes that are not UTF-8 continuation bytes (10xxxxxx), eight
// at a time.
std::uint64_t CodePoints(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::uint64_t continuations = 0;
  std::size_t at = 0;
  for (; text.size() - at >= 8; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    // One bit a continuation byte, summed by a multiplication (no popcnt
    // instruction in the baseline x86-64).
    const std::uint64_t ones = (word & ~(word << 1) & kHighBits) >> 7;
    continuations += (ones * 0x0101010101010101u) >> 56;
  }
  for (; at < text.size(); ++at) {
    continuations += (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  }
  return text.size() - continuations;
}

// The code point of the UTF-8 sequence at the start of `text`, which is well
// formed (cleaned text is); 0 when empty.
char32_t FirstCodePoint(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return lead;
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (0x3F >> (length - 1));
  for (int i = 1; i < length && static_cast<std::size_t>(i) < text.size(); ++i) {
    c = (c << 6) | (static_cast<unsigned char>(text[static_cast<std::size_t>(i)]) & 0x3F);
  }
  return c;
}

char32_t LastCodePoint(std::string_view text) {
  std::size_t at = text.size();
  while (at > 0 && (static_cast<unsigned char>(text[at - 1]) & 0xC0) == 0x80) --at;
  return at == 0 ? 0 : FirstCodePoint(text.substr(at - 1));
}

void AppendTail(std::string& tail, std::string_view bytes) {
  if (bytes.size() >= LongText::kTailBytes) {
    tail.assign(bytes.substr(bytes.size() - LongText::kTailBytes));
    return;
  }
  tail.append(bytes);
  if (tail.size() > LongText::kTailBytes) tail.erase(0, tail.size() - LongText::kTailBytes);
}

// Chinese and Japanese are written without spaces between words; Korean
// keeps them (its syllables lie outside these blocks).
bool IsJoinedWithoutSpace(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF);
}

// The size of the run of '>' a line starts with when it is a speaker-change
// marker (two or more), else 0.
std::size_t MarkerSize(std::string_view text) {
  std::size_t size = 0;
  while (size < text.size() && text[size] == '>') ++size;
  return size >= 2 ? size : 0;
}

void AppendTwoDigits(std::int64_t value, std::string& out) {
  out.push_back(static_cast<char>('0' + value / 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// "[MM:SS] " below an hour, "[H:MM:SS] " from an hour on, rounded down.
void AppendTimeStamp(std::int64_t millis, std::string& out) {
  const std::int64_t seconds = std::max<std::int64_t>(millis, 0) / 1000;
  out.push_back('[');
  if (seconds >= 3600) {
    out.append(std::to_string(seconds / 3600));
    out.push_back(':');
  }
  AppendTwoDigits(seconds / 60 % 60, out);
  out.push_back(':');
  AppendTwoDigits(seconds % 60, out);
  out.append("] ");
}

}  // namespace

// ---------------------------------------------------------------------------
// The line layout.

inline void LineLayout::Settle() {
  if (output_.unsettled_at == TranscriptOutput::kAllSettled) return;
  output_.bytes.push_back('\r');
  output_.bytes.push_back('\n');
  output_.unsettled_at = TranscriptOutput::kAllSettled;
}

// Lines of this layout have nothing to leave out.
inline void LineLayout::Append(const KeptLine& line) {
  if (line.long_text != nullptr) {
    const LongText& text = *line.long_text;
    output_.long_lines.push_back({output_.bytes.size(), text.range, text.last_close, text.voice,
                                  text.skip, text.last_brace});
  } else {
    output_.bytes.append(line.text);
  }
}

void LineLayout::Add(std::string_view speaker, const KeptLine& line) {
  Settle();
  if (speaker != speaker_) [[unlikely]] {
    if (!speaker.empty()) output_.bytes.append(speaker).append(": ");
    speaker_.assign(speaker);
  }
  output_.unsettled_at = output_.bytes.size();
  Append(line);
}

// The line replaced keeps its place and its label.
void LineLayout::Replace(const KeptLine& line) {
  const std::size_t at = output_.unsettled_at;
  if (at == TranscriptOutput::kAllSettled) {
    Add(speaker_, line);
    return;
  }
  output_.bytes.resize(at);
  while (!output_.long_lines.empty() && output_.long_lines.back().at >= at) {
    output_.long_lines.pop_back();
  }
  Append(line);
}

void LineLayout::Finish() { Settle(); }

void LineLayout::Reset() { speaker_.clear(); }

// ---------------------------------------------------------------------------
// The paragraph layout.

void ParagraphLayout::Add(std::string_view speaker, bool marker, const KeptLine& line) {
  if (open_ && output_.unsettled_at == TranscriptOutput::kAllSettled) open_ = false;
  if (marker) speaker_.clear();
  bool labelled = false;
  if (!speaker.empty() && speaker != speaker_) {
    speaker_.assign(speaker);
    labelled = true;
  }
  bool breaks = !open_ || labelled || marker || line.timing.start >= last_end_ + kPauseMillis;
  // Bytes bound code points from above: most paragraphs need no count.
  if (!breaks &&
      (html_ || output_.bytes.size() - base() - text_from_ + long_chars_ >= kSentenceBreakChars)) {
    const std::uint64_t chars = Chars();
    breaks = chars >= kParagraphChars || (chars >= kSentenceBreakChars && EndsSentence(Tail()));
  }
  if (breaks) Open(line, labelled);
  Join(line);
  last_end_ = line.timing.end;
}

void ParagraphLayout::Open(const KeptLine& line, bool labelled) {
  Close();
  open_ = true;
  std::string& bytes = output_.bytes;
  output_.unsettled_at = bytes.size();
  if (html_) {
    bytes.append("<p>");
    if (timed_) {
      bytes.append("<time datetime=\"PT")
          .append(std::to_string(std::max<std::int64_t>(line.timing.start, 0) / 1000))
          .append("S\">");
      AppendTimeStamp(line.timing.start, bytes);
      bytes.pop_back();  // the space goes after the element
      bytes.append("</time> ");
    }
    if (labelled) {
      bytes.append("<strong>");
      AppendHtml(speaker_, bytes);
      bytes.append(":</strong> ");
    }
    html_chars_ = 0;
    html_tail_.clear();
  } else {
    if (written_) bytes.append("\r\n");
    if (timed_) AppendTimeStamp(line.timing.start, bytes);
    if (labelled) bytes.append(speaker_).append(": ");
  }
  text_from_ = counted_to_ = bytes.size() - base();
  counted_chars_ = 0;
  longs_ = 0;
  long_chars_ = 0;
  long_tails_.clear();
}

void ParagraphLayout::Close() {
  if (!open_) return;
  open_ = false;
  std::string& bytes = output_.bytes;
  if (bytes.size() == base() + text_from_ && longs_ == 0) {
    bytes.resize(base());  // a marker alone
  } else {
    bytes.append(html_ ? "</p>\n" : "\r\n");
    written_ = true;
  }
  output_.unsettled_at = TranscriptOutput::kAllSettled;
}

std::uint64_t ParagraphLayout::Chars() {
  if (html_) return html_chars_;
  const std::size_t end = output_.bytes.size() - base();
  counted_chars_ += CodePoints(std::string_view(output_.bytes).substr(base() + counted_to_));
  counted_to_ = end;
  return counted_chars_ + long_chars_;
}

std::string_view ParagraphLayout::Tail() const {
  if (html_) return html_tail_;
  const std::size_t end = output_.bytes.size() - base();
  std::size_t from = text_from_;
  if (!long_tails_.empty()) {
    if (long_tails_.back().first == end) return long_tails_.back().second;
    from = long_tails_.back().first;
  }
  from = std::max(from, end - std::min<std::size_t>(end, LongText::kTailBytes));
  return std::string_view(output_.bytes).substr(base() + from);
}

void ParagraphLayout::Join(const KeptLine& line) {
  const std::string_view start =
      line.long_text != nullptr ? std::string_view(line.long_text->head) : line.text;
  const std::string_view rest = start.substr(std::min(line.strip, start.size()));
  const bool has_text = output_.bytes.size() > base() + text_from_ || longs_ != 0;
  if (has_text && !rest.empty() && !IsJoinedWithoutSpace(LastCodePoint(Tail())) &&
      !IsJoinedWithoutSpace(FirstCodePoint(rest))) {
    output_.bytes.push_back(' ');
    if (html_) {
      ++html_chars_;
      AppendTail(html_tail_, " ");
    }
  }
  Append(line, line.strip);
}

void ParagraphLayout::Append(const KeptLine& line, std::size_t strip) {
  std::string& bytes = output_.bytes;
  last_at_ = bytes.size() - base();
  last_longs_ = longs_;
  last_long_chars_ = long_chars_;
  last_strip_ = strip;
  if (html_) {
    last_html_chars_ = html_chars_;
    last_html_tail_ = html_tail_;
  }
  if (line.long_text == nullptr) {
    const std::string_view rest = line.text.substr(std::min(strip, line.text.size()));
    if (!html_) {
      bytes.append(rest);
      return;
    }
    AppendHtml(rest, bytes);
    html_chars_ += CodePoints(rest);
    AppendTail(html_tail_, rest);
    return;
  }
  const LongText& text = *line.long_text;
  const std::size_t stripped = std::min(strip, text.head.size());
  if (text.size <= stripped) return;  // a marker alone
  output_.long_lines.push_back({bytes.size(), text.range, text.last_close, text.voice,
                                text.skip + stripped, text.last_brace, html_});
  ++longs_;
  const std::uint64_t chars =
      text.code_points - CodePoints(std::string_view(text.head).substr(0, stripped));
  long_chars_ += chars;
  long_tails_.emplace_back(last_at_, text.tail);
  if (html_) {
    html_chars_ += chars;
    if (text.size <= text.head.size()) {
      AppendTail(html_tail_, std::string_view(text.head).substr(stripped));
    } else {
      html_tail_ = text.tail;
    }
  }
}

// The line replaced keeps its place, its joining space and its paragraph; the
// line that replaces it leaves out what it left out.
void ParagraphLayout::Replace(const KeptLine& line) {
  if (open_ && output_.unsettled_at == TranscriptOutput::kAllSettled) open_ = false;
  if (!open_) {
    Add({}, false, line);
    return;
  }
  output_.bytes.resize(base() + last_at_);
  output_.long_lines.resize(output_.long_lines.size() - (longs_ - last_longs_));
  longs_ = last_longs_;
  long_tails_.resize(last_longs_);
  long_chars_ = last_long_chars_;
  if (html_) {
    html_chars_ = last_html_chars_;
    html_tail_ = last_html_tail_;
  }
  if (counted_to_ > last_at_) {
    counted_to_ = text_from_;
    counted_chars_ = 0;
  }
  Append(line, last_strip_);
  last_end_ = line.timing.end;
}

void ParagraphLayout::Reset() {
  open_ = written_ = false;
  speaker_.clear();
  last_end_ = 0;
  long_tails_.clear();
}

// ---------------------------------------------------------------------------
// Which lines are kept.

CleanTranscriptWriter::CleanTranscriptWriter(TranscriptOutput& output, TranscriptLayout layout)
    : output_(output),
      layout_(layout),
      line_layout_(output),
      paragraph_layout_(
          output,
          layout == TranscriptLayout::kTimedParagraphs || layout == TranscriptLayout::kTimedPage,
          layout == TranscriptLayout::kPage || layout == TranscriptLayout::kTimedPage) {}

bool CleanTranscriptWriter::is_page() const {
  return layout_ == TranscriptLayout::kPage || layout_ == TranscriptLayout::kTimedPage;
}

// The page's language: the header's, else the one the caption file's name
// tells, else the run's, else undetermined.
void CleanTranscriptWriter::WritePageHead() {
  page_started_ = true;
  static const PageInfo kNoPage;
  const PageInfo& page = page_ != nullptr ? *page_ : kNoPage;
  std::string language = header_language_;
  if (!IsLanguageTag(language)) language = LanguageOfName(page.name);
  if (language.empty() && IsLanguageTag(page.language)) language = page.language;
  if (language.empty()) language = "und";
  AppendPageHead(page, language, output_.bytes);
}

void CleanTranscriptWriter::HeaderLanguage(std::string_view language) {
  if (!header_seen_) header_language_.assign(language);
  header_seen_ = true;
}

inline CleanTranscriptWriter::HeldLine& CleanTranscriptWriter::CueLines::Hold(
    const CueLine& line, std::string_view speaker) {
  if (held == lines.size()) lines.emplace_back();
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
  kept.speaker_size = speaker.size();
  if (!speaker.empty()) text.append(speaker);
  return kept;
}

void CleanTranscriptWriter::CueLines::KeepLast(std::size_t count) {
  if (held <= count) return;
  const std::size_t first = held - count;
  const std::size_t dropped = lines[first].at;
  text.erase(0, dropped);
  for (std::size_t i = 0; i < count; ++i) {
    std::swap(lines[i], lines[first + i]);
    lines[i].at -= dropped;
  }
  held = count;
}

void CleanTranscriptWriter::BeginCue(const CueTiming& timing) {
  if (is_page() && !page_started_) [[unlikely]] {
    WritePageHead();
  }
  timing_ = timing;
  cue_lines_ = 0;
  settled_ = false;
  cue_rolling_ = false;
  turn_ = false;
}

// Paragraphs read a ">>" marker: it starts a turn, whose speaker is the
// line's voice or a label after the marker, and the cue's later lines without
// a voice take it. The line layout keeps the marker as text.
std::string_view CleanTranscriptWriter::Speaker(const CueLine& line, bool& marker,
                                                std::size_t& strip) {
  if (layout_ == TranscriptLayout::kLines) return line.speaker.empty() ? line.label : line.speaker;
  const std::string_view head =
      line.long_text != nullptr ? std::string_view(line.long_text->head) : line.text;
  const std::size_t run = MarkerSize(head);
  if (run == 0) {
    if (!line.speaker.empty()) return line.speaker;
    return turn_ ? std::string_view(turn_speaker_) : line.label;
  }
  marker = true;
  strip = run + (run < head.size() && head[run] == ' ' ? 1 : 0);
  std::string_view speaker = line.speaker;
  if (speaker.empty()) {
    const std::string_view rest = head.substr(strip);
    if (const std::size_t label = TextLabelSize(rest); label != 0) {
      speaker = rest.substr(0, label);
      strip += label + 2;
    }
  }
  turn_ = true;
  turn_speaker_.assign(speaker);
  return turn_speaker_;
}

void CleanTranscriptWriter::AddLine(const CueLine& line) {
  bool marker = false;
  std::size_t strip = 0;
  const std::string_view speaker = Speaker(line, marker, strip);
  if (settled_ && cue().held >= 2 * kComparedLines) cue().KeepLast(kComparedLines);
  // A line written at once needs no copy of its speaker.
  HeldLine& held = cue().Hold(line, settled_ ? std::string_view() : speaker);
  held.marker = marker;
  held.strip = strip;
  ++cue_lines_;
  if (settled_) {
    Emit(cue().held - 1, speaker);
  } else if (cue_lines_ > std::min(previous_lines_, kComparedLines)) {
    // Later lines cannot change which lines repeat the cue before.
    Settle(false);
  }
}

void CleanTranscriptWriter::InlineTimestamp() {
  cue_rolling_ = true;
  // A cue that waited to know whether it is rolling now knows.
  if (!settled_ && cue_lines_ > std::min(previous_lines_, kComparedLines)) Settle(false);
}

std::uint64_t CleanTranscriptWriter::GrowthPrefixSize() const {
  const CueLines& lines = previous();
  if (lines.held == 0) return 0;
  const HeldLine& last = lines.lines[lines.held - 1];
  return last.is_long ? last.long_text.size : last.size;
}

void CleanTranscriptWriter::EndCue() {
  if (cue_lines_ != 0) {
    if (!settled_) Settle(true);
    cue().KeepLast(kComparedLines);
    previous_end_ = timing_.end;
    previous_lines_ = cue_lines_;
    cue_at_ ^= 1;
    cue().Clear();
    cue_lines_ = 0;
  }
  file_rolling_ = file_rolling_ || cue_rolling_;
  cue_rolling_ = false;
}

void CleanTranscriptWriter::Finish() {
  if (layout_ == TranscriptLayout::kLines) {
    line_layout_.Finish();
    return;
  }
  if (is_page() && !page_started_) WritePageHead();
  paragraph_layout_.Finish();
  if (is_page()) AppendPageFoot(output_.bytes);
}

void CleanTranscriptWriter::Reset() {
  line_layout_.Reset();
  paragraph_layout_.Reset();
  for (CueLines& lines : lines_) {
    ClearKeepingSmall(lines.text);
    lines.held = 0;
    if (lines.lines.size() > 2 * kComparedLines) lines.lines.resize(2 * kComparedLines);
    for (HeldLine& line : lines.lines) line.long_text = LongText();
  }
  cue_lines_ = previous_lines_ = 0;
  previous_end_ = 0;
  settled_ = file_rolling_ = cue_rolling_ = turn_ = false;
  turn_speaker_.clear();
  page_started_ = header_seen_ = false;
  header_language_.clear();
}

std::uint64_t CleanTranscriptWriter::KeepFrom() const {
  std::uint64_t from = std::numeric_limits<std::uint64_t>::max();
  for (const LongLine& line : output_.long_lines) from = std::min(from, line.range.begin);
  if (!settled_) {
    for (std::size_t i = 0; i < cue().held; ++i) {
      const HeldLine& line = cue().lines[i];
      if (line.is_long) from = std::min(from, line.long_text.range.begin);
    }
  }
  return from;
}

// Most lines that differ differ in size.
bool CleanTranscriptWriter::Same(const CueLines& a, std::size_t i, const CueLines& b,
                                 std::size_t j) {
  const HeldLine& line_a = a.lines[i];
  const HeldLine& line_b = b.lines[j];
  if (line_a.size != line_b.size || line_a.is_long != line_b.is_long) return false;
  if (!line_a.is_long) return std::memcmp(a.Data(i), b.Data(j), line_a.size) == 0;
  return line_a.long_text.size == line_b.long_text.size &&
         line_a.long_text.hash == line_b.long_text.hash;
}

// True when line i of `a` is a proper prefix of line j of `b`, byte for
// byte; a long line of `b` knows the hash of its prefix of the size that
// matters.
bool CleanTranscriptWriter::Grows(const CueLines& a, std::size_t i, const CueLines& b,
                                  std::size_t j) {
  const HeldLine& from = a.lines[i];
  const HeldLine& to = b.lines[j];
  if (!to.is_long) {
    return !from.is_long && from.size < to.size &&
           std::memcmp(a.Data(i), b.Data(j), from.size) == 0;
  }
  const std::uint64_t size = from.is_long ? from.long_text.size : from.size;
  if (size == 0 || to.long_text.prefix_size != size) return false;
  if (from.is_long) return to.long_text.prefix_hash == from.long_text.hash;
  TextHash hash;
  hash.Add(a.Text(i));
  return to.long_text.prefix_hash == hash.value();
}

// The largest k such that the cue's first k lines match the cue before's
// last k: equal, except that in rolling captions the k-th may have grown.
CleanTranscriptWriter::Overlap CleanTranscriptWriter::FindOverlap(bool rolling) const {
  const std::size_t most = std::min({cue_lines_, previous_lines_, kComparedLines});
  for (std::size_t k = most; k > 0; --k) {
    const std::size_t first = previous().held - k;
    std::size_t i = 0;
    while (i < k && Same(previous(), first + i, cue(), i)) ++i;
    if (i == k) return {k, false};
    if (rolling && i == k - 1 && Grows(previous(), first + i, cue(), i)) return {k, true};
  }
  return {};
}

[[gnu::noinline]] void CleanTranscriptWriter::Settle(bool at_end) {
  Overlap overlap = FindOverlap(true);
  if (overlap.grew && !rolling()) {
    // Growth counts only in rolling captions, which an inline timestamp in a
    // later line of this cue would make it.
    if (!at_end && cue().held < kMostUndecidedLines && cue().text.size() < kMostUndecidedBytes) {
      return;
    }
    overlap = FindOverlap(false);
  }
  settled_ = true;
  std::size_t first = overlap.k;
  if (overlap.k == cue_lines_ && !overlap.grew) {
    // The cue shows only lines the cue before showed.
    const bool flash = timing_.end - timing_.start <= kFlashMillis;
    const bool held_on = rolling() && timing_.start <= previous_end_ + kHoldGapMillis;
    if (flash || held_on) return;
    first = 0;  // said again
  }
  if (overlap.grew) {
    const KeptLine line = Kept(overlap.k - 1);
    if (layout_ == TranscriptLayout::kLines) {
      line_layout_.Replace(line);
    } else {
      paragraph_layout_.Replace(line);
    }
  }
  for (std::size_t i = first; i < cue().held; ++i) Emit(i, cue().Speaker(i));
}

KeptLine CleanTranscriptWriter::Kept(std::size_t i) const {
  const HeldLine& line = cue().lines[i];
  return {cue().Text(i), line.is_long ? &line.long_text : nullptr, line.strip, timing_};
}

inline void CleanTranscriptWriter::Emit(std::size_t i, std::string_view speaker) {
  if (layout_ == TranscriptLayout::kLines) {
    line_layout_.Add(speaker, Kept(i));
  } else {
    paragraph_layout_.Add(speaker, cue().lines[i].marker, Kept(i));
  }
}

}  // namespace orvane
