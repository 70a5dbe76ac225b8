// The conversion of one caption file into its transcript: the title first,
// then the caption bytes through the style's transcriber, written under a
// temporary name and put in place when complete.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/course_title.h"
#include "conversion/sources.h"
#include "conversion/transcriber.h"
#include "platform/platform.h"

namespace orvane {

using platform::NativeString;

enum class ConversionResult {
  kConverted,
  kOpenFailed,   // the caption file could not be opened or read, or the transcript not created
  kWriteFailed,  // the transcript could not be written in full; the old one is left as it was
};

// Converts the caption file `input` into the transcript `output` in `style`,
// headed by the course title `title` when it is not empty (for kDefault:
// `title` + "." on a line of its own). The transcript is written under a
// temporary name and renamed over `output` only when complete, so `output`
// holds either its old bytes or all of the new ones; a link, folder or other
// non-file at `output` is refused with kOpenFailed, as is a file this process
// may not write. Memory use is bounded whatever the lines' lengths.
ConversionResult ConvertCaptionFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, NativeString title,
                                    TranscriptStyle style = TranscriptStyle::kDefault);

// Converts caption files one after another as ConvertCaptionFile does, all
// with the same title and style, reusing its buffers from file to file.
// Caption files are read `read_block` bytes at a time (at least 1), and lines
// longer than `line_limit` bytes are read twice rather than held.
class CaptionConverter {
 public:
  explicit CaptionConverter(const NativeString& title,
                            TranscriptStyle style = TranscriptStyle::kDefault,
                            std::size_t read_block = kDefaultReadBlock,
                            std::size_t line_limit = kDefaultLineLimit);
  // Heads every transcript with `title`, which may lie in its manifest: it is
  // then read again for each one, and a manifest that can no longer be read
  // fails the file with kOpenFailed.
  CaptionConverter(const CourseTitle& title, TranscriptStyle style);
  // Never throws: running out of memory fails the file with kWriteFailed.
  ConversionResult Convert(const std::filesystem::path& input, const std::filesystem::path& output);
  // Converts the caption file `input` of `folder` into its transcript `output`
  // there, as above; both are names in the folder, not paths.
  ConversionResult Convert(const platform::Folder& folder, const NativeString& input,
                           const NativeString& output);
  // Converts the caption bytes of `stream`, which is read once from start to
  // end and never by offset (a pipe), into `transcript`, title first. A read
  // error gives kOpenFailed, a write error kWriteFailed, as for files; what
  // was written before an error stays written. Memory stays bounded: bytes
  // that a long line needs again are kept in a scratch file.
  ConversionResult ConvertStream(CaptionSource& stream, TranscriptSink& transcript);
  // Converts the caption bytes `captions`, held in memory, into `transcript`,
  // title first, as the same bytes in a file would be (a UTF-16 file's text
  // too); read as set_stream_format says. A write error gives kWriteFailed.
  ConversionResult ConvertBytes(std::string_view captions, TranscriptSink& transcript);
  // Converts the caption file `input`, read as it is converted, into
  // `transcript`, title first; kOpenFailed when it cannot be opened or read.
  ConversionResult ConvertToSink(const std::filesystem::path& input, TranscriptSink& transcript);
  // Also writes the web page NAME.html of each caption file beside its
  // transcript NAME.txt, as the transcript is written (old or complete new,
  // a link or non-file refused), once the transcript is: its failure fails
  // the file but leaves the new transcript. The page holds the clean
  // paragraphs, with time stamps when `timed`, in `language` when the caption
  // file tells none. ConvertStream writes the page instead of the transcript.
  void WritePages(bool timed, std::string language);
  // Reads the streams of ConvertStream as `format` (WebVTT unless set); files
  // are read as their names' extensions say.
  void set_stream_format(CaptionFormat format) { stream_format_ = format; }
  // Reads caption files as `format` whatever their names say; nullopt, as
  // they are unless set, by their extensions.
  void set_file_format(std::optional<CaptionFormat> format) { file_format_ = format; }
  // Adds the count of caption bytes read, as they are read, to `counter`
  // (which must outlive the converter); nullptr stops counting.
  void CountBytesIn(std::atomic<std::uint64_t>* counter) { bytes_read_ = counter; }

 private:
  // Converts the opened `captions` into `transcript`, opened from `folder`'s `output`.
  ConversionResult ConvertFile(platform::InputFile& captions, const platform::Folder* folder,
                               const std::filesystem::path& output);
  // Writes the title, then the transcript of all of `captions`.
  ConversionResult Transcribe(CaptionSource& captions, TranscriptSink& transcript);
  // Feeds the transcriber `first`, then the rest of `captions`, writing as it goes.
  ConversionResult Feed(CaptionSource& captions, std::string_view first,
                        TranscriptSink& transcript);
  ConversionResult WriteOut(CaptionSource& captions, TranscriptSink& transcript);
  // Fails a file that ran out of memory; the next one starts afresh.
  ConversionResult OutOfMemory();

  // The format the caption file `name` is read as.
  CaptionFormat FormatOf(const NativeString& name) const;
  // Writes the title part of a transcript.
  ConversionResult WriteTitle(TranscriptSink& transcript);
  // Creates the page of the opened `captions` beside `output`, their
  // transcript, and has the transcriber write it too; false when no page is
  // written (page_result_ tells whether that is a failure).
  bool StartPage(platform::ReplacementFile& page, platform::InputFile& captions,
                 const platform::Folder* folder, const std::filesystem::path& output);

  std::size_t line_limit_;
  TranscriptStyle style_;
  CaptionFormat format_ = CaptionFormat::kWebVtt;         // of the file being converted
  CaptionFormat stream_format_ = CaptionFormat::kWebVtt;  // of streams
  std::optional<CaptionFormat> file_format_;              // of files, when not by their names
  std::string title_line_;
  CourseTitle long_title_;  // a title not held, when there is one
  std::vector<char> block_;
  std::vector<char> reread_;
  std::string scratch_;
  std::unique_ptr<Transcriber> transcriber_;
  // The one feeding now: transcriber_, or page_transcriber_ for a page.
  Transcriber* active_ = nullptr;
  std::unique_ptr<Transcriber> page_transcriber_;  // when pages are written, for streams
  bool timed_pages_ = false;
  PageInfo page_;
  TranscriptSink* page_sink_ = nullptr;  // of the file being converted
  ConversionResult page_result_ = ConversionResult::kConverted;
  std::string title_text_;  // the title as given, for pages
  std::atomic<std::uint64_t>* bytes_read_ = nullptr;
};

}  // namespace orvane
