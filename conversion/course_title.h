// The course title that heads every transcript of a course package: where it
// is read, and the title lines of both transcript styles.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "conversion/sources.h"
#include "platform/platform.h"

namespace orvane {

using platform::NativeString;

// Returns the text between the first "<title>" and the first "</title>" of
// "imsmanifest.xml" in `course_folder`, decoded from the narrow code page.
// The manifest text ends at its first NUL byte. Returns the empty string when
// the manifest is missing, is not a regular file, cannot be read, or has no
// "<title>" followed by "</title>". Reads the manifest as a stream, holding at
// most `title_limit` bytes of the title until its end is found.
NativeString ReadCourseTitle(const NativeString& course_folder,
                             std::size_t read_block = kDefaultReadBlock,
                             std::size_t title_limit = kDefaultLineLimit);

// Returns the default transcript's title line for `title`: title + "." in the
// narrow code page, every LF in it written as CR LF, ending in CR LF. Empty
// when `title` is empty.
std::string MakeTitleLine(const NativeString& title);

// Returns the title part of a clean transcript for the course title `title`,
// the bytes found between <title> and </title>: character references decoded,
// runs of spaces, tabs, CRs, LFs and no-break spaces made one space, and ends
// trimmed; then "." and CR LF and an empty line. Empty when nothing remains.
std::string MakeCleanTitleLines(std::string_view title);

}  // namespace orvane
