// The block reader runs on lines of two kinds alike: WholeLine, held in a
// piece or in the reading layer's buffer, and StreamedLine, longer than the
// limit, whose facts were gathered as it passed. Both answer the questions
// TakeLine asks, so the WebVTT block rules are written once.
#include "conversion/webvtt_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "conversion/timing_shape.h"

namespace orvane {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kSignature = "WEBVTT";
constexpr std::string_view kArrow = "-->";
// Traits of a line not scanned yet.
constexpr unsigned kUnscanned = ~0u;
// Long lines are read again this many bytes at a time: as many as a read
// takes the first time, so that a long line costs no more calls the second.
constexpr std::size_t kRereadBlock = kDefaultReadBlock;
// A timestamp whose hours have more digits than this is no timestamp: no
// real time is so long, and the milliseconds of nine digits of hours fit.
constexpr int kMaxHourDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first CR or LF in [at, end), or `end` when there is none.
const char* FindLineEnd(const char* at, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; end - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
    if (mask != 0) return at + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  for (; at < end; ++at) {
    if (*at == '\n' || *at == '\r') return at;
  }
  return end;
}

// True when `line` contains "-->". Most lines tested are short cue
// identifiers, for which a call to memchr costs more than the search.
bool HasArrow(std::string_view line) {
  const char* const end = line.data() + line.size();
  for (const char* dash = FindByte(line.data(), end, '-'); end - dash >= 3;
       dash = FindByte(dash + 1, end, '-')) {
    if (dash[1] == '-' && dash[2] == '>') return true;
  }
  return false;
}

int TwoDigitValue(const char* at) { return (at[0] - '0') * 10 + at[1] - '0'; }

std::int64_t Millis(std::int64_t hours, std::int64_t minutes, std::int64_t seconds,
                    std::int64_t fraction) {
  return ((hours * 60 + minutes) * 60 + seconds) * 1000 + fraction;
}

// Reads the line layout "HH:MM:SS.mmm --> HH:MM:SS.mmm...", the one nearly
// every timing line has, checked at once.
bool ReadUsualTimingLine(std::string_view line, CueTiming& timing) {
  if (line.size() < kTimingShape.size()) return false;
  const char* at = line.data();
  // SubRip's layout, with ',' before the milliseconds, is tested as a copy
  // with '.' there.
  constexpr std::size_t kFractions[] = {8, 25};
  char dotted[kTimingShape.size()];
  if (at[kFractions[0]] == ',' && at[kFractions[1]] == ',') {
    std::memcpy(dotted, at, sizeof dotted);
    for (const std::size_t fraction : kFractions) dotted[fraction] = '.';
    at = dotted;
  }
  if (!MatchesTimingShape(at) ||
      (line.size() > kTimingShape.size() && IsDigit(line[kTimingShape.size()]))) {
    return false;
  }
  const auto time = [at](std::size_t from, std::int64_t& millis) {
    const int minutes = TwoDigitValue(at + from + 3);
    const int seconds = TwoDigitValue(at + from + 6);
    millis = Millis(TwoDigitValue(at + from), minutes, seconds,
                    (at[from + 9] - '0') * 100 + TwoDigitValue(at + from + 10));
    return minutes <= 59 && seconds <= 59;
  };
  return time(0, timing.start) && time(17, timing.end);
}

}  // namespace

// ---------------------------------------------------------------------------
// Timings.

TimingReader::Timestamp::Result TimingReader::Timestamp::Take(char c) {
  const bool digit = IsDigit(c);
  if (field == 0) {
    if (digit) {
      if (++first_digits > kMaxHourDigits) return Result::kFailed;
      value[0] = value[0] * 10 + (c - '0');
      return Result::kMore;
    }
    if (c != ':' || first_digits == 0) return Result::kFailed;
    field = 1;
    return Result::kMore;
  }
  const int wanted = field == 3 ? 3 : 2;
  if (digit) {
    if (digits == wanted) return Result::kFailed;
    ++digits;
    value[field] = value[field] * 10 + (c - '0');
    return Result::kMore;
  }
  if (digits != wanted) return Result::kFailed;
  if (field == 3) return Result::kDone;
  if (value[field] > 59) return Result::kFailed;
  if (field == 1 && c == ':') {
    three_fields = true;
    field = 2;
    digits = 0;
    return Result::kMore;
  }
  // Without hours, the first field holds the minutes.
  if ((c != '.' && c != ',') || (!three_fields && (first_digits != 2 || value[0] > 59))) {
    return Result::kFailed;
  }
  field = 3;
  digits = 0;
  return Result::kMore;
}

