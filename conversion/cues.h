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

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "conversion/cue_text.h"
#include "conversion/line_reader.h"

namespace orvane {

// A cue's start and end, in milliseconds from the start of the media.
struct CueTiming {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The caption formats the clean styles read. The default style reads every
// file as it reads WebVTT.
enum class CaptionFormat : std::uint8_t {
  kWebVtt,  // .vtt
  kSubRip,  // .srt: WebVTT without a header, and {\...} position codes are tags
  kSbv,     // .sbv: YouTube's blocks, each a "H:MM:SS.mmm,H:MM:SS.mmm" line, then text
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

// A cleaned line too long to hold: compared with other lines by its size and
// a hash of its text, and cleaned again from the caption bytes `range` when
// it is written (starting from `last_close` and `voice`, see LongLine), its
// first `skip` cleaned bytes left out. What the writers need to know of its
// text (its first and last bytes, its length in characters) is kept.
struct LongText {
  // As many of the first bytes as a speaker label or a ">>" marker can take.
  static constexpr std::size_t kHeadBytes = 256;
  // As many of the last bytes as tell whether the text ends a sentence.
  static constexpr std::size_t kTailBytes = 8;

  std::uint64_t size = 0;  // of the text, from `skip` on
  std::uint64_t hash = 0;
  // The hash of the text's first `prefix_size` bytes, when it has more.
  std::uint64_t prefix_size = 0;
  std::uint64_t prefix_hash = 0;
  std::uint64_t code_points = 0;
  std::string head;
  std::string tail;
  SourceRange range;
  std::uint64_t last_close = 0;
  std::uint64_t last_brace = 0;  // of a SubRip line: its last '}'
  std::uint64_t skip = 0;
  Voice voice;
};

// Gathers a LongText's facts from its cleaned text, fed in pieces of any
// size, leaving out its first `skip` bytes.
class LongTextBuilder {
 public:
  void Begin(std::uint64_t skip, std::uint64_t prefix_size) {
    skip_ = skip;
    prefix_size_ = prefix_size;
    size_ = code_points_ = 0;
    prefix_hash_ = 0;
    hash_ = TextHash();
    head_.clear();
    tail_.clear();
  }
  void Add(std::string_view text) {
    const std::uint64_t skipped = std::min<std::uint64_t>(skip_, text.size());
    skip_ -= skipped;
    text.remove_prefix(skipped);
    if (text.empty()) return;
    if (head_.size() < LongText::kHeadBytes) {
      head_.append(text.substr(0, LongText::kHeadBytes - head_.size()));
    }
    if (size_ < prefix_size_ && size_ + text.size() >= prefix_size_) {
      const std::size_t cut = prefix_size_ - size_;
      hash_.Add(text.substr(0, cut));
      prefix_hash_ = hash_.value();
      hash_.Add(text.substr(cut));
    } else {
      hash_.Add(text);
    }
    for (const char c : text) code_points_ += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    size_ += text.size();
    if (text.size() >= LongText::kTailBytes) {
      tail_.assign(text.substr(text.size() - LongText::kTailBytes));
    } else {
      tail_.append(text);
      if (tail_.size() > LongText::kTailBytes) tail_.erase(0, tail_.size() - LongText::kTailBytes);
    }
  }
  // Fills in the facts of the text; the caller sets where it is read again.
  void Finish(LongText& text) const {
    text.size = size_;
    text.hash = hash_.value();
    text.prefix_size = size_ > prefix_size_ ? prefix_size_ : 0;
    text.prefix_hash = prefix_hash_;
    text.code_points = code_points_;
    text.head = head_;
    text.tail = tail_;
  }

 private:
  std::uint64_t skip_ = 0;
  std::uint64_t prefix_size_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t code_points_ = 0;
  std::uint64_t prefix_hash_ = 0;
  TextHash hash_;
  std::string head_;
  std::string tail_;
};

// One cleaned, non-empty text line of a cue. Valid during the call only.
struct CueLine {
  std::string_view text;                // the text, when held
  const LongText* long_text = nullptr;  // else this
  std::string_view speaker;             // name of the line's voice; "" when none
  // The speaker a text label on the cue's first line names, for lines
  // without a named voice; "" when none.
  std::string_view label;
};

// Receives the cues of one caption file in order.
class CueSink {
 public:
  virtual ~CueSink() = default;
  virtual void BeginCue(const CueTiming& timing) = 0;
  virtual void AddLine(const CueLine& line) = 0;
  // The cue holds an inline timestamp tag (in a line given or one cleaned
  // to nothing): its captions are machine-timed, "rolling".
  virtual void InlineTimestamp() = 0;
  // The size of the cleaned line a long line of this cue may have grown
  // from: LongText::prefix_hash is taken there.
  virtual std::uint64_t GrowthPrefixSize() const = 0;
  // The value of the header's first "Language:" line, spaces around it
  // removed; before any cue.
  virtual void HeaderLanguage(std::string_view /*language*/) {}
  virtual void EndCue() = 0;
};

// Hands every cue to two sinks, the first of which answers GrowthPrefixSize
// (any writer of the same cues would answer alike).
class CueTee : public CueSink {
 public:
  CueTee(CueSink& first, CueSink& second) : first_(first), second_(second) {}
  void BeginCue(const CueTiming& timing) override {
    first_.BeginCue(timing);
    second_.BeginCue(timing);
  }
  void AddLine(const CueLine& line) override {
    first_.AddLine(line);
    second_.AddLine(line);
  }
  void InlineTimestamp() override {
    first_.InlineTimestamp();
    second_.InlineTimestamp();
  }
  std::uint64_t GrowthPrefixSize() const override { return first_.GrowthPrefixSize(); }
  void HeaderLanguage(std::string_view language) override {
    first_.HeaderLanguage(language);
    second_.HeaderLanguage(language);
  }
  void EndCue() override {
    first_.EndCue();
    second_.EndCue();
  }

 private:
  CueSink& first_;
  CueSink& second_;
};

}  // namespace orvane
