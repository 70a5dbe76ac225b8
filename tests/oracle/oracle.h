// The plain readings of the formats that tests, fuzz targets and benchmarks
// compare the real code with: the transcript rules as regular expressions,
// the text-mode byte rules as a loop over bytes, and the course title as a
// search over the whole manifest. Slow on purpose; nothing here is clever.
#pragma once

#include <regex>
#include <string>
#include <string_view>

namespace orvane::oracle {

// The bytes a text-mode read of `file` delivers: CR LF becomes LF, a lone CR
// stays, and the first Ctrl-Z ends the input.
std::string TextModeRead(std::string_view file);

// The line rules of a default transcript as four ECMAScript regular
// expressions, compiled by the constructor.
class RegexRules {
 public:
  RegexRules();

  // \d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3} anywhere in `line`.
  bool IsTiming(const std::string& line) const;
  // ^\d+$ over the whole line.
  bool IsCueNumber(const std::string& line) const;
  // "<v>|</v>" replaced by nothing, then "<c>|</c>" in the result.
  std::string WithoutTags(const std::string& line) const;
  // What a transcript holds for the caption line `line` (without its line
  // end): nothing when it is dropped, else its text without tags and CR LF,
  // or nothing when no text remains. Lines longer than a few KiB, which
  // std::regex would need deep recursion for, are read by plain loops.
  std::string TranscriptLine(std::string_view line) const;

 private:
  std::regex timing_;
  std::regex voice_;
  std::regex class_;
  std::regex cue_number_;
};

// The transcript (without title) of the caption file `file`: its text-mode
// reading, split at LF with a last line without LF included, each line by
// `rules`.
std::string Transcript(std::string_view file, const RegexRules& rules);

// The transcript's first line for the course title `title` (narrow bytes):
// title + "." with every LF written as CR LF, then CR LF. Empty for no title.
std::string TitleLine(std::string_view title);

// The text between the first "<title>" and the first "</title>" of the
// manifest bytes `manifest`, whose text ends at its first NUL byte; empty when
// either is missing or the "</title>" comes first.
std::string CourseTitle(std::string_view manifest);

}  // namespace orvane::oracle