std::int64_t TimingReader::Timestamp::Millis() const {
  return three_fields ? orvane::Millis(value[0], value[1], value[2], value[3])
                      : orvane::Millis(0, value[0], value[1], value[3]);
}

void TimingReader::Take(char c) {
  for (;;) {
    switch (step_) {
      case Step::kBlanks:
      case Step::kAfterArrow:
        if (IsBlank(c)) return;
        step_ = step_ == Step::kBlanks ? Step::kStart : Step::kEnd;
        stamp_ = Timestamp();
        continue;
      case Step::kStart:
      case Step::kEnd:
        switch (stamp_.Take(c)) {
          case Timestamp::Result::kMore:
            return;
          case Timestamp::Result::kFailed:
            step_ = Step::kFailed;
            return;
          case Timestamp::Result::kDone:
            break;
        }
        if (step_ == Step::kEnd) {
          timing_.end = stamp_.Millis();
          step_ = Step::kDone;
          return;
        }
        timing_.start = stamp_.Millis();
        step_ = Step::kBeforeArrow;
        continue;
      case Step::kBeforeArrow:
        if (IsBlank(c)) return;
        arrow_ = 0;
        step_ = Step::kArrow;
        continue;
      case Step::kArrow:
        if (c != kArrow[static_cast<std::size_t>(arrow_)]) {
          step_ = Step::kFailed;
        } else if (++arrow_ == 3) {
          step_ = Step::kAfterArrow;
        }
        return;
      case Step::kDone:
      case Step::kFailed:
        return;
    }
  }
}

void TimingReader::Add(std::string_view bytes) {
  for (const char c : bytes) {
    if (decided()) return;
    Take(c);
  }
}

bool TimingReader::Finish(CueTiming& timing) {
  if (step_ == Step::kEnd && stamp_.field == 3 && stamp_.digits == 3) {
    timing_.end = stamp_.Millis();
    step_ = Step::kDone;
  }
  if (step_ != Step::kDone) {
    step_ = Step::kFailed;
    return false;
  }
  timing = timing_;
  return true;
}

// Kept out of ParseTimingLine, which then has little to set up for the usual
// layout.
[[gnu::noinline]] static bool ReadAnyTimingLine(std::string_view line, CueTiming& timing) {
  TimingReader reader;
  reader.Add(line);
  return reader.Finish(timing);
}

bool ParseTimingLine(std::string_view line, CueTiming& timing) {
  return ReadUsualTimingLine(line, timing) || ReadAnyTimingLine(line, timing);
}

// ---------------------------------------------------------------------------
// SBV timings.

SbvTimingReader::Timestamp::Result SbvTimingReader::Timestamp::Take(char c) {
  if (IsDigit(c)) {
    const int most = field == 0 ? kMaxHourDigits : field == 3 ? 3 : 2;
    if (digits == most) return Result::kFailed;
    ++digits;
    value[field] = value[field] * 10 + (c - '0');
    return Result::kMore;
  }
  static constexpr char kAfter[] = {':', ':', '.'};
  if (field == 3) return digits == 3 ? Result::kDone : Result::kFailed;
  const bool whole = field == 0 ? digits > 0 : digits == 2 && value[field] <= 59;
  if (!whole || c != kAfter[field]) return Result::kFailed;
  ++field;
  digits = 0;
  return Result::kMore;
}

std::int64_t SbvTimingReader::Timestamp::Millis() const {
  return orvane::Millis(value[0], value[1], value[2], value[3]);
}

