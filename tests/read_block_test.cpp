// Conversions in the read blocks of real runs: a few KiB up to 256 KiB, odd
// sizes too, with line limits from a few bytes to a few KiB. Caption files are
// built so that a header, a timing, a CR LF pair, a lone CR, a tag or a Ctrl-Z
// lands on a block boundary inside a line that is past the line limit, or
// that crosses it there. Every conversion, from a file (long lines read again
// by offset) and from a stream (long lines held aside), must give the
// transcript of the plain references: the std::regex reading for the default
// style, the clean reference for the clean style.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "conversion/conversion.h"
#include "tests/oracle/clean_reference.h"
#include "tests/oracle/oracle.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::Native;
using testing::TempDir;

constexpr std::size_t kLimits[] = {16, 3000};

// Equal transcripts, or where they first differ: they are too long to show.
::testing::AssertionResult Same(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
      actual.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  return ::testing::AssertionFailure()
         << "transcripts of " << actual.size() << " and " << expected.size()
         << " bytes differ at byte " << at << ": got "
         << ::testing::PrintToString(actual.substr(from, 80)) << ", want "
         << ::testing::PrintToString(expected.substr(from, 80));
}

// Converts `captions` in blocks of `block` bytes with each of kLimits, in both
// styles, from a file and from a stream, and compares with the references.
void ExpectReferenceTranscripts(const TempDir& dir, const std::string& captions, std::size_t block,
                                const std::string& what) {
  static const oracle::RegexRules rules;
  const std::pair<TranscriptStyle, std::string> styles[] = {
      {TranscriptStyle::kDefault, oracle::TitleLine("T") + oracle::Transcript(captions, rules)},
      {TranscriptStyle::kClean, oracle::CleanTitle("T") + oracle::CleanTranscript(captions)}};
  testing::WriteFile(dir / "a.vtt", captions);
  for (const auto& [style, expected] : styles) {
    for (const std::size_t limit : kLimits) {
      const std::string where = what + ", block " + std::to_string(block) + ", limit " +
                                std::to_string(limit) +
                                (style == TranscriptStyle::kClean ? ", clean" : ", default");
      CaptionConverter converter(Native("T"), style, block, limit);
      // A new transcript, not one replaced: the file system would write a
      // replaced one out at once.
      std::filesystem::remove(dir / "a.txt");
      ASSERT_EQ(converter.Convert(dir / "a.vtt", dir / "a.txt"), ConversionResult::kConverted)
          << where;
      ASSERT_TRUE(Same(testing::ReadFile(dir / "a.txt"), expected)) << where << ", file";
      MemorySource source(captions);
      StringSink sink;
      ASSERT_EQ(converter.ConvertStream(source, sink), ConversionResult::kConverted) << where;
      ASSERT_TRUE(Same(sink.text, expected)) << where << ", stream";
    }
  }
}

// `size` bytes of a long line: digits only, or words.
std::string Filler(bool digits, std::size_t size) {
  const std::string_view pattern = digits ? "0123456789" : "so let us recap the three habits ";
  std::string filler;
  filler.reserve(size);
  while (filler.size() < size) filler += pattern.substr(0, size - filler.size());
  return filler;
}

constexpr std::string_view kHeader = "WEBVTT\n";

// Appends a line that carries the file on towards a block boundary, and the
// timing line of a new cue (so that the clean style keeps the text after it)
// or, without `cue`, an empty line, such that `before` more bytes end `shift`
// bytes from a boundary of `block`-byte blocks. Both readers drop the padding
// line at once (a header line, in a block of its own), which keeps the
// references fast.
void StartBlockBefore(std::string& captions, std::size_t block, std::ptrdiff_t shift,
                      std::size_t before, bool cue = true) {
  const std::string_view kCue = cue ? "\n00:00:02.000 --> 00:00:03.000\n" : "\n";
  constexpr std::string_view kPadding = "\nWEBVTT ";
  const auto least =
      static_cast<std::ptrdiff_t>(captions.size() + kPadding.size() + 1 + kCue.size() + before);
  const auto size = static_cast<std::ptrdiff_t>(block);
  const std::ptrdiff_t end = (least - shift + size - 1) / size * size + shift;
  captions += kPadding;
  captions +=
      Filler(false, static_cast<std::size_t>(end) - before - kCue.size() - 1 - captions.size());
  captions += '\n';
  captions += kCue;
}

// A part of the line that holds the token, before or after it: digits or
// words, of `size` bytes, or of a block and more when `size` is 0 and
// `across_a_block`.
struct Part {
  std::string_view name;
  bool digits;
  std::size_t size;
  bool across_a_block;
  std::string Bytes(std::size_t block) const {
    return Filler(digits, across_a_block ? block + 100 : size);
  }
};
// Before the token: a line past every limit, begun in an earlier block or in
// the token's; or a line that starts with the token, or with 15 digits or 17
// bytes of words before it, so that it crosses a limit of 16 bytes before,
// at or after the block boundary.
constexpr Part kBefore[] = {
    {"a block of digits", true, 0, true}, {"long digits", true, 3500, false},
    {"long words", false, 3500, false},   {"nothing", false, 0, false},
    {"15 digits", true, 15, false},       {"17 words", false, 17, false}};
