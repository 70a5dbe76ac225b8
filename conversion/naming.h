// Where a caption file's transcript is written.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// Returns `path` with everything from its last '.' replaced by ".txt", or
// `path` + ".txt" when it holds no '.'. The whole path is searched, so a dot
// in a folder name counts when the file name has none.
std::string MakeOutputPath(std::string_view path);
std::wstring MakeOutputPath(std::wstring_view path);

}  // namespace orvane