void SbvTimingReader::Take(char c) {
  switch (step_) {
    case Step::kBlanks:
      if (IsBlank(c)) return;
      step_ = Step::kStart;
      [[fallthrough]];
    case Step::kStart:
    case Step::kEnd:
      switch (stamp_.Take(c)) {
        case Timestamp::Result::kMore:
          return;
        case Timestamp::Result::kFailed:
          step_ = Step::kFailed;
          return;
        case Timestamp::Result::kDone:
          break;
      }
      if (step_ == Step::kStart) {
        timing_.start = stamp_.Millis();
        stamp_ = Timestamp();
        step_ = c == ',' ? Step::kEnd : Step::kFailed;
        return;
      }
      timing_.end = stamp_.Millis();
      step_ = IsBlank(c) ? Step::kTrailing : Step::kFailed;
      return;
    case Step::kTrailing:
      if (!IsBlank(c)) step_ = Step::kFailed;
      return;
    case Step::kFailed:
      return;
  }
}

void SbvTimingReader::Add(std::string_view bytes) {
  for (const char c : bytes) {
    if (step_ == Step::kFailed) return;
    Take(c);
  }
}

bool SbvTimingReader::Finish(CueTiming& timing) {
  if (step_ == Step::kEnd && stamp_.complete()) {
    timing_.end = stamp_.Millis();
    step_ = Step::kTrailing;
  }
  if (step_ != Step::kTrailing) {
    step_ = Step::kFailed;
    return false;
  }
  timing = timing_;
  return true;
}

bool ParseSbvTimingLine(std::string_view line, CueTiming& timing) {
  SbvTimingReader reader;
  reader.Add(line);
  return reader.Finish(timing);
}

// ---------------------------------------------------------------------------
// The two kinds of line the block reader takes.

class WebVttCueReader::WholeLine {
 public:
  WholeLine(std::string_view text, SourceRange range, unsigned traits = kUnscanned)
      : text_(text), range_(range), traits_(traits) {}
  bool empty() const { return text_.empty(); }
  bool StartsWithSignature() const { return text_.starts_with(kSignature); }
  bool HasArrow() const { return orvane::HasArrow(text_); }
  bool IsTiming(CueTiming& timing) const { return ParseTimingLine(text_, timing); }
  bool IsSbvTiming(CueTiming& timing) const { return ParseSbvTimingLine(text_, timing); }
  // The value of a "Language:" header line, spaces and tabs around it removed.
  bool IsLanguage(std::string_view& language) const {
    constexpr std::string_view kName = "Language:";
    if (!text_.starts_with(kName)) return false;
    language = text_.substr(kName.size());
    while (!language.empty() && IsBlank(language.front())) language.remove_prefix(1);
    while (!language.empty() && IsBlank(language.back())) language.remove_suffix(1);
    return true;
  }
  // HasArrow for a line of cue text, which is scanned for the cleaner anyway.
  bool TextHasArrow() {
    if (traits_ == kUnscanned) traits_ = ScanLine(text_);
    return (traits_ & kHasDash) != 0 && HasArrow();
  }
  void AddAsText(WebVttCueReader& reader) const { reader.AddHeldLine(text_, traits_, range_); }

 private:
  std::string_view text_;
  SourceRange range_;
  unsigned traits_;
};

class WebVttCueReader::StreamedLine {
 public:
  StreamedLine(WebVttCueReader& reader, SourceRange range) : reader_(reader), range_(range) {}
  static bool empty() { return false; }
  bool StartsWithSignature() const { return reader_.streamed_.prefix == kSignature; }
  bool HasArrow() const { return reader_.streamed_.has_arrow; }
  bool IsTiming(CueTiming& timing) const { return reader_.streamed_.timing.Finish(timing); }
  bool IsSbvTiming(CueTiming& timing) const { return reader_.streamed_.sbv_timing.Finish(timing); }
  // No language tag is so long.
  static bool IsLanguage(std::string_view& /*language*/) { return false; }
  bool TextHasArrow() const { return HasArrow(); }
  void AddAsText(WebVttCueReader& reader) const {
    reader.AddStreamedLine(range_, reader_.streamed_.last_close, reader_.streamed_.last_brace);
  }

 private:
  WebVttCueReader& reader_;
  SourceRange range_;
};

// ---------------------------------------------------------------------------
// Lines.

WebVttCueReader::WebVttCueReader(CueSink& sink, std::size_t line_limit)
    : sink_(&sink), held_limit_(line_limit / 16), lines_(*this, line_limit) {}

