// Where a caption file's transcript is written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "conversion/cues.h"

namespace orvane {

// The caption format that the name `name` ends in: ".vtt", ".srt" or ".sbv",
// compared without regard to ASCII case, as a folder run matches them;
// nullopt for any other name.
std::optional<CaptionFormat> CaptionFormatOfName(std::string_view name);
std::optional<CaptionFormat> CaptionFormatOfName(std::wstring_view name);

// Returns `path` with everything from its last '.' replaced by ".txt", or
// `path` + ".txt" when it holds no '.'. The whole path is searched, so a dot
// in a folder name counts when the file name has none.
std::string MakeOutputPath(std::string_view path);
std::wstring MakeOutputPath(std::wstring_view path);

}  // namespace orvane
