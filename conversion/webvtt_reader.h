// The WebVTT cue reader: caption bytes in, cues out. Drops the header and
// every block that is not a cue, reads each cue's timings, and hands its text
// lines, cleaned, to a CueSink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/cue_text.h"
#include "conversion/cues.h"
#include "conversion/line_reader.h"
#include "conversion/sources.h"

namespace orvane {

// Reads a cue timing line a byte at a time, so that a line too long to hold
// is read as it streams past: optional spaces or tabs, a timestamp, optional
// spaces or tabs, "-->", optional spaces or tabs, a timestamp, and then
// anything (the cue settings, which are ignored). A timestamp is
// [H...H:]MM:SS.mmm: hours one or more digits, minutes and seconds two digits
// each and at most 59, the fraction exactly three digits, after '.' or (as in
// SubRip) ','. As in the W3C WebVTT parser, a first field that is not two
// digits up to 59 can only be hours.
class TimingReader {
 public:
  // Takes the next bytes of the line.
  void Add(std::string_view bytes);
  // Ends the line: true when it is a timing line, whose times go to `timing`.
  bool Finish(CueTiming& timing);
  // True once the rest of the line cannot change the answer.
  bool decided() const { return step_ == Step::kDone || step_ == Step::kFailed; }

 private:
  enum class Step : std::uint8_t {
    kBlanks,
    kStart,
    kBeforeArrow,
    kArrow,
    kAfterArrow,
    kEnd,
    kDone,
    kFailed
  };
  // One timestamp, a byte at a time.
  struct Timestamp {
    enum class Result : std::uint8_t { kMore, kDone, kFailed };
    int field = 0;         // 0: first digits, 1: second field, 2: third field, 3: fraction
    int digits = 0;        // of the current field, counted up to 3
    int first_digits = 0;  // of the first field, up to kMaxHourDigits + 1
    std::int64_t value[4] = {0, 0, 0, 0};
    bool three_fields = false;
    // kDone means the timestamp ended before `c`, which is not taken.
    Result Take(char c);
    std::int64_t Millis() const;
  };
  void Take(char c);

  Step step_ = Step::kBlanks;
  int arrow_ = 0;  // bytes of "-->" read
  Timestamp stamp_;
  CueTiming timing_;
};

// Parses the timing line `line` (see TimingReader) into `timing`.
bool ParseTimingLine(std::string_view line, CueTiming& timing);

// Reads an SBV timing line a byte at a time, as TimingReader does: optional
// spaces or tabs, a timestamp, ',', a timestamp, optional spaces or tabs, and
// nothing else. A timestamp here is H...H:MM:SS.mmm, the hours required (one
// to nine digits), minutes and seconds two digits each and at most 59, the
// fraction exactly three digits.
class SbvTimingReader {
 public:
  void Add(std::string_view bytes);
  bool Finish(CueTiming& timing);
  bool decided() const { return step_ == Step::kFailed; }

 private:
  enum class Step : std::uint8_t { kBlanks, kStart, kEnd, kTrailing, kFailed };
  struct Timestamp {
    enum class Result : std::uint8_t { kMore, kDone, kFailed };
    int field = 0;  // 0: hours, 1: minutes, 2: seconds, 3: fraction
    int digits = 0;
    std::int64_t value[4] = {0, 0, 0, 0};
    // kDone means the timestamp ended before `c`, which is not taken.
    Result Take(char c);
    bool complete() const { return field == 3 && digits == 3; }
    std::int64_t Millis() const;
  };
  void Take(char c);

  Step step_ = Step::kBlanks;
  Timestamp stamp_;
  CueTiming timing_;
};

// Parses the SBV timing line `line` into `timing`.
bool ParseSbvTimingLine(std::string_view line, CueTiming& timing);

// Reads a caption file as WebVTT, fed in pieces of any size; every piece
// boundary gives the same cues. The first Ctrl-Z (0x1A) ends the input, a
// UTF-8 byte order mark at the start is dropped, and lines end at LF, CR LF or
// a lone CR. A line longer than the line limit is not held: it is read as it
// passes, and a cue text line among them is read again from `source` (see
// Feed) to be cleaned. A line whose cleaned text is longer than a sixteenth
// of the limit is handed on as a LongText, so that the at most 48 lines a
// writer keeps to compare hold at most three times the limit.
//
// The same reader reads the formats close to WebVTT (SetFormat): SubRip, as
// WebVTT without a header and with "{\...}" position codes as tags, and SBV,
// whose blocks are separated by empty lines only and start with their timing
// line.
class WebVttCueReader {
 public:
  WebVttCueReader(CueSink& sink, std::size_t line_limit);
  // Hands the cues to `sink` from now on.
  void set_sink(CueSink& sink) { sink_ = &sink; }
  // Reads the caption files from the next Reset on as `format`.
  void SetFormat(CaptionFormat format) {
    format_ = format;
    cleaner_.set_subrip(format == CaptionFormat::kSubRip);
  }
  WebVttCueReader(const WebVttCueReader&) = delete;
  WebVttCueReader& operator=(const WebVttCueReader&) = delete;

