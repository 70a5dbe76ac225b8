// The clean filter: reads a caption file as a WebVTT document and keeps only
// what was said, one plain line per caption line, with speaker labels and
// without the lines that rolling captions repeat from the cue before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Turns the bytes of a caption file into the bytes of its clean transcript,
// fed in pieces of any size; every piece boundary gives the same bytes. Memory
// grows with the longest cue, not with the file.
//
// Reading: the first Ctrl-Z (0x1A) ends the input, a UTF-8 byte order mark at
// the start is dropped, and lines end at LF, CR LF or a lone CR. Each line
// written ends in CR LF.
class CleanFilter {
 public:
  // Processes the next bytes of the caption file. Returns false once a Ctrl-Z
  // has ended the input; bytes fed after that are ignored.
  bool Feed(std::string_view bytes);
  // Ends the file: processes its last line and writes its last cue. Call once.
  void Finish();
  // Starts a new caption file, keeping the buffers unless they have grown
  // large (after a very long cue).
  void Reset();
  // Transcript bytes produced so far. The caller may write them out and clear
  // the string between calls.
  std::string& output() { return output_; }

 private:
  // Where the block reader stands; see OnLine in clean_filter.cpp.
  enum class Block : std::uint8_t {
    kFirstLine,   // nothing read yet: the header may start here
    kHeader,      // inside the header
    kBetween,     // between blocks, skipping empty lines
    kSecondLine,  // after a block's first line, which was no timing line
    kCueText,     // after the timing line of a cue
    kSkipped,     // inside a block that is not a cue
  };
  // One cleaned line of a cue: its text and the name of its voice, as places
  // in the cue's text and names buffers.
  struct CueLine {
    std::size_t text_at;
    std::size_t text_size;
    std::size_t name_at;
    std::size_t name_size;
  };
  // The cleaned lines of one cue.
  struct CueLines {
    std::string text;
    std::string names;
    std::vector<CueLine> lines;
    std::string_view Text(std::size_t i) const;
    std::string_view Name(std::size_t i) const;
    void Swap(CueLines& other);
    void Clear();
  };

  // Line reader.
  void ScanLines(const char* begin, const char* end);
  void EndPendingLine();
  // Block reader.
  void OnLine(std::string_view line);
  void StartBlock(std::string_view line);
  // Cue text cleaner.
  void AddCueTextLine(std::string_view line, unsigned traits);
  std::string_view RemoveTags(std::string_view line, bool& has_voice, unsigned& traits);
  void OpenVoice(std::string_view annotation);
  // Transcript writer.
  void EndCue();
  void WriteSettledLines();
  std::size_t RepeatedLineCount() const;
  void WriteLine(std::string_view name, std::string_view text);

  // Line reader state.
  std::string pending_;          // start of a line whose line end has not arrived yet
  bool skip_line_feed_ = false;  // the last line ended in a CR: an LF next belongs to it
  bool ended_ = false;           // a Ctrl-Z ended the input
  // Block reader state.
  Block block_ = Block::kFirstLine;
  // Cue text cleaner state, for the cue being read.
  bool voice_open_ = false;   // a voice span is open
  std::string voice_;         // the name of the open voice span ("" names nobody)
  std::string tags_removed_;  // scratch: a line without its tags
  std::string decoded_;       // scratch: a line with its character references decoded
  // Transcript writer state.
  CueLines cue_;  // cleaned lines of the cue being read
  // How many of them are written or dropped as repeated; kUnsettled until the
  // repeated lines are known.
  static constexpr std::size_t kUnsettled = ~std::size_t{0};
  std::size_t written_ = kUnsettled;
  CueLines previous_;                          // cleaned lines of the last cue that had any
  std::string last_name_;                      // voice name of the last line written ("" when none)
  mutable std::vector<std::size_t> fallback_;  // scratch of RepeatedLineCount
  std::string output_;
};

// Returns the clean transcript of the caption bytes `captions` (without a
// title).
std::string FilterCleanCaptions(std::string_view captions);

// Returns the title part of a clean transcript for the course title `title`,
// the bytes found between <title> and </title>: character references decoded,
// runs of spaces, tabs, CRs, LFs and no-break spaces made one space, and ends
// trimmed; then "." and CR LF and an empty line. Empty when nothing remains.
std::string MakeCleanTitleLines(std::string_view title);

}  // namespace orvane
