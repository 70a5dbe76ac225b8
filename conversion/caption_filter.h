// The caption filter of default transcripts: which caption lines reach the
// transcript and how, and the text-mode byte rules of both files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Turns the bytes of a caption file into the bytes of its transcript, fed in
// pieces of any size. Reading follows the text-mode rules: CR LF is read as LF,
// a lone CR is kept, and the first Ctrl-Z (0x1A) ends the input. Each kept
// line is written with a CR LF line end.
class CaptionFilter {
 public:
  static constexpr std::size_t kNoLineLimit = static_cast<std::size_t>(-1);

  // A filter whose scan runs on `kernel`, which must be one of
  // SupportedKernels(). A line longer than `line_limit` bytes is not held in
  // memory: see LongLine.
  explicit CaptionFilter(ChunkKernel kernel = FastestKernel(),
                         std::size_t line_limit = kNoLineLimit);

  // Processes the next bytes of the caption file. Returns false once a Ctrl-Z
  // has ended the input; bytes fed after that are ignored.
  bool Feed(std::string_view bytes);
  // Processes the last line when it has no final LF. Call once, at the end.
  void Finish();
  // Starts a new caption file, keeping the buffers unless they have grown
  // large (after a very long line).
  void Reset();
  // Transcript bytes produced so far. The caller may write them out and clear
  // the string between calls; a caller that does so after every Feed keeps a
  // very long line in memory once rather than twice.
  std::string& output() { return output_; }

  // A kept line longer than the limit. Its bytes are not held: they lie in the
  // caption file at [begin, end) (offsets of the bytes fed since Reset), and
  // they belong at byte `at` of output(), without their tags (see TagRemover)
  // and followed by CR LF unless no text remains.
  struct LongLine {
    std::size_t at;
    std::uint64_t begin;
    std::uint64_t end;
  };
  // The long lines that output() leaves out, in order.
  const std::vector<LongLine>& long_lines() const { return long_lines_; }
  // Empties output() and long_lines() once the caller has written them out.
  void ClearOutput();

 private:
  // The rule of KeepsLine, applied to a line too long to hold as its bytes
  // pass: "WEBVTT" or a timing anywhere drops it, and so does holding nothing
  // but digits. The last bytes seen carry matches across pieces.
  class LongLineCheck {
   public:
    bool active() const { return active_; }
    std::uint64_t begin() const { return begin_; }
    // Starts a line at offset `begin` whose first bytes are `bytes`.
    void Start(std::uint64_t begin, std::string_view bytes);
    // Takes the next bytes of the line.
    void Add(std::string_view bytes);
    // Ends the line at offset `end` (its LF when `at_line_feed`, else a Ctrl-Z
    // or the end of the file). Returns whether it is kept, and sets `end` to
    // the end of its text: before a CR that belongs to a CR LF.
    bool End(std::uint64_t& end, bool at_line_feed);

   private:
    bool active_ = false;
    bool dropped_ = false;
    bool digits_ = true;     // every byte so far, a final CR aside, is a digit
    bool final_cr_ = false;  // the last byte so far is a CR
    std::uint64_t begin_ = 0;
    std::string carry_;  // the last bytes seen, shorter than a timing match
  };

  // Offset of `at`, a byte of the piece being fed.
  std::uint64_t OffsetOf(const char* at) const {
    return piece_offset_ + static_cast<std::uint64_t>(at - piece_);
  }
  // True while a line that an earlier piece began is unfinished.
  bool InLine() const { return !pending_.empty() || long_line_.active(); }
  // Takes [from, to), the next bytes of the unfinished line.
  void AddToLine(const char* from, const char* to);
  // Ends the unfinished line at the LF `lf`.
  void EndLineAt(const char* lf);
  // Ends the long line at offset `end`.
  void EndLongLine(std::uint64_t end, bool at_line_feed);

  // Filters the lines of [begin, end), which ends in an LF, up to a Ctrl-Z.
  void ScanLines(const char* begin, const char* end);
  // Filters the line held in pending_, which the scan has not seen, and clears it.
  void FilterPendingLine();
  // Ends the input at the Ctrl-Z `stop` inside the line that starts at `line`
  // (an unfinished one, when it began in an earlier piece). Returns false.
  bool EndAt(const char* line, const char* stop);

  ChunkKernel kernel_;
  std::size_t line_limit_;
  std::string pending_;           // start of a line whose LF has not arrived yet
  std::uint64_t line_begin_ = 0;  // offset of that line
  LongLineCheck long_line_;       // or the line, when it outgrew the limit
  std::string output_;
  std::vector<LongLine> long_lines_;
  std::uint64_t fed_ = 0;        // bytes fed since Reset
  const char* piece_ = nullptr;  // the piece being fed, and its offset
  std::uint64_t piece_offset_ = 0;
  bool ended_ = false;
};

// Returns the transcript of the caption bytes `captions` (without a title).
std::string FilterCaptions(std::string_view captions);

}  // namespace orvane