// After the token, up to the line end.
constexpr Part kAfter[] = {{"4 digits", true, 4, false},
                           {"words", false, 9, false},
                           {"nothing", false, 0, false},
                           {"a block of digits", true, 0, true}};

// The lines that hold the token: what stands before and after it, and
// whether the line is cue text.
struct Layout {
  const Part& before;
  const Part& after;
  bool cue;
};

TEST(RealReadBlocks, TokensOnBlockBoundariesAndTheLineLimit) {
  const std::string_view tokens[] = {
      "\r", "\r\n", "\n", "WEBVTT", "00:00:01.000 --> 00:00:02.000", "</v>", "\x1A"};
  const std::size_t blocks[] = {4099, 65537, kDefaultReadBlock};
  TempDir dir;
  for (const std::size_t block : blocks) {
    for (const std::string_view token : tokens) {
      std::vector<Layout> layouts;
      if (block < 65536) {
        for (const Part& before : kBefore) {
          for (const Part& after : kAfter) layouts.push_back({before, after, true});
        }
      } else {
        // Larger blocks take a line end or Ctrl-Z in long digits, any other
        // token in long words; and blocks of the default size also a line
        // that spans a whole block on either side of the token, which clean
        // transcripts skip, to keep the clean reference fast.
        const bool ends_lines = token.find_first_of("\r\n\x1A") != token.npos;
        layouts.push_back({kBefore[ends_lines ? 1 : 2], kAfter[ends_lines ? 0 : 1], true});
        if (block == kDefaultReadBlock) layouts.push_back({kBefore[0], kAfter[3], false});
      }
      // The token starts, and ends, one byte before, at, or one byte after a
      // block boundary.
      const auto size = static_cast<std::ptrdiff_t>(token.size());
      std::vector<std::ptrdiff_t> shifts = {-1, 0, 1, -size - 1, -size, -size + 1};
      std::sort(shifts.begin(), shifts.end());
      shifts.erase(std::unique(shifts.begin(), shifts.end()), shifts.end());
      for (const std::ptrdiff_t shift : shifts) {
        const std::string what = ::testing::PrintToString(std::string(token)) + " " +
                                 std::to_string(shift) + " bytes from a block boundary";
        std::string captions(kHeader);
        for (const Layout& layout : layouts) {
          const std::string before = layout.before.Bytes(block);
          StartBlockBefore(captions, block, shift, before.size(), layout.cue);
          captions += before;
          const auto at = static_cast<std::ptrdiff_t>(captions.size());
          ASSERT_EQ((at - shift) % static_cast<std::ptrdiff_t>(block), 0);
          captions += token;
          captions.append(layout.after.Bytes(block)).append("\nlast line\n");
          // A Ctrl-Z ends the input: one line a file.
          if (token.find('\x1A') == token.npos) continue;
          ExpectReferenceTranscripts(dir, captions, block,
                                     what + " after " + std::string(layout.before.name) +
                                         ", then " + std::string(layout.after.name));
          if (::testing::Test::HasFatalFailure()) return;
          captions = kHeader;
        }
        if (captions.size() == kHeader.size()) continue;
        ExpectReferenceTranscripts(dir, captions, block, what);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

// Generated lines of the tokens the readers look at, each run of them after a
// long line that ends up to 48 bytes before a block boundary, or that they
// continue across it.
TEST(RealReadBlocks, GeneratedFilesAgreeWithTheReferences) {
  const std::size_t blocks[] = {4096, 4097, 8191, 65536, kDefaultReadBlock};
  testing::TokenSoup soup(23);
  std::mt19937 random(29);
  TempDir dir;
  for (int file = 0; file < 30; ++file) {
    const std::size_t block = blocks[file % std::size(blocks)];
    std::string captions(kHeader);
    for (int run = 0; run < 3; ++run) {
      const unsigned kind = std::uniform_int_distribution<unsigned>(0, 3)(random);
      const std::string_view line_end = kind == 2 ? "\n" : kind == 3 ? "\r" : "";
      const std::size_t line = std::uniform_int_distribution<std::size_t>(1, 5000)(random);
      const auto shift = -std::uniform_int_distribution<std::ptrdiff_t>(0, 48)(random);
      StartBlockBefore(captions, block, shift, line);
      captions += Filler(kind % 2 == 0, line - line_end.size());
      captions += line_end;
      for (int text = 0; text < 6; ++text) {
        std::string bytes = soup.Line(12);
        // Only the last run may end the input.
        if (run < 2) std::erase(bytes, '\x1A');
        captions += bytes + (text % 2 ? "\r\n" : "\n");
      }
    }
    ExpectReferenceTranscripts(dir, captions, block, "file " + std::to_string(file));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace orvane
