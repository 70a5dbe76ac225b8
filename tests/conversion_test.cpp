#include "conversion/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "conversion/caption_filter.h"
#include "tests/oracle/oracle.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::Native;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct PathCase {
  std::string_view path;
  std::string_view output;
};

TEST(MakeOutputPath, ReplacesTheLastExtensionOfTheWholePath) {
  const PathCase cases[] = {
      {"C:\\captions\\lesson1.vtt", "C:\\captions\\lesson1.txt"},
      {"C:\\captions\\part.one.vtt", "C:\\captions\\part.one.txt"},
      {"C:\\captions\\lesson1", "C:\\captions\\lesson1.txt"},
      {"/srv/course.v2/lesson", "/srv/course.txt"},
      {"/srv/captions/LESSON.VTT", "/srv/captions/LESSON.txt"},
      {"/srv/captions/.vtt", "/srv/captions/.txt"},
      {"/srv/captions/a.", "/srv/captions/a.txt"},
      {"", ".txt"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(MakeOutputPath(c.path), c.output);
    const std::wstring wide(c.path.begin(), c.path.end());
    EXPECT_EQ(MakeOutputPath(std::wstring_view(wide)),
              std::wstring(c.output.begin(), c.output.end()));
  }
}

struct TitleLineCase {
  std::string_view title;
  std::string_view line;
};

TEST(MakeTitleLine, EndsInFullStopAndCrLf) {
  const TitleLineCase cases[] = {
      {"", ""},
      {"Safety Basics", "Safety Basics.\r\n"},
      {"Done.", "Done..\r\n"},
      {"Two\r\nLines", "Two\r\r\nLines.\r\n"},
      {"Two\nLines", "Two\r\nLines.\r\n"},
      {"Caf\xC3\xA9 &amp; <b>", "Caf\xC3\xA9 &amp; <b>.\r\n"},
  };
  for (const TitleLineCase& c : cases) {
    EXPECT_EQ(MakeTitleLine(platform::FromNarrow(c.title)), c.line);
  }
}

struct TitleCase {
  std::string_view name;
  std::string manifest;
  std::string_view title;
};

TEST(ReadCourseTitle, TakesTheTextBetweenTheFirstTags) {
  const std::string big_prefix(600 * 1024, 'x');
  const TitleCase cases[] = {
      {"plain", "<manifest><title>Safety Basics</title></manifest>", "Safety Basics"},
      {"first only", "<title>One</title><item><title>Two</title></item>", "One"},
      {"kept as is", "<title>\r\n  A &amp; <b>B</b>\r\n</title>", "\r\n  A &amp; <b>B</b>\r\n"},
      {"attribute", "<title lang=\"en\">Safety</title>", ""},
      {"prefix", "<imscp:title>Safety</imscp:title>", ""},
      {"prefix then plain", "<imscp:title>X</imscp:title><title>Y</title>", "Y"},
      {"close first", "</title><title>Later</title>", ""},
      {"empty", "<title></title>", ""},
      {"no close", "<title>Open", ""},
      {"nothing", "", ""},
      {"utf-16", std::string("<\0t\0i\0t\0l\0e\0>\0X\0<\0/\0t\0i\0t\0l\0e\0>\0", 32), ""},
      {"nul inside", std::string("<title>A\0B</title>", 18), ""},
      {"nul after", std::string("<title>A</title>\0junk", 21), "A"},
      {"non-ascii", "<title>Caf\xC3\xA9 \xE2\x80\x94 101</title>", "Caf\xC3\xA9 \xE2\x80\x94 101"},
      // Tags straddling the manifest reader's 256 KiB blocks.
      {"late", big_prefix + "<title>Late</title>", "Late"},
      {"split open", std::string(256 * 1024 - 3, ' ') + "<title>Split</title>", "Split"},
      {"split close", std::string(256 * 1024 - 10, ' ') + "<title>Ab</title>", "Ab"},
      {"long title", "<title>" + big_prefix + "</title>", big_prefix},
      {"late close first", big_prefix + "</title><title>X</title>", ""},
  };
  // Small blocks and a small limit on the title held: the same titles.
  const std::pair<std::size_t, std::size_t> readings[] = {
      {kDefaultReadBlock, kDefaultLineLimit}, {5, 3}, {64, 1}};
  for (const TitleCase& c : cases) {
    TempDir dir;
    WriteFile(dir / "imsmanifest.xml", c.manifest);
    for (const auto& [block, limit] : readings) {
      EXPECT_EQ(ReadCourseTitle(dir.path().native(), block, limit), platform::FromNarrow(c.title))
          << c.name << ", block " << block << ", limit " << limit;
    }
  }
}

TEST(ReadCourseTitle, IsEmptyWithoutARegularManifest) {
  TempDir dir;
  EXPECT_EQ(ReadCourseTitle(dir.path().native()), Native(""));  // missing
  EXPECT_EQ(ReadCourseTitle((dir / "no such folder").native()), Native(""));
  std::filesystem::create_directory(dir / "imsmanifest.xml");
  EXPECT_EQ(ReadCourseTitle(dir.path().native()), Native(""));
}

TEST(ConvertCaptionFile, WritesTitleThenKeptLines) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "WEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Hi</v>\r\n");
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "a.txt", Native("Course")),
            ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "Course.\r\nHi\r\n");

  WriteFile(dir / "empty.vtt", "");
  EXPECT_EQ(ConvertCaptionFile(dir / "empty.vtt", dir / "empty.txt", {}),
            ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "empty.txt"), "");
  EXPECT_EQ(ConvertCaptionFile(dir / "empty.vtt", dir / "empty.txt", Native("T")),
            ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "empty.txt"), "T.\r\n");
}

