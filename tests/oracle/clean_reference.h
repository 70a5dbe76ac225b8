// A plain, slow reading of the clean transcript rules, for tests and fuzz
// targets to compare the clean style with: whole strings, vectors of lines,
// obvious loops.
#pragma once

#include <string>
#include <string_view>

namespace orvane::oracle {

// The clean transcript of a whole caption file (without a title).
std::string CleanTranscript(std::string_view file);

// The title part of a clean transcript for the course title `title`.
std::string CleanTitle(std::string_view title);

}  // namespace orvane::oracle
