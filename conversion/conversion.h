// The conversion steps of a batch run: course title lookup, transcript
// naming and the conversion of one caption file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/caption_filter.h"
#include "conversion/clean_filter.h"
#include "platform/platform.h"

namespace orvane {

using platform::NativeString;

// Caption files and manifests are read in blocks of this many bytes unless a
// caller (a test, to split lines and tags across blocks) asks for others.
inline constexpr std::size_t kDefaultReadBlock = 256 * 1024;
// A caption line, or a course title, longer than this is not held in memory:
// it is read a second time where its bytes are needed.
inline constexpr std::size_t kDefaultLineLimit = 4 << 20;

// Returns the text between the first "<title>" and the first "</title>" of
// "imsmanifest.xml" in `course_folder`, decoded from the narrow code page.
// The manifest text ends at its first NUL byte. Returns the empty string when
// the manifest is missing, is not a regular file, cannot be read, or has no
// "<title>" followed by "</title>". Reads the manifest as a stream.
NativeString ReadCourseTitle(const NativeString& course_folder,
                             std::size_t read_block = kDefaultReadBlock,
                             std::size_t title_limit = kDefaultLineLimit);

// Returns `path` with everything from its last '.' replaced by ".txt", or
// `path` + ".txt" when it holds no '.'. The whole path is searched, so a dot
// in a folder name counts when the file name has none.
std::string MakeOutputPath(std::string_view path);
std::wstring MakeOutputPath(std::wstring_view path);

// How a caption file becomes a transcript.
enum class TranscriptStyle {
  kDefault,  // every caption line that is not a header, timing or cue number, bare
             // voice and class tags removed (CaptionFilter)
  kClean,    // the file read as WebVTT: only what was said, with speaker labels and
             // without repeated lines (CleanFilter)
};

enum class ConversionResult {
  kConverted,
  kOpenFailed,   // the caption file could not be opened or read, or the transcript not created
  kWriteFailed,  // the transcript could not be written in full; the old one is left as it was
};

// Filters the caption file `input` into the transcript `output` in `style`,
// headed by the course title `title` when it is not empty (for kDefault:
// `title` + "." on a line of its own). The transcript is written under a
// temporary name and renamed over `output` only when complete, so `output`
// holds either its old bytes or all of the new ones; a link, folder or other
// non-file at `output` is refused with kOpenFailed, as is a file this process
// may not write. Memory use is bounded whatever the lines' lengths.
ConversionResult ConvertCaptionFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, NativeString title,
                                    TranscriptStyle style = TranscriptStyle::kDefault);

// Returns the transcript's title line for `title`: title + "." in the narrow
// code page, every LF in it written as CR LF, ending in CR LF. Empty when
// `title` is empty.
std::string MakeTitleLine(const NativeString& title);

// Converts caption files one after another as ConvertCaptionFile does, all
// with the same title and style, reusing its buffers from file to file.
// Caption files are read `read_block` bytes at a time (at least 1), and in the
// default style lines longer than `line_limit` bytes are read twice rather
// than held.
class CaptionConverter {
 public:
  explicit CaptionConverter(const NativeString& title,
                            TranscriptStyle style = TranscriptStyle::kDefault,
                            std::size_t read_block = kDefaultReadBlock,
                            std::size_t line_limit = kDefaultLineLimit);
  // Never throws: running out of memory fails the file with kWriteFailed.
  ConversionResult Convert(const std::filesystem::path& input, const std::filesystem::path& output);

 private:
  ConversionResult ConvertOrThrow(const std::filesystem::path& input,
                                  const std::filesystem::path& output);
  // Writes what the filter has produced, long lines included, and clears it.
  ConversionResult WriteOutput(platform::InputFile& captions,
                               platform::ReplacementFile& transcript);
  ConversionResult WriteLongLine(platform::InputFile& captions, const CaptionFilter::LongLine& line,
                                 platform::ReplacementFile& transcript);

  // The style's filter: Feed, Finish, and whether its output is written.
  bool Feed(std::string_view bytes);
  void Finish();

  TranscriptStyle style_;
  std::string title_line_;
  std::vector<char> block_;
  CaptionFilter filter_;
  CleanFilter clean_;
  TagRemover tags_;
  std::string long_text_;
};

}  // namespace orvane
