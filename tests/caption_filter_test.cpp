#include "conversion/caption_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "tests/oracle/oracle.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::TokenSoup;

// What a transcript holds for a caption file made of `line` alone.
std::string Kept(std::string_view line) { return FilterCaptions(std::string(line) + "\n"); }

struct LineCase {
  std::string_view line;
  std::string_view transcript;  // what the transcript holds for this one line
};

TEST(CaptionFilter, LinesAreKeptDroppedOrStrippedOfTags) {
  const LineCase cases[] = {
      {"WEBVTT", ""},
      {"\xEF\xBB\xBFWEBVTT", ""},
      {"WEBVTT - Lesson 3", ""},
      {"Our WEBVTT reader", ""},
      {"WebVTT", "WebVTT\r\n"},
      {"WEBVT", "WEBVT\r\n"},
      {"Kind: captions", "Kind: captions\r\n"},
      {"Language: en", "Language: en\r\n"},
      {"00:00:01.000 --> 00:00:04.000", ""},
      {"00:00:01.000 --> 00:00:04.000 align:start position:10%", ""},
      {"see 00:00:01.000 --> 00:00:04.000", ""},
      {"00:01.000 --> 00:04.000", "00:01.000 --> 00:04.000\r\n"},
      {"00:00:01.000-->00:00:04.000", "00:00:01.000-->00:00:04.000\r\n"},
      {"00:00:01,000 --> 00:00:04,000", "00:00:01,000 --> 00:00:04,000\r\n"},
      {"100:00:01.0000 --> 00:00:04.0000", "100:00:01.0000 --> 00:00:04.0000\r\n"},
      {"100:00:01.000 --> 00:00:04.0000", ""},
      {"12", ""},
      {"0", ""},
      {" 12", " 12\r\n"},
      {"12 ", "12 \r\n"},
      {"12a", "12a\r\n"},
      {"\xD9\xA1\xD9\xA2", "\xD9\xA1\xD9\xA2\r\n"},  // Arabic-Indic digits are not \d
      {"<v>12</v>", "12\r\n"},
      {"<v>Hello</v>", "Hello\r\n"},
      {"<v Roger>Hello</v>", "<v Roger>Hello\r\n"},
      {"<c.yellow>Hi</c>", "<c.yellow>Hi\r\n"},
      {"<c>Hi</c> <v>there</v>", "Hi there\r\n"},
      {"<i>Hi</i> &amp; <b>bye</b> <00:00:02.000>",
       "<i>Hi</i> &amp; <b>bye</b> <00:00:02.000>\r\n"},
      {"<V>Hi</V>", "<V>Hi</V>\r\n"},
      {"<v></v>", ""},
      {"<c></c>", ""},
      {"<v><c></c></v>", ""},
      {"<<v>c>", ""},
      {"<v<v>>", "<v>\r\n"},
      {"<</v>/v>", "</v>\r\n"},
      {"<c<v>>", ""},
      {"<<<v>", "<<\r\n"},
      {"   ", "   \r\n"},
      {"NOTE This is a comment", "NOTE This is a comment\r\n"},
      {"STYLE", "STYLE\r\n"},
      {"intro-cue", "intro-cue\r\n"},
      {"caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve", "caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve\r\n"},
      {"\xEF\xBB\xBFHello", "\xEF\xBB\xBFHello\r\n"},
      {std::string_view("a\0b", 3), std::string_view("a\0b\r\n", 5)},
      {"", ""},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(Kept(c.line), c.transcript) << "line: " << c.line;
  }
}

TEST(CaptionFilter, ReadsWithTextModeByteRules) {
  const LineCase cases[] = {
      {"Hello\r\nWorld\r\n", "Hello\r\nWorld\r\n"},
      {"Hello\nWorld", "Hello\r\nWorld\r\n"},
      {"\r\r\n", "\r\r\n"},  // a lone CR from CR CR LF is a line of its own
      {"Hi\r", "Hi\r\r\n"},  // a CR at the very end is not followed by LF
      {"a\rb\n", "a\rb\r\n"},
      {"\r\r\r", "\r\r\r\r\n"},
      {"Hello\x1AWorld\n", "Hello\r\n"},  // Ctrl-Z ends the file mid-line
      {"One\nTwo\x1A", "One\r\nTwo\r\n"},
      {"Hi\r\x1A\n", "Hi\r\r\n"},
      {"\x1A\x1A\x1A", ""},
      {"", ""},
      {"\n\n\r\n", ""},
      {"WEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Hi</v>\r\n\r\n", "Hi\r\n"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(FilterCaptions(c.line), c.transcript)
        << "input: " << ::testing::PrintToString(c.line);
  }
}

const oracle::RegexRules& Rules() {
  static const oracle::RegexRules rules;
  return rules;
}

std::string ReferenceTranscript(std::string_view file) { return oracle::Transcript(file, Rules()); }

TEST(CaptionFilter, LineMatchersAgreeWithStdRegex) {
  TokenSoup soup(20261208);
  for (int i = 0; i < 60000; ++i) {
    std::string line = soup.Line(14);
    std::erase(line, '\n');
    ASSERT_EQ(IsTimingLine(line), Rules().IsTiming(line)) << ::testing::PrintToString(line);
    ASSERT_EQ(IsCueNumber(line), Rules().IsCueNumber(line)) << ::testing::PrintToString(line);
    std::string stripped;
    AppendWithoutTags(line, stripped);
    ASSERT_EQ(stripped, Rules().WithoutTags(line)) << ::testing::PrintToString(line);
  }
}

// The scan has one variant per instruction set; all must give the same
// transcript. On x86-64 the SSE2 kernel is always there, AVX2 where the
// processor has it.
TEST(CaptionFilter, KernelsOfThisProcessorAreAllListed) {
  const std::vector<ChunkKernel> kernels = SupportedKernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), ChunkKernel::kPortable);
  EXPECT_EQ(kernels.back(), FastestKernel());
