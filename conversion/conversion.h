// The conversion steps of a batch run: course title lookup, transcript
// naming and the conversion of one caption file.
#pragma once

#include <atomic>
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

// Where a conversion reads the caption bytes: in order with Read, and, for a
// line too long to hold, again by offset with ReadAt. Both return the count,
// 0 at the end, -1 on error.
class CaptionSource {
 public:
  virtual ~CaptionSource() = default;
  virtual std::ptrdiff_t Read(char* buffer, std::size_t size) = 0;
  virtual std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) = 0;
};

// Where a conversion writes the transcript. Write returns false on any error.
class TranscriptSink {
 public:
  virtual ~TranscriptSink() = default;
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// A CaptionSource over a stream that can be read only once, such as a pipe:
// ReadAt serves the bytes from the start of the unfinished line (after the
// last LF read before the latest Read) up to the last byte read. They are
// held in memory up to `hold_limit` bytes, and beyond that in a ScratchFile,
// so memory stays bounded whatever the lines' lengths.
class RereadableSource : public CaptionSource {
 public:
  // Reads from `stream`, which must outlive this object and whose own ReadAt
  // is never called.
  explicit RereadableSource(CaptionSource& stream, std::size_t hold_limit = kDefaultLineLimit);
  std::ptrdiff_t Read(char* buffer, std::size_t size) override;
  // Fails (-1) for bytes before the unfinished line or after the last read.
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) override;

 private:
  // Drops the held bytes before `offset`; false when the scratch file failed.
  bool DropBefore(std::uint64_t offset);
  bool Hold(const char* data, std::size_t size);

  CaptionSource& stream_;
  std::size_t hold_limit_;
  std::uint64_t begin_ = 0;      // offset of the first held byte
  std::uint64_t end_ = 0;        // bytes read so far
  std::uint64_t keep_from_ = 0;  // just after the last LF read so far
  std::string held_;             // [begin_, end_) while not spilled
  platform::ScratchFile spill_;  // [begin_, end_) once spilled
  bool spilled_ = false;
};

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
  // Converts the caption bytes of `stream`, which is read once from start to
  // end and never by offset (a pipe), into `transcript`, title first. A read
  // error gives kOpenFailed, a write error kWriteFailed, as for files; what
  // was written before an error stays written. Memory stays bounded: a line
  // longer than the line limit is kept for its second reading in a scratch file.
  ConversionResult ConvertStream(CaptionSource& stream, TranscriptSink& transcript);
  // Adds the count of caption bytes read, as they are read, to `counter`
  // (which must outlive the converter); nullptr stops counting.
  void CountBytesIn(std::atomic<std::uint64_t>* counter) { bytes_read_ = counter; }

 private:
  ConversionResult ConvertOrThrow(const std::filesystem::path& input,
                                  const std::filesystem::path& output);
  // Writes the title, then filters all of `captions` into `transcript`.
  ConversionResult Filter(CaptionSource& captions, TranscriptSink& transcript);
  // Writes what the filter has produced, long lines included, and clears it.
  ConversionResult WriteOutput(CaptionSource& captions, TranscriptSink& transcript);
  ConversionResult WriteLongLine(CaptionSource& captions, const CaptionFilter::LongLine& line,
                                 TranscriptSink& transcript);

  // The style's filter: Feed, Finish, and whether its output is written.
  // Fails a file that ran out of memory; the filters start afresh.
  ConversionResult OutOfMemory();
  bool Feed(std::string_view bytes);
  void Finish();

  TranscriptStyle style_;
  std::size_t line_limit_;
  std::string title_line_;
  std::vector<char> block_;
  CaptionFilter filter_;
  CleanFilter clean_;
  TagRemover tags_;
  std::string long_text_;
  std::atomic<std::uint64_t>* bytes_read_ = nullptr;
};

}  // namespace orvane