bool WebVttCueReader::Feed(std::string_view bytes, CaptionSource& source) {
  source_ = &source;
  while (bom_ < kByteOrderMark.size() && !bytes.empty()) {
    if (bytes.front() != kByteOrderMark[bom_]) {
      // No byte order mark: the bytes that looked like one are text.
      const std::size_t matched = std::exchange(bom_, kByteOrderMark.size());
      if (matched != 0 && !lines_.Feed(kByteOrderMark.substr(0, matched))) return false;
      break;
    }
    bytes.remove_prefix(1);
    if (++bom_ == kByteOrderMark.size()) lines_.SkipBytes(bom_);
  }
  return lines_.Feed(bytes);
}

void WebVttCueReader::Finish(CaptionSource& source) {
  source_ = &source;
  if (bom_ < kByteOrderMark.size()) {
    lines_.Feed(kByteOrderMark.substr(0, std::exchange(bom_, kByteOrderMark.size())));
  }
  lines_.Finish();
  if (block_ == Block::kCueText) EndCue();
  block_ = Block::kBetween;
}

void WebVttCueReader::Reset() {
  lines_.Reset();
  bom_ = 0;
  block_ = Block::kFirstLine;
  cleaner_.EndCue();
  cue_has_line_ = false;
  label_.clear();
  failed_ = false;
  ClearKeepingSmall(text_);
  streamed_.prefix.clear();
  streamed_.carry.clear();
}

const char* WebVttCueReader::ScanLines(const char* begin, const char* end, const char** line) {
  const void* const stop = std::memchr(begin, kCtrlZ, static_cast<std::size_t>(end - begin));
  const char* const limit = stop == nullptr ? end : static_cast<const char*>(stop);
  const char* at = begin;
  while (at < limit) {
    const char* const line_end = FindLineEnd(at, limit);
    if (line_end == limit) break;
    WholeLine whole(std::string_view(at, static_cast<std::size_t>(line_end - at)),
                    {lines_.OffsetOf(at), lines_.OffsetOf(line_end)});
    // Most lines are cue text: they skip the dispatch on the block state.
    if (block_ == Block::kCueText) {
      TakeCueText(whole);
    } else {
      TakeLine(whole);
    }
    at = line_end + 1;
    if (*line_end == '\r' && at < limit && *at == '\n') ++at;
  }
  *line = at;
  return static_cast<const char*>(stop);
}

void WebVttCueReader::OnLine(std::string_view line, std::uint64_t begin) {
  WholeLine whole(line, {begin, begin + line.size()});
  TakeLine(whole);
}

void WebVttCueReader::OnLongLineBegin(std::uint64_t begin) {
  streamed_.begin = begin;
  streamed_.size = 0;
  streamed_.prefix.clear();
  streamed_.carry.clear();
  streamed_.has_arrow = false;
  streamed_.last_close = streamed_.last_brace = 0;
  streamed_.timing = TimingReader();
  streamed_.sbv_timing = SbvTimingReader();
}

void WebVttCueReader::OnLongLineBytes(std::string_view bytes) {
  auto& line = streamed_;
  if (line.prefix.size() < kSignature.size()) {
    line.prefix.append(bytes.substr(0, kSignature.size() - line.prefix.size()));
  }
  if (!line.has_arrow) {
    // An arrow lies within the new bytes, or begins in the carry.
    const std::string joint = line.carry + std::string(bytes.substr(0, kArrow.size() - 1));
    line.has_arrow = HasArrow(joint) || HasArrow(bytes);
    const std::string_view last = bytes.size() >= kArrow.size() - 1 ? bytes : joint;
    line.carry = last.substr(last.size() - std::min(last.size(), kArrow.size() - 1));
  }
  if (const std::size_t close = bytes.rfind('>'); close != bytes.npos) {
    line.last_close = line.size + close;
  }
  if (format_ == CaptionFormat::kSubRip) {
    if (const std::size_t close = bytes.rfind('}'); close != bytes.npos) {
      line.last_brace = line.size + close;
    }
  }
  if (format_ == CaptionFormat::kSbv) {
    line.sbv_timing.Add(bytes);
  } else {
    line.timing.Add(bytes);
  }
  line.size += bytes.size();
}

void WebVttCueReader::OnLongLineEnd(std::uint64_t end) {
  StreamedLine line(*this, {streamed_.begin, end});
  TakeLine(line);
}

