// The caption filter of default transcripts: which caption lines reach the
// transcript and how, and the text-mode byte rules of both files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/line_reader.h"
#include "conversion/transcript_output.h"

namespace orvane {

// Line checks. `line` is one caption line without its line end.
// True when `line` contains "WEBVTT" (case-sensitive) anywhere.
bool IsHeaderLine(std::string_view line);
// True when `line` contains, anywhere, the ECMAScript pattern
// \d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3} (ASCII digits).
bool IsTimingLine(std::string_view line);
// True when `line` is one or more ASCII digits and nothing else.
bool IsCueNumber(std::string_view line);

// Appends `line` to `out` with every "<v>" and "</v>" removed in one
// left-to-right pass, and then every "<c>" and "</c>" removed from that result
// in a second pass. Text that a removal brings together is not searched again
// by the same pass.
void AppendWithoutTags(std::string_view line, std::string& out);

// Removes the tags of one line fed in pieces of any size, exactly as
// AppendWithoutTags does for the whole line at once.
class TagRemover {
 public:
  // Appends to `out` what is certain of the line after `bytes`.
  void Feed(std::string_view bytes, std::string& out);
  // Appends the rest of the line to `out` and starts a new line.
  void Finish(std::string& out);

 private:
  std::string voice_held_;  // bytes from a '<' that may begin a "<v>" or "</v>"
  std::string class_held_;  // the same for "<c>" and "</c>", after the first pass
  std::string between_;     // output of the first pass
};

// The instruction-set variants of the filter's scan, which classifies caption
// bytes 64 at a time. Every kernel gives the same transcript; they differ only
// in speed and in the processors that can run them.
enum class ChunkKernel {
  kPortable,  // plain C++, on every processor
  kSse2,      // x86-64
  kAvx2,      // x86-64 processors with AVX2
};

// The kernel's name as tests and benchmarks show it: "portable", "sse2", "avx2".
std::string_view KernelName(ChunkKernel kernel);

// The kernels that this build and this processor can run, kPortable first.
std::vector<ChunkKernel> SupportedKernels();

// The fastest of SupportedKernels(); filters use it unless told otherwise.
ChunkKernel FastestKernel();

// The line filter of default transcripts: turns the bytes of a caption file
// into the bytes of its transcript, fed in pieces of any size. Reading follows
// the text-mode rules: CR LF is read as LF, a lone CR is kept, and the first
// Ctrl-Z (0x1A) ends the input. Each kept line is written with a CR LF line end.
class CaptionFilter {
 public:
  // A filter whose scan runs on `kernel`, which must be one of
  // SupportedKernels(). A line longer than `line_limit` bytes is not held in
  // memory: see long_lines().
  explicit CaptionFilter(ChunkKernel kernel = FastestKernel(),
                         std::size_t line_limit = kNoLineLimit);
  CaptionFilter(const CaptionFilter&) = delete;
  CaptionFilter& operator=(const CaptionFilter&) = delete;

  // Processes the next bytes of the caption file. Returns false once a Ctrl-Z
  // has ended the input; bytes fed after that are ignored.
  bool Feed(std::string_view bytes) { return reader_.Feed(bytes); }
  // Processes the last line when it has no final LF. Call once, at the end.
  void Finish() { reader_.Finish(); }
  // Starts a new caption file, keeping the buffers unless they have grown
  // large (after a very long line).
  void Reset();
  // Transcript bytes produced so far. The caller may write them out and clear
  // the string between calls; a caller that does so after every Feed keeps a
  // very long line in memory once rather than twice.
  std::string& output() { return output_.bytes; }
  // The kept lines longer than the limit, which output() leaves out, in
  // order. Each is written without its tags (see TagRemover), followed by
  // CR LF unless no text remains.
  const std::vector<LongLine>& long_lines() const { return output_.long_lines; }
  // Both, for a writer that empties them once it has written them out.
  TranscriptOutput& transcript() { return output_; }
  // The first caption offset that a line still to come may need to read again.
  std::uint64_t KeepFrom() const { return reader_.KeepFrom(); }

 private:
  friend class LineReader<CaptionFilter, LineEnds::kLineFeed>;

  // The rule of KeepsLine, applied to a line too long to hold as its bytes
  // pass: "WEBVTT" or a timing anywhere drops it, and so does holding nothing
  // but digits. The last bytes seen carry matches across pieces.
  class LongLineCheck {
   public:
    std::uint64_t begin() const { return begin_; }
    // Starts a line at offset `begin`.
    void Start(std::uint64_t begin);
    // Takes the next bytes of the line.
    void Add(std::string_view bytes);
    // Whether the line, now complete, is kept.
    bool Kept() const { return !dropped_ && !digits_; }

   private:
    bool dropped_ = false;
    bool digits_ = true;  // every byte so far is a digit
    std::uint64_t begin_ = 0;
    std::string carry_;  // the last bytes seen, shorter than a timing match
  };

  // The lines LineReader hands on.
  const char* ScanLines(const char* begin, const char* end, const char** line);
  void OnLine(std::string_view line, std::uint64_t begin);
  void OnLongLineBegin(std::uint64_t begin) { long_line_.Start(begin); }
  void OnLongLineBytes(std::string_view bytes) { long_line_.Add(bytes); }
  void OnLongLineEnd(std::uint64_t end);

  ChunkKernel kernel_;
  LongLineCheck long_line_;
  TranscriptOutput output_;
  LineReader<CaptionFilter, LineEnds::kLineFeed> reader_;
};

// Returns the transcript of the caption bytes `captions` (without a title).
std::string FilterCaptions(std::string_view captions);

}  // namespace orvane
