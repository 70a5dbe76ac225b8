// A transcript style's way from caption bytes to transcript bytes, chosen once
// per converter: the default style's line filter, or the clean style's cue
// reader and transcript writer. The converter feeds it, writes out what it
// produced, and makes its long lines again from the caption source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "conversion/cues.h"
#include "conversion/line_reader.h"
#include "conversion/page.h"
#include "conversion/sources.h"
#include "conversion/transcript_output.h"

namespace orvane {

// How a caption file becomes a transcript. Each clean style is the one
// before it with more asked for, so that options can only add to a style.
enum class TranscriptStyle {
  kDefault,          // every caption line that is not a header, timing or cue number, bare
                     // voice and class tags removed (CaptionFilter)
  kClean,            // the file read as WebVTT: only what was said, with speaker labels and
                     // without repeated lines, a caption line to a line (WebVttCueReader,
                     // CleanTranscriptWriter)
  kParagraphs,       // kClean with its lines joined into paragraphs
  kTimedParagraphs,  // kParagraphs, each starting with its time "[MM:SS] "
};

// True for the styles that read the file as WebVTT (all but kDefault).
constexpr bool IsClean(TranscriptStyle style) { return style != TranscriptStyle::kDefault; }

class Transcriber {
 public:
  virtual ~Transcriber() = default;
  // Takes the next piece of the caption file; `source` serves its bytes again
  // by offset from KeepFrom() on. Returns false once a Ctrl-Z ended it.
  virtual bool Feed(std::string_view bytes, CaptionSource& source) = 0;
  // Ends the caption file. Call once.
  virtual void Finish(CaptionSource& source) = 0;
  // Starts a new caption file.
  virtual void Reset() = 0;
  // Reads the next caption files (from the next Reset on) as `format`.
  virtual void SetFormat(CaptionFormat format) = 0;
  // The page the next caption files are written as, for a page's
  // transcriber; `page` must outlive its use.
  virtual void SetPage(const PageInfo* /*page*/) {}
  // Also writes the web page `page` of the same captions, with time stamps
  // when `timed`, into page_output(), from the next Reset on; null stops it
  // (at once: what the page holds then is not written). Clean styles only.
  virtual void AlsoWritePage(const PageInfo* /*page*/, bool /*timed*/) {}
  // The page written beside the transcript; null when none is.
  virtual TranscriptOutput* page_output() { return nullptr; }
  // The first caption offset that is still to be read again.
  virtual std::uint64_t KeepFrom() const = 0;
  // True when a line could not be read again from the source.
  virtual bool failed() const = 0;
  // What has been produced and not yet written out.
  virtual TranscriptOutput& output() = 0;
  // Makes one of output()'s long lines: its caption bytes, read again, are
  // handed to AddLongLineBytes in order; each call appends text to `out`.
  virtual void BeginLongLine(const LongLine& line) = 0;
  virtual void AddLongLineBytes(std::string_view bytes, std::string& out) = 0;
  virtual void EndLongLine(std::string& out) = 0;
};

// The transcriber of `style`, holding lines of up to `line_limit` bytes.
std::unique_ptr<Transcriber> MakeTranscriber(TranscriptStyle style, std::size_t line_limit);
// The transcriber of a web page: the paragraphs of the clean style, with time
// stamps when `timed`.
std::unique_ptr<Transcriber> MakePageTranscriber(bool timed, std::size_t line_limit);

enum class OutputResult { kWritten, kReadFailed, kWriteFailed };

// Writes `transcriber`'s output to `sink`, its long lines made again from
// `source` `buffer` at a time, and empties it. `scratch` holds text between calls.
OutputResult WriteOutput(Transcriber& transcriber, CaptionSource& source, TranscriptSink& sink,
                         std::span<char> buffer, std::string& scratch);
// The same for `output`, one of `transcriber`'s outputs.
OutputResult WriteOutput(Transcriber& transcriber, TranscriptOutput& output, CaptionSource& source,
                         TranscriptSink& sink, std::span<char> buffer, std::string& scratch);

// Returns the transcript of the caption bytes `captions` (without a title) in
// `style`, holding lines of up to `line_limit` bytes.
std::string TranscribeCaptions(std::string_view captions, TranscriptStyle style,
                               std::size_t line_limit = kNoLineLimit,
                               CaptionFormat format = CaptionFormat::kWebVtt);

}  // namespace orvane