TEST(ConvertCaptionFile, TruncatesAnExistingTranscript) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Short\n");
  WriteFile(dir / "a.txt", std::string(100000, 'x'));
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "a.txt", {}), ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "Short\r\n");
}

TEST(ConvertCaptionFile, LeavesTheTranscriptAloneWhenTheCaptionFileCannotBeOpened) {
  TempDir dir;
  WriteFile(dir / "a.txt", "hand-edited");
  std::filesystem::create_directory(dir / "folder.vtt");
  for (const char* name : {"missing.vtt", "folder.vtt"}) {
    EXPECT_EQ(ConvertCaptionFile(dir / name, dir / "a.txt", Native("T")),
              ConversionResult::kOpenFailed)
        << name;
    EXPECT_EQ(ReadFile(dir / "a.txt"), "hand-edited") << name;
  }
}

TEST(ConvertCaptionFile, ReportsATranscriptThatCannotBeCreated) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Hi\n");
  std::filesystem::create_directory(dir / "a.txt");
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "a.txt", {}), ConversionResult::kOpenFailed);
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "no" / "a.txt", {}),
            ConversionResult::kOpenFailed);
}

TEST(ConvertCaptionFile, StreamsFilesLargerThanItsBuffers) {
  TempDir dir;
  std::string captions = "WEBVTT\r\n\r\n";
  std::string expected = "T.\r\n";
  for (int cue = 1; cue <= 40000; ++cue) {
    captions += std::to_string(cue) + "\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Line " +
                std::to_string(cue) + "</v>\r\n\r\n";
    expected += "Line " + std::to_string(cue) + "\r\n";
  }
  WriteFile(dir / "long.vtt", captions +
                                  "\x1A"
                                  "after the end\r\n");
  EXPECT_EQ(ConvertCaptionFile(dir / "long.vtt", dir / "long.txt", Native("T")),
            ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "long.txt"), expected);
}