#if defined(__x86_64__)
  EXPECT_NE(std::find(kernels.begin(), kernels.end(), ChunkKernel::kSse2), kernels.end());
  EXPECT_EQ(std::find(kernels.begin(), kernels.end(), ChunkKernel::kAvx2) != kernels.end(),
            __builtin_cpu_supports("avx2") != 0);
#endif
}

// Files of generated lines, their line ends alternating between LF and CR LF.
struct SoupCase {
  const char* what;
  unsigned seed;
  int files;
  int lines;
  int tokens;          // at most this many tokens a line
  bool one_line_each;  // no LF or Ctrl-Z inside a line
};

// Every kernel, fed each file whole and in pieces of random sizes, must give
// the std::regex reading of it.
TEST(CaptionFilter, GeneratedFilesAgreeWithStdRegexReadingOnEveryKernel) {
  const SoupCase cases[] = {
      {"short files", 7, 3000, 8, 10, false},
      // Line ends, tags, timings and Ctrl-Z at every offset of the 64-byte scan.
      {"long files", 64, 300, 60, 12, false},
      // Lines up to a few hundred bytes: checked from the scan masks within one
      // or two chunks, or searched.
      {"long lines", 128, 300, 30, 40, true},
  };
  for (const SoupCase& c : cases) {
    TokenSoup soup(c.seed);
    std::mt19937 random(c.seed);
    for (int i = 0; i < c.files; ++i) {
      std::string file;
      for (int lines = 0; lines < c.lines; ++lines) {
        std::string line = soup.Line(c.tokens);
        if (c.one_line_each) std::erase_if(line, [](char b) { return b == '\n' || b == '\x1A'; });
        file += line + (lines % 3 ? "\r\n" : "\n");
      }
      const std::string expected = ReferenceTranscript(file);
      for (const ChunkKernel kernel : SupportedKernels()) {
        CaptionFilter whole(kernel);
        whole.Feed(file);
        whole.Finish();
        CaptionFilter pieces(kernel);
        for (std::size_t at = 0; at < file.size();) {
          const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 200)(random);
          pieces.Feed(std::string_view(file).substr(at, piece));
          at += piece;
        }
        pieces.Finish();
        ASSERT_EQ(whole.output(), expected)
            << c.what << ", " << KernelName(kernel) << ": " << ::testing::PrintToString(file);
        ASSERT_EQ(pieces.output(), expected) << c.what << ", " << KernelName(kernel)
                                             << ", in pieces: " << ::testing::PrintToString(file);
      }
    }
  }
}

TEST(CaptionFilter, OutputDoesNotDependOnHowInputIsSplit) {
  const std::string file =
      "\xEF\xBB\xBFWEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Hi</v>\r\r\n"
      "12\nlone\rCR\r\n<c>x</c>\r\nend\x1Aignored\r\n";
  const std::string expected = FilterCaptions(file);
  ASSERT_EQ(expected, "Hi\r\r\nlone\rCR\r\nx\r\nend\r\n");
  for (std::size_t piece = 1; piece <= 7; ++piece) {
    for (std::size_t first = 0; first < file.size(); ++first) {
      CaptionFilter filter;
      filter.Feed(std::string_view(file).substr(0, first));
      for (std::size_t at = first; at < file.size(); at += piece) {
        filter.Feed(std::string_view(file).substr(at, piece));
      }
      filter.Finish();
      ASSERT_EQ(filter.output(), expected) << "piece " << piece << " first " << first;
    }
  }
}

TEST(CaptionFilter, FeedReportsTheEndAtCtrlZ) {
  CaptionFilter filter;
  EXPECT_TRUE(filter.Feed("a\nb"));
  EXPECT_FALSE(
      filter.Feed("c\x1A"
                  "d\n"));
  EXPECT_FALSE(filter.Feed("more\n"));
  filter.Finish();
  EXPECT_EQ(filter.output(), "a\r\nbc\r\n");
}

TEST(CaptionFilter, TakesEmptyViewsWithoutStorage) {
  CaptionFilter filter;
  EXPECT_TRUE(filter.Feed(std::string_view()));
  EXPECT_TRUE(filter.Feed("a"));
  EXPECT_TRUE(filter.Feed(std::string_view()));
  filter.Finish();
  EXPECT_EQ(filter.output(), "a\r\n");
  std::string out = "x";
  AppendWithoutTags(std::string_view(), out);
  EXPECT_EQ(out, "x");
}

TEST(CaptionFilter, HugeLinesNeedNoRecursion) {
  constexpr std::size_t kSize = 64u << 20;
  EXPECT_EQ(FilterCaptions(std::string(kSize, '7') + "\n"), "");
  std::string tags;
  tags.reserve(kSize);
  while (tags.size() < kSize) tags += "<v></c>";
  EXPECT_EQ(FilterCaptions(tags), "");
  std::string timings(kSize, '0');
  EXPECT_EQ(FilterCaptions(timings + "x"), timings + "x\r\n");
}

}  // namespace
}  // namespace orvane