  // Reads the next piece; `source` serves the bytes fed since the last Reset
  // by offset, from KeepFrom() on. Returns false once a Ctrl-Z has ended the
  // input.
  bool Feed(std::string_view bytes, CaptionSource& source);
  // Ends the file: reads its last line and ends its last cue. Call once.
  void Finish(CaptionSource& source);
  // Starts a new caption file.
  void Reset();
  // The first offset that a line still to come may need to read again.
  std::uint64_t KeepFrom() const { return lines_.KeepFrom(); }
  // True when a line could not be read again from the source.
  bool failed() const { return failed_; }

 private:
  friend class LineReader<WebVttCueReader, LineEnds::kAny>;
  class WholeLine;
  class StreamedLine;

  // Where the block reader stands.
  enum class Block : std::uint8_t {
    kFirstLine,   // nothing read yet: the header may start here
    kHeader,      // inside the header
    kBetween,     // between blocks, skipping empty lines
    kSecondLine,  // after a block's first line, which was no timing line
    kCueText,     // after the timing line of a cue
    kSkipped,     // inside a block that is not a cue
  };

  // The lines LineReader hands on.
  const char* ScanLines(const char* begin, const char* end, const char** line);
  void OnLine(std::string_view line, std::uint64_t begin);
  void OnLongLineBegin(std::uint64_t begin);
  void OnLongLineBytes(std::string_view bytes);
  void OnLongLineEnd(std::uint64_t end);

  // Block reader.
  template <class Line>
  void TakeLine(Line& line);
  template <class Line>
  void TakeCueText(Line& line);
  template <class Line>
  void StartBlock(Line& line);
  template <class Line>
  void StartCueIfTiming(Line& line);
  // The block reader of SBV.
  template <class Line>
  void TakeSbvLine(Line& line);
  void StartCue();
  void EndCue();

  // Cue text lines.
  void AddHeldLine(std::string_view line, unsigned traits, SourceRange range);
  // A held line whose cleaned `text` is longer than the held limit.
  void AddLongLine(std::string_view line, std::string_view text, std::string_view speaker,
                   SourceRange range);
  void AddStreamedLine(SourceRange range, std::uint64_t last_close, std::uint64_t last_brace);
  // Hands on a cleaned line that is held; the cue's first line may start
  // with a speaker written as text, which names the speaker of its lines.
  void AddText(std::string_view text, std::string_view speaker);
  // The size of the text label the cue's first line, `text` (or its first
  // bytes), starts with when its speaker is `speaker`; 0 when none.
  std::size_t LabelSize(std::string_view text, std::string_view speaker) const {
    return cue_has_line_ || !speaker.empty() ? 0 : TextLabelSize(text);
  }
  // True when `text`, a cue's first line too long to hold, is short enough
  // once its text label is removed.
  bool HeldWithoutLabel(std::string_view text, std::string_view speaker) const;
  // Hands on a LongText built from the cleaned line.
  void AddLongText(const LongTextBuilder& builder, std::size_t label, std::string_view speaker,
                   SourceRange range, std::uint64_t last_close, std::uint64_t last_brace);

  CueSink* sink_;
  CaptionFormat format_ = CaptionFormat::kWebVtt;
  std::size_t held_limit_;  // longest cleaned line held
  LineReader<WebVttCueReader, LineEnds::kAny> lines_;
  CaptionSource* source_ = nullptr;
  std::size_t bom_ = 0;  // bytes of a byte order mark matched at the start; 3 when decided
  Block block_ = Block::kFirstLine;
  CueTiming timing_;
  CueTextCleaner cleaner_;
  std::string text_;    // scratch: a cleaned line
  LongText long_text_;  // scratch: a cleaned line too long to hold
  // For a long first line: the text whole, and without a label it may start with.
  LongTextBuilder whole_;
  LongTextBuilder unlabelled_;
  bool cue_has_line_ = false;  // a line of the cue was handed on
  std::string label_;          // the speaker the cue's first line names as text
  std::vector<char> reread_;
  bool failed_ = false;
  // A line longer than the limit, as it passes.
  struct {
    std::uint64_t begin = 0;
    std::uint64_t size = 0;
    std::string prefix;  // its first bytes, as many as "WEBVTT" has
    std::string carry;   // its last two bytes, for a "-->" across pieces
    bool has_arrow = false;
    std::uint64_t last_close = 0;
    std::uint64_t last_brace = 0;
    TimingReader timing;
    SbvTimingReader sbv_timing;
  } streamed_;
};

}  // namespace orvane