// ---------------------------------------------------------------------------
// Blocks. The header runs from a first line that starts with "WEBVTT" up to
// the first empty line or the first line with "-->". After it, blocks are runs
// of lines between empty lines. A line with "-->" is the timing line of its
// block when it is the block's first line, or its second after a first line
// without "-->"; anywhere else it ends the block and starts the next. A block
// whose timings do not parse is no cue and is dropped whole.

template <class Line>
void WebVttCueReader::TakeLine(Line& line) {
  if (format_ == CaptionFormat::kSbv) {
    TakeSbvLine(line);
    return;
  }
  switch (block_) {
    case Block::kFirstLine:
      // SubRip has no header.
      if (format_ == CaptionFormat::kWebVtt && line.StartsWithSignature()) {
        block_ = Block::kHeader;
        return;
      }
      // No header: the file is read as blocks from its first line on.
      block_ = Block::kBetween;
      [[fallthrough]];
    case Block::kBetween:
      if (!line.empty()) StartBlock(line);
      return;
    case Block::kHeader:
    case Block::kSkipped:
      if (line.empty()) {
        block_ = Block::kBetween;
      } else if (line.HasArrow()) {
        StartBlock(line);
      } else if (std::string_view language; block_ == Block::kHeader && line.IsLanguage(language)) {
        sink_->HeaderLanguage(language);
      }
      return;
    case Block::kSecondLine:
      // A timing line here makes the first line the cue identifier; any
      // other line, with "-->" or not, makes the block no cue.
      if (line.empty()) {
        block_ = Block::kBetween;
      } else {
        StartCueIfTiming(line);
      }
      return;
    case Block::kCueText:
      TakeCueText(line);
      return;
  }
}

// Inside a cue: an empty line ends it, a line with "-->" ends it and starts
// the next block, any other line is cue text.
template <class Line>
[[gnu::always_inline]] inline void WebVttCueReader::TakeCueText(Line& line) {
  if (line.empty()) {
    EndCue();
    block_ = Block::kBetween;
  } else if (format_ != CaptionFormat::kSbv && line.TextHasArrow()) {
    EndCue();
    StartBlock(line);
  } else {
    line.AddAsText(*this);
  }
}

template <class Line>
void WebVttCueReader::StartBlock(Line& line) {
  if (line.HasArrow()) {
    StartCueIfTiming(line);
  } else {
    block_ = Block::kSecondLine;
  }
}

template <class Line>
void WebVttCueReader::StartCueIfTiming(Line& line) {
  if (!line.IsTiming(timing_)) {
    block_ = Block::kSkipped;
    return;
  }
  StartCue();
}

// SBV: blocks are runs of lines between empty lines; a block whose first
// line is an SBV timing line is a cue, whose other lines are its text ("-->"
// means nothing); any other block is dropped.
template <class Line>
void WebVttCueReader::TakeSbvLine(Line& line) {
  switch (block_) {
    case Block::kCueText:
      TakeCueText(line);
      return;
    case Block::kFirstLine:
    case Block::kBetween:
      if (line.empty()) {
        block_ = Block::kBetween;
      } else if (line.IsSbvTiming(timing_)) {
        StartCue();
      } else {
        block_ = Block::kSkipped;
      }
      return;
    case Block::kHeader:
    case Block::kSecondLine:
    case Block::kSkipped:
      if (line.empty()) block_ = Block::kBetween;
      return;
  }
}

void WebVttCueReader::StartCue() {
  block_ = Block::kCueText;
  cue_has_line_ = false;
  label_.clear();
  sink_->BeginCue(timing_);
}

void WebVttCueReader::EndCue() {
  cleaner_.EndCue();
  sink_->EndCue();
}

// ---------------------------------------------------------------------------
// Cue text.

inline void WebVttCueReader::AddHeldLine(std::string_view line, unsigned traits,
                                         SourceRange range) {
  // Cleaning only shortens a line: only a line longer than the held limit
  // can give a LongText, which needs the voice open at its start.
  const bool may_be_long = line.size() > held_limit_;
  if (may_be_long) long_text_.voice = cleaner_.voice();
  ClearKeepingSmall(text_);  // a buffer grown by a long line is not kept
  const auto [text, speaker] = cleaner_.CleanLine(line, traits, text_);
  if (cleaner_.TakeTimestamp()) sink_->InlineTimestamp();
  if (text.empty()) return;
  if (!may_be_long || text.size() <= held_limit_ || HeldWithoutLabel(text, speaker)) {
    AddText(text, speaker);
  } else {
    AddLongLine(line, text, speaker, range);
  }
}

