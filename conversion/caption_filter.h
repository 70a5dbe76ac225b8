// The caption filter: which caption lines reach the transcript and how, and
// the text-mode byte rules of both files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvane {

// Line checks. `line` is one caption line without its line end.
// True when `line` contains "WEBVTT" (case-sensitive) anywhere.
bool IsHeaderLine(std::string_view line);
// True when `line` contains, anywhere, the ECMAScript pattern
// \d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3} (ASCII digits).
bool IsTimingLine(std::string_view line);
// True when `line` is one or more ASCII digits and nothing else.
bool IsCueNumber(std::string_view line);

// Appends `line` to `out` with every "<v>" and "</v>" removed in one
// left-to-right pass, and then every "<c>" and "</c>" removed from that result
// in a second pass. Text that a removal brings together is not searched again
// by the same pass.
void AppendWithoutTags(std::string_view line, std::string& out);

// Returns the transcript's title line for `title`: title + "." in the narrow
// code page, every LF in it written as CR LF, ending in CR LF. Empty when
// `title` is empty.
std::string MakeTitleLine(const platform::NativeString& title);

// Turns the bytes of a caption file into the bytes of its transcript, fed in
// pieces of any size. Reading follows the text-mode rules: CR LF is read as LF,
// a lone CR is kept, and the first Ctrl-Z (0x1A) ends the input. Each kept
// line is written with a CR LF line end.
class CaptionFilter {
 public:
  // Processes the next bytes of the caption file. Returns false once a Ctrl-Z
  // has ended the input; bytes fed after that are ignored.
  bool Feed(std::string_view bytes);
  // Processes the last line when it has no final LF. Call once, at the end.
  void Finish();
  // Starts a new caption file, keeping the buffers unless they have grown
  // large (after a very long line).
  void Reset();
  // Transcript bytes produced so far. The caller may write them out and clear
  // the string between calls; a caller that does so after every Feed keeps a
  // very long line in memory once rather than twice.
  std::string& output() { return output_; }

 private:
  // Filters one line without its line end. `seen` holds a bit of each byte
  // class found in it (see caption_filter.cpp), or kUnscanned when unknown.
  void ProcessLine(std::string_view line, unsigned seen);
  // True when `line` reaches the transcript (before tag removal).
  static bool KeepsLine(std::string_view line, unsigned seen);
  // Filters the line held in pending_ and clears it.
  void ProcessPendingLine();
  // Filters the lines of [begin, end), which ends in an LF, up to a Ctrl-Z.
  // Returns `end`; after a Ctrl-Z the input has ended.
  const char* ScanLines(const char* begin, const char* end);
  // Ends the input at the Ctrl-Z `stop` inside the line that starts at `line`.
  // Returns false.
  bool EndAt(const char* line, const char* stop);

  std::string pending_;  // start of a line whose LF has not arrived yet
  std::string output_;
  bool ended_ = false;
};

// Returns the transcript of the caption bytes `captions` (without a title).
std::string FilterCaptions(std::string_view captions);

}  // namespace orvane