TEST(ConvertCaptionFile, ConvertsHugeSingleLines) {
  TempDir dir;
  constexpr std::size_t kSize = 64u << 20;
  WriteFile(dir / "digits.vtt", std::string(kSize, '5'));
  EXPECT_EQ(ConvertCaptionFile(dir / "digits.vtt", dir / "digits.txt", {}),
            ConversionResult::kConverted);
  EXPECT_EQ(std::filesystem::file_size(dir / "digits.txt"), 0u);
  std::string tags;
  while (tags.size() < kSize) tags += "<c><v>";
  WriteFile(dir / "tags.vtt", tags + "!\n");
  EXPECT_EQ(ConvertCaptionFile(dir / "tags.vtt", dir / "tags.txt", {}),
            ConversionResult::kConverted);
  EXPECT_EQ(ReadFile(dir / "tags.txt"), "!\r\n");
}

TEST(ConvertCaptionFile, LineEndsAndCtrlZAcrossReadBlocks) {
  TempDir dir;
  const std::string base = "WEBVTT\r\n\r\n1\r\n<v>Hi</v> there\r\n\rBye\n";
  for (const char special : {'\r', '\n', '\x1A'}) {
    for (std::size_t at = 0; at <= base.size(); ++at) {
      std::string captions = base;
      captions.insert(at, 1, special);
      WriteFile(dir / "a.vtt", captions);
      const std::string expected = "T.\r\n" + FilterCaptions(captions);
      for (const std::size_t block : {1, 2, 3, 7}) {
        EXPECT_EQ(CaptionConverter(Native("T"), TranscriptStyle::kDefault, block)
                      .Convert(dir / "a.vtt", dir / "a.txt"),
                  ConversionResult::kConverted);
        EXPECT_EQ(ReadFile(dir / "a.txt"), expected)
            << ::testing::PrintToString(captions) << " in blocks of " << block;
      }
    }
  }
}

// A line longer than the converter holds is decided as its bytes pass and,
// when kept, read again from the file: any limit gives the same transcript.
TEST(CaptionConverter, LinesBeyondTheLineLimitAreReadAgain) {
  TempDir dir;
  testing::TokenSoup soup(11);
  const oracle::RegexRules rules;
  for (int i = 0; i < 400; ++i) {
    std::string captions;
    for (int lines = 0; lines < 6; ++lines) captions += soup.Line(12) + (lines % 2 ? "\r\n" : "\n");
    WriteFile(dir / "a.vtt", captions);
    const std::string expected = oracle::TitleLine("T") + oracle::Transcript(captions, rules);
    for (const auto& [limit, block] :
         {std::pair<std::size_t, std::size_t>{1, 3}, {6, 7}, {29, 1}}) {
      ASSERT_EQ(CaptionConverter(Native("T"), TranscriptStyle::kDefault, block, limit)
                    .Convert(dir / "a.vtt", dir / "a.txt"),
                ConversionResult::kConverted);
      ASSERT_EQ(ReadFile(dir / "a.txt"), expected)
          << ::testing::PrintToString(captions) << " limit " << limit << ", block " << block;
    }
  }
}

// Caption bytes from memory in pieces of random sizes, like a pipe; fails
// (-1) after `fail_after` bytes, and for any read by offset.
class PipeSource : public CaptionSource {
 public:
  PipeSource(std::string_view bytes, unsigned seed, std::size_t fail_after = std::string::npos)
      : bytes_(bytes), random_(seed), fail_after_(fail_after) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    if (at_ >= fail_after_) return -1;
    size = std::min(
        {size, bytes_.size() - at_, std::uniform_int_distribution<std::size_t>(1, 9)(random_)});
    bytes_.copy(buffer, size, at_);
    at_ += size;
    return static_cast<std::ptrdiff_t>(size);
  }
  std::ptrdiff_t ReadAt(std::uint64_t, char*, std::size_t) override { return -1; }

 private:
  std::string_view bytes_;
  std::mt19937 random_;
  std::size_t fail_after_;
  std::size_t at_ = 0;
};

// Collects a transcript; fails every write after `fail_after` bytes.
class MemorySink : public TranscriptSink {
 public:
  explicit MemorySink(std::size_t fail_after = std::string::npos) : fail_after_(fail_after) {}
  bool Write(const char* data, std::size_t size) override {
    if (bytes.size() + size > fail_after_) return false;
    bytes.append(data, size);
    return true;
  }
  std::string bytes;

