// The writers of clean transcripts, on the cue model: which cue lines are
// kept (rolling captions show a line two or three times, and live captions
// show it while it grows), whose they are, and how they are laid out: a line
// of the transcript to a caption line, or paragraphs, with or without the time
// each paragraph starts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/cues.h"
#include "conversion/page.h"
#include "conversion/transcript_output.h"

namespace orvane {

// Lines of the cue before that a cue's first lines are compared with.
inline constexpr std::size_t kComparedLines = 16;

enum class TranscriptLayout : std::uint8_t {
  kLines,            // each kept line on a line of its own, "Name: " where the speaker changes
  kParagraphs,       // kept lines joined into paragraphs, one per speaker turn or pause
  kTimedParagraphs,  // kParagraphs, each starting with "[MM:SS] "
  kPage,             // kParagraphs as a web page (see page.h)
  kTimedPage,        // kTimedParagraphs as a web page
};

// A line as a layout takes it: its text (a view, or a LongText), the bytes
// of its start it leaves out, and its cue's times.
struct KeptLine {
  std::string_view text;
  const LongText* long_text = nullptr;
  std::size_t strip = 0;
  CueTiming timing;
};

// The line layout: every kept line ending in CR LF, prefixed "Name: " when
// its speaker differs from the speaker of the line written before it. The
// last line stays unsettled in the output until the next line, as a line
// that grows replaces it.
class LineLayout {
 public:
  explicit LineLayout(TranscriptOutput& output) : output_(output) {}
  void Add(std::string_view speaker, const KeptLine& line);
  void Replace(const KeptLine& line);
  void Finish();
  void Reset();

 private:
  void Settle();
  void Append(const KeptLine& line);

  TranscriptOutput& output_;
  std::string speaker_;  // of the last line written ("" when none)
};

// The paragraph layout: kept lines joined by spaces (none beside Chinese and
// Japanese characters) into paragraphs, a new one when the speaker changes, a
// speaker-change marker comes, the captions pause for two seconds, or the
// paragraph is long (500 characters at a sentence's end, 1,000 anywhere).
// A paragraph is written into the output as its lines come and stays
// unsettled there until the next starts; a line too long to hold joins it as
// a long line, read again where it is written.
//
// As a web page's, each paragraph is a <p>, its label <strong>Name:</strong>,
// its time <time>, and its text is HTML text.
class ParagraphLayout {
 public:
  ParagraphLayout(TranscriptOutput& output, bool timed, bool html)
      : output_(output), timed_(timed), html_(html) {}
  // `speaker` is the line's named speaker ("" none); `marker`, that it starts
  // a turn (">>").
  void Add(std::string_view speaker, bool marker, const KeptLine& line);
  void Replace(const KeptLine& line);
  void Finish() { Close(); }
  void Reset();

 private:
  // Where the paragraph starts in the output's bytes.
  std::size_t base() const { return output_.unsettled_at; }
  void Open(const KeptLine& line, bool labelled);
  // Ends the paragraph: written when it has text, else taken back.
  void Close();
  void Join(const KeptLine& line);
  // Adds the line's text from `strip` on, remembering where it starts.
  void Append(const KeptLine& line, std::size_t strip);
  // The paragraph's length in code points, counted as far as needed.
  std::uint64_t Chars();
  // The paragraph's last bytes.
  std::string_view Tail() const;

  TranscriptOutput& output_;
  bool timed_;
  bool html_;
  bool open_ = false;
  bool written_ = false;       // a paragraph was written
  std::string speaker_;        // the current speaker S
  std::int64_t last_end_ = 0;  // E: the end of the last cue that gave a line
  // Offsets from base(): of the text, of the last line, of the bytes counted.
  std::size_t text_from_ = 0;
  std::size_t last_at_ = 0;
  std::size_t counted_to_ = 0;
  std::uint64_t counted_chars_ = 0;
  // The paragraph's long lines: how many, their code points, and where each
  // ends (from base()) with its last bytes.
  std::size_t longs_ = 0;
  std::uint64_t long_chars_ = 0;
  std::vector<std::pair<std::size_t, std::string>> long_tails_;
  // As they were before the last line, to replace it.
  std::size_t last_longs_ = 0;
  std::uint64_t last_long_chars_ = 0;
  std::size_t last_strip_ = 0;
  // Of HTML, whose bytes are not its text: the text's code points and last
  // bytes, and what they were before the last line.
  std::uint64_t html_chars_ = 0;
  std::string html_tail_;
  std::uint64_t last_html_chars_ = 0;
  std::string last_html_tail_;
};

// Takes the cues of a caption file and hands the lines it keeps to the
// layout. A cue's first lines that repeat the last lines of the cue before
// are dropped, up to kComparedLines; in rolling captions (an inline timestamp
// in this cue or one before) a line that the cue before's last line grew into
// replaces it; a cue that only repeats the cue before is dropped when it is a
// flash (50 ms or less) or, rolling, follows it within 100 ms. Memory is
// bounded: lines are written as soon as that is settled, and lines too long
// to hold are compared by size and hash.
class CleanTranscriptWriter : public CueSink {
 public:
  CleanTranscriptWriter(TranscriptOutput& output, TranscriptLayout layout);

