// The cues of a caption file as its reader gives them, whole, for callers that
// want the cue model itself rather than a transcript: dataset builders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/cues.h"

namespace orvane {

// One cleaned line of a cue and who speaks it: its voice's name, else the
// name of the cue's text label; "" when neither.
struct CueListLine {
  std::string text;
  std::string speaker;
};

struct CueListEntry {
  CueTiming timing;
  std::vector<CueListLine> lines;  // none when every line cleaned to nothing
};

// Reads every cue of the caption bytes `captions` as `format`, as the clean
// styles read a file of those bytes (a UTF-16 file's text too): its timing
// and its cleaned, non-empty lines, a text label removed from the first.
// Nothing is left out as a repeat. Holds the whole result in memory.
std::vector<CueListEntry> ReadCueList(std::string_view captions, CaptionFormat format);

}  // namespace orvane