// A line is held or long by its size as it is compared, without a text label.
bool WebVttCueReader::HeldWithoutLabel(std::string_view text, std::string_view speaker) const {
  const std::size_t label = LabelSize(text, speaker);
  return label != 0 && text.size() - (label + 2) <= held_limit_;
}

inline void WebVttCueReader::AddText(std::string_view text, std::string_view speaker) {
  if (!cue_has_line_) {
    if (const std::size_t label = LabelSize(text, speaker); label != 0) {
      label_.assign(text.substr(0, label));
      text.remove_prefix(label + 2);
    }
    cue_has_line_ = true;
  }
  sink_->AddLine({text, nullptr, speaker, label_});
}

void WebVttCueReader::AddLongText(const LongTextBuilder& builder, std::size_t label,
                                  std::string_view speaker, SourceRange range,
                                  std::uint64_t last_close, std::uint64_t last_brace) {
  builder.Finish(long_text_);
  long_text_.range = range;
  long_text_.last_close = last_close;
  long_text_.last_brace = last_brace;
  long_text_.skip = label == 0 ? 0 : label + 2;
  cue_has_line_ = true;
  sink_->AddLine({{}, &long_text_, speaker, label_});
}

[[gnu::noinline]] void WebVttCueReader::AddLongLine(std::string_view line, std::string_view text,
                                                    std::string_view speaker, SourceRange range) {
  const std::size_t label = LabelSize(text, speaker);
  if (label != 0) label_.assign(text.substr(0, label));
  whole_.Begin(label == 0 ? 0 : label + 2, sink_->GrowthPrefixSize());
  whole_.Add(text);
  const std::size_t close = line.rfind('>');
  const std::size_t brace = format_ == CaptionFormat::kSubRip ? line.rfind('}') : line.npos;
  AddLongText(whole_, label, speaker, range, close == line.npos ? 0 : close,
              brace == line.npos ? 0 : brace);
}

void WebVttCueReader::AddStreamedLine(SourceRange range, std::uint64_t last_close,
                                      std::uint64_t last_brace) {
  long_text_.voice = cleaner_.voice();
  cleaner_.Begin(last_close, last_brace);
  text_.clear();
  // The first bytes are held until they can tell a text label, whose line's
  // speaker is only known at its end: both ways are built until then. A line
  // taken is long with its label removed too.
  const std::size_t first_take = held_limit_ + kMaxTextLabel + 8;
  bool taken = false;
  std::size_t label = 0;
  const auto take = [&] {
    if (!taken) {
      taken = true;
      const std::uint64_t prefix = sink_->GrowthPrefixSize();
      whole_.Begin(0, prefix);
      label = cue_has_line_ ? 0 : TextLabelSize(text_);
      if (label != 0) unlabelled_.Begin(label + 2, prefix);
    }
    whole_.Add(text_);
    if (label != 0) unlabelled_.Add(text_);
    text_.clear();
  };
  reread_.resize(kRereadBlock);
  const bool read = ReadRange(*source_, range, reread_, [&](std::string_view bytes) {
    cleaner_.Add(bytes, text_);
    if (text_.size() > first_take) take();
  });
  if (!read) {
    failed_ = true;
    return;
  }
  const std::string_view speaker = cleaner_.End(text_);
  if (cleaner_.TakeTimestamp()) sink_->InlineTimestamp();
  if (!taken && (text_.size() <= held_limit_ || HeldWithoutLabel(text_, speaker))) {
    if (!text_.empty()) AddText(text_, speaker);
    return;
  }
  take();
  if (label != 0 && cue_has_line_ == false && speaker.empty()) {
    LongText head;
    whole_.Finish(head);
    label_.assign(std::string_view(head.head).substr(0, label));
    AddLongText(unlabelled_, label, speaker, range, last_close, last_brace);
  } else {
    AddLongText(whole_, 0, speaker, range, last_close, last_brace);
  }
}

}  // namespace orvane