  void BeginCue(const CueTiming& timing) override;
  void AddLine(const CueLine& line) override;
  void InlineTimestamp() override;
  std::uint64_t GrowthPrefixSize() const override;
  void HeaderLanguage(std::string_view language) override;
  void EndCue() override;
  // The page the next caption files are written as, for the page layouts;
  // `page` must outlive the writer's use of it.
  void SetPage(const PageInfo* page) { page_ = page; }
  // Ends the caption file: writes what was held.
  void Finish();
  // Starts a new caption file.
  void Reset();
  // The first caption offset that a line not yet written needs to read again.
  std::uint64_t KeepFrom() const;

 private:
  // A cue line, held for the next cue to compare with, or until it is known
  // whether it is kept. Its text is in its cue's buffer, its speaker after it.
  struct HeldLine {
    std::size_t at = 0;
    std::size_t size = 0;
    std::size_t speaker_size = 0;
    std::size_t strip = 0;  // paragraphs: the marker and label it starts with
    bool is_long = false;
    bool marker = false;
    LongText long_text;
  };
  struct CueLines {
    std::string text;
    std::vector<HeldLine> lines;
    std::size_t held = 0;

    const char* Data(std::size_t i) const { return text.data() + lines[i].at; }
    std::string_view Text(std::size_t i) const { return {Data(i), lines[i].size}; }
    std::string_view Speaker(std::size_t i) const {
      return {Data(i) + lines[i].size, lines[i].speaker_size};
    }
    HeldLine& Hold(const CueLine& line, std::string_view speaker);
    // Keeps only the last `count` lines, when it holds more.
    void KeepLast(std::size_t count);
    void Clear() {
      text.clear();
      held = 0;
    }
  };
  // Which of the cue's first lines repeat the cue before.
  struct Overlap {
    std::size_t k = 0;
    bool grew = false;
  };

  CueLines& cue() { return lines_[cue_at_]; }
  const CueLines& cue() const { return lines_[cue_at_]; }
  const CueLines& previous() const { return lines_[cue_at_ ^ 1]; }
  bool rolling() const { return file_rolling_ || cue_rolling_; }

  // The speaker the layout gives the line, and for paragraphs its marker.
  std::string_view Speaker(const CueLine& line, bool& marker, std::size_t& strip);
  static bool Same(const CueLines& a, std::size_t i, const CueLines& b, std::size_t j);
  static bool Grows(const CueLines& a, std::size_t i, const CueLines& b, std::size_t j);
  Overlap FindOverlap(bool rolling) const;
  // Settles which held lines of the cue are kept, and writes them.
  void Settle(bool at_end);
  // Writes held line i, whose speaker is `speaker`.
  void Emit(std::size_t i, std::string_view speaker);
  KeptLine Kept(std::size_t i) const;

  bool is_page() const;
  // Writes the page's start, once the header has told its language.
  void WritePageHead();

  TranscriptOutput& output_;
  TranscriptLayout layout_;
  const PageInfo* page_ = nullptr;
  bool page_started_ = false;
  bool header_seen_ = false;  // a "Language:" line of the header
  std::string header_language_;
  LineLayout line_layout_;
  ParagraphLayout paragraph_layout_;

  std::array<CueLines, 2> lines_;
  std::size_t cue_at_ = 0;
  CueTiming timing_;
  std::size_t cue_lines_ = 0;
  std::size_t previous_lines_ = 0;
  std::int64_t previous_end_ = 0;
  bool settled_ = false;
  bool file_rolling_ = false;
  bool cue_rolling_ = false;
  // A turn begun by a ">>" marker in this cue, and its speaker.
  bool turn_ = false;
  std::string turn_speaker_;
  std::string scratch_;
};

}  // namespace orvane
