// The course title that heads every transcript of a course package: where it
// is read, and the title lines of both transcript styles.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "conversion/sources.h"
#include "conversion/transcriber.h"
#include "platform/platform.h"

namespace orvane {

using platform::NativeString;

// The course title of a package: its text when it is short enough to hold,
// else where it lies in the manifest, read again for each transcript it heads.
struct CourseTitle {
  NativeString text;      // when held
  NativeString manifest;  // the manifest's path, when the title is not held
  SourceRange range;      // where the title lies in the manifest
  bool held() const { return manifest.empty(); }
};

// Finds the course title of the package in `course_folder` as ReadCourseTitle
// reads it; a title longer than `title_limit` is left in the manifest.
CourseTitle FindCourseTitle(const NativeString& course_folder,
                            std::size_t read_block = kDefaultReadBlock,
                            std::size_t title_limit = kDefaultLineLimit);

// Writes to `sink` the title part of a transcript in `style` for `title`,
// which is not held: what MakeTitleLine or MakeCleanTitleLines make of its
// text, read again from the manifest `buffer` at a time.
OutputResult WriteTitleLines(const CourseTitle& title, TranscriptStyle style,
                             std::span<char> buffer, TranscriptSink& sink);

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
// trimmed; then "." unless it already ends a sentence (EndsSentence), CR LF
// and an empty line. Empty when nothing remains.
std::string MakeCleanTitleLines(std::string_view title);

// The course title `title` cleaned as MakeCleanTitleLines cleans it, without
// the full stop and the line ends: as a web page shows it.
std::string CleanTitleText(std::string_view title);

}  // namespace orvane
