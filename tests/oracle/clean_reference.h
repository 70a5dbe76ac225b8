// A plain, slow reading of the clean transcript rules, for tests and fuzz
// targets to compare the clean style with: whole strings, vectors of lines,
// obvious loops.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::oracle {

// How a caption file's bytes are taken: a converter reads a file with a
// UTF-16 byte order mark as its UTF-8 text; a transcriber fed bytes reads
// them as they are.
enum class Bytes { kOfAFile, kAsFed };

// How the kept lines are written: a caption line to a transcript line, or
// joined into paragraphs, with or without each paragraph's start time.
enum class Layout { kLines, kParagraphs, kTimedParagraphs };

// The caption format a file is read as: WebVTT; SubRip, which is WebVTT
// without a header and with "{\...}" position codes as tags; or YouTube's
// SBV, blocks of a "H:MM:SS.mmm,H:MM:SS.mmm" line and text.
enum class Format { kWebVtt, kSubRip, kSbv };

// The clean transcript of a whole caption file (without a title).
std::string CleanTranscript(std::string_view file, Bytes bytes = Bytes::kOfAFile,
                            Layout layout = Layout::kLines, Format format = Format::kWebVtt);

// One cue as the clean styles read it: its times in milliseconds and its
// cleaned, non-empty lines, each with its voice's name, else the cue's text
// label (removed from the first line), else "".
struct ReferenceCue {
  long long start = 0;
  long long end = 0;
  std::vector<std::pair<std::string, std::string>> lines;  // text, speaker
};

// Every cue of a whole caption file, repeats too.
std::vector<ReferenceCue> CleanCues(std::string_view file, Bytes bytes = Bytes::kOfAFile,
                                    Format format = Format::kWebVtt);

// The title part of a clean transcript for the course title `title`.
std::string CleanTitle(std::string_view title);

}  // namespace orvane::oracle