 private:
  std::size_t fail_after_;
};

// A stream that cannot be read twice, converted in either style, gives the
// transcript of the same bytes in a file, whatever the line limit; its long
// lines are held for their second reading, beyond the limit in a scratch file.
TEST(CaptionConverter, StreamsGiveTheTranscriptsOfFiles) {
  TempDir dir;
  testing::TokenSoup soup(5);
  for (int i = 0; i < 300; ++i) {
    std::string captions = "WEBVTT\n\n";
    for (int lines = 0; lines < 8; ++lines) captions += soup.Line(i % 3 ? 12 : 60) + "\n";
    WriteFile(dir / "a.vtt", captions);
    for (const TranscriptStyle style : {TranscriptStyle::kDefault, TranscriptStyle::kClean}) {
      for (const std::size_t limit : {std::size_t{1}, std::size_t{16}, kDefaultLineLimit}) {
        CaptionConverter converter(Native("T"), style, 5, limit);
        ASSERT_EQ(converter.Convert(dir / "a.vtt", dir / "a.txt"), ConversionResult::kConverted);
        PipeSource pipe(captions, static_cast<unsigned>(i));
        MemorySink sink;
        ASSERT_EQ(converter.ConvertStream(pipe, sink), ConversionResult::kConverted);
        ASSERT_EQ(sink.bytes, ReadFile(dir / "a.txt"))
            << ::testing::PrintToString(captions) << " limit " << limit;
      }
    }
  }
  // A failed read is an open error, a failed write a write error.
  const std::string captions = "WEBVTT\n\n" + std::string(100, 'x') + "\nlast\n";
  CaptionConverter converter(Native("T"), TranscriptStyle::kDefault, kDefaultReadBlock, 10);
  PipeSource broken(captions, 1, 50);
  MemorySink sink;
  EXPECT_EQ(converter.ConvertStream(broken, sink), ConversionResult::kOpenFailed);
  PipeSource pipe(captions, 1);
  MemorySink full(60);
  EXPECT_EQ(converter.ConvertStream(pipe, full), ConversionResult::kWriteFailed);
  PipeSource again(captions, 2);
  MemorySink whole;
  EXPECT_EQ(converter.ConvertStream(again, whole), ConversionResult::kConverted);
  EXPECT_EQ(whole.bytes, "T.\r\n" + std::string(100, 'x') + "\r\nlast\r\n");
}

// One converter serves a whole batch: nothing of one file, not an unfinished
// line, a Ctrl-Z or a long line's buffer, may reach the next file's transcript.
TEST(CaptionConverter, StartsEveryFileAfresh) {
  TempDir dir;
  const std::string long_line(300 * 1024, 'x');
  WriteFile(dir / "a.vtt", "WEBVTT\n\n<v>first</v>\nhalf\x1A line\n");
  WriteFile(dir / "b.vtt", "second\r\nno final LF");
  WriteFile(dir / "c.vtt", "<c>" + long_line + "</c>\n" + "tail");
  WriteFile(dir / "d.vtt", "12\n<v>third</v>\r\n");
  CaptionConverter converter(Native("T"));
  for (const char* name : {"a", "b", "c", "d"}) {
    EXPECT_EQ(
        converter.Convert(dir / (std::string(name) + ".vtt"), dir / (std::string(name) + ".txt")),
        ConversionResult::kConverted);
  }
  EXPECT_EQ(ReadFile(dir / "a.txt"), "T.\r\nfirst\r\nhalf\r\n");
  EXPECT_EQ(ReadFile(dir / "b.txt"), "T.\r\nsecond\r\nno final LF\r\n");
  EXPECT_EQ(ReadFile(dir / "c.txt"), "T.\r\n" + long_line + "\r\ntail\r\n");
  EXPECT_EQ(ReadFile(dir / "d.txt"), "T.\r\nthird\r\n");
}

}  // namespace
}  // namespace orvane
