// The caption filter of default transcripts: which caption lines reach the
// transcript and how, and the text-mode byte rules of both files.
#pragma once

#include <cstddef>
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
  // A filter whose scan runs on `kernel`, which must be one of
  // SupportedKernels().
  explicit CaptionFilter(ChunkKernel kernel = FastestKernel());

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

 private:
  // Filters the lines of [begin, end), which ends in an LF, up to a Ctrl-Z.
  void ScanLines(const char* begin, const char* end);
  // Filters the line held in pending_, which the scan has not seen, and clears it.
  void FilterPendingLine();
  // Ends the input at the Ctrl-Z `stop` inside the line that starts at `line`.
  // Returns false.
  bool EndAt(const char* line, const char* stop);

  ChunkKernel kernel_;
  std::string pending_;  // start of a line whose LF has not arrived yet
  std::string output_;
  bool ended_ = false;
};

// Returns the transcript of the caption bytes `captions` (without a title).
std::string FilterCaptions(std::string_view captions);

}  // namespace orvane
