// Batch runs over hostile folders: huge, odd and broken entries. Every case
// checks that the run goes past the bad entry, that it ends in time (a hang
// trips the alarm, which ends the test process), what the user is told, and
// that nothing but the transcripts of readable caption files changed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "conversion/batch_run.h"
#include "conversion/naming.h"
#include "tests/file_size_limit.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::ExpectOnlyTranscriptsChanged;
using testing::ReadFile;
using testing::RecordingReporter;
using testing::Snapshot;
using testing::TakeSnapshot;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

// The sanitizer build runs the huge cases at a smaller size to stay quick.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr std::uintmax_t kHugeCaptionBytes = kSanitized ? 64u << 20 : 1u << 30;
constexpr std::uintmax_t kHugeManifestBytes = kSanitized ? 16u << 20 : 100u << 20;
// Well above the slowest case on a loaded machine, below CTest's own limit.
constexpr unsigned kTimeLimitSeconds = 240;

constexpr std::string_view kCaptions = "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Hello</v>\n";

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override { ::alarm(kTimeLimitSeconds); }
  void TearDown() override { ::alarm(0); }

  TempDir dir_;
};

// Runs the batch over `folder` and returns what the user sees, one
// "SUBJECT: TEXT" line per message: the errors sorted by path (the listing
// order is the file system's), then the last message where it was.
std::vector<std::string> Seen(const fs::path& folder) {
  RecordingReporter reporter;
  RunBatch(folder.native(), TranscriptStyle::kDefault, reporter);
  std::vector<std::string> lines;
  for (const auto& [kind, subject] : reporter.messages) {
    lines.push_back(subject + ": " + MessageText(kind, subject));
  }
  if (!lines.empty()) std::sort(lines.begin(), lines.end() - 1);
  return lines;
}

std::string Line(const fs::path& subject, BatchMessage message) {
  return subject.native() + ": " + MessageText(message, subject.native());
}

std::string Converted(const fs::path& folder) {
  return Line(folder, BatchMessage::kFilesConverted);
}

std::string OpenError(const fs::path& caption_file) {
  return Line(caption_file, BatchMessage::kErrorOpening);
}

// Writes `head`, then `pattern` repeated to at least `size` bytes, then `tail`.
void WriteRepeated(const fs::path& path, std::string_view head, std::string_view pattern,
                   std::uintmax_t size, std::string_view tail) {
  std::string block;
  while (block.size() < (1u << 20)) block += pattern;
  std::ofstream out(path, std::ios::binary);
  out << head;
  for (std::uintmax_t written = 0; written < size; written += block.size()) {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  out << tail;
  ASSERT_TRUE(out.good()) << path;
}

void MakeSocket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.native().size(), sizeof(address.sun_path));
  path.native().copy(address.sun_path, path.native().size());
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);  // the socket file stays behind, with nobody listening
}

std::string CueName(int i) {
  std::string name = "c";  // not "c" + ..., on which GCC 12 warns wrongly
  return name += std::to_string(i);
}

TEST_F(Hostile, TenThousandCaptionFiles) {
  const fs::path folder = dir_ / "captions";
  fs::create_directory(folder);
  std::set<std::string> transcripts;
  for (int i = 0; i < 10000; ++i) {
    const std::string name = CueName(i);
    WriteFile(folder / (name + ".vtt"), "WEBVTT\n\n" + name + "\n");
    transcripts.insert(name + ".txt");
  }
  fs::create_symlink("gone", folder / "c5000x.vtt");
  const Snapshot before = TakeSnapshot(folder);

  EXPECT_EQ(Seen(folder),
            (std::vector<std::string>{OpenError(folder / "c5000x.vtt"), Converted(folder)}));
  const Snapshot after = ExpectOnlyTranscriptsChanged(folder, before, transcripts);
  for (int i = 0; i < 10000; i += 999) {
    const std::string name = CueName(i);
    EXPECT_EQ(after.at(name + ".txt"), name + "\r\n");
  }
}

TEST_F(Hostile, HugeCaptionFileIsStreamed) {
  const fs::path folder = dir_ / "captions";
  fs::create_directory(folder);
  // Cues whose every line is dropped, between a first and a last kept line.
  WriteRepeated(folder / "huge.vtt", "WEBVTT\n\nFirst words\n",
                "\n1234\n00:00:01.000 --> 00:00:02.000\n<v></v>\n", kHugeCaptionBytes,
                "Last words");
  WriteFile(folder / "small.vtt", kCaptions);
  const Snapshot before = TakeSnapshot(folder);

  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  const Snapshot after = ExpectOnlyTranscriptsChanged(folder, before, {"huge.txt", "small.txt"});
  EXPECT_EQ(after.at("huge.txt"), "First words\r\nLast words\r\n");
  EXPECT_EQ(after.at("small.txt"), "Hello\r\n");
  if (!kSanitized) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "peak memory in KiB";
  }
  fs::remove(folder / "huge.vtt");
}

TEST_F(Hostile, SixtyFourMegabyteLine) {
  const fs::path folder = dir_ / "captions";
  fs::create_directory(folder);
  std::string line;
  std::string kept;
  while (line.size() < (64u << 20)) {
    line += "<v>Talk</v> <c>on</c> ";
    kept += "Talk on ";
  }
  WriteFile(folder / "long.vtt", "WEBVTT\r\n\r\n" + line + "\r\n");
  WriteFile(folder / "small.vtt", kCaptions);
  const Snapshot before = TakeSnapshot(folder);

  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  ExpectOnlyTranscriptsChanged(folder, before, {"long.txt", "small.txt"});
  EXPECT_TRUE(ReadFile(folder / "long.txt") == kept + "\r\n");
}

// A course package whose captions folder holds one caption file.
fs::path MakeCourse(const fs::path& course) {
  const fs::path folder = course / "media" / "captions";
  WriteFile(folder / "a.vtt", kCaptions);
  return folder;
}

// Runs the batch over `folder` in a child process and returns its messages
// as Seen does, and the child's peak resident memory in bytes.
std::pair<std::vector<std::string>, std::uint64_t> SeenInChild(const fs::path& folder) {
  TempDir scratch;
  const fs::path report = scratch / "seen";
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream out(report);
    for (const std::string& line : Seen(folder)) out << line << '\n';
    out.close();
    ::_exit(out.good() ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  std::vector<std::string> lines;
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return {lines, static_cast<std::uint64_t>(usage.ru_maxrss) * 1024};
}

// Whatever the caption file or manifest, a run's memory stays bounded: a
// line too long to hold is decided as it passes and read again when kept.
TEST_F(Hostile, MemoryStaysBoundedWhateverTheInput) {
  constexpr std::uintmax_t kBig = kSanitized ? 24u << 20 : 500u << 20;
  constexpr std::uint64_t kPeakLimit = 64u << 20;
  struct Case {
    std::string_view name;
    std::string_view head, pattern, tail;
    std::uintmax_t size;
    bool in_manifest;
  };
  const Case cases[] = {
      {"one long line without a line end", "WEBVTT\n\n", "<v>word</v> ", "", kBig, false},
      {"lone CRs as line ends", "WEBVTT\r", "Hello there\r", "", kBig * 3 / 5, false},
      {"a title that never closes", "<manifest><title>", "Course ", "", kBig * 2 / 5, true},
      {"a title that closes", "<manifest><title>", "Course ", "</title>", kBig / 5, true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path folder = MakeCourse(dir / "course__x");
    const fs::path big = c.in_manifest ? dir / "course__x" / "imsmanifest.xml" : folder / "big.vtt";
    WriteRepeated(big, c.head, c.pattern, c.size, c.tail);
    const auto [seen, peak] = SeenInChild(folder);
    EXPECT_EQ(seen, std::vector<std::string>{Converted(folder)}) << c.name;
    if (c.tail.empty()) {
      EXPECT_EQ(ReadFile(folder / "a.txt"), "Hello\r\n") << c.name;
    } else {
      // The title, read again from the manifest as it is written.
      const std::uintmax_t title = fs::file_size(big) - c.head.size() - c.tail.size();
      EXPECT_EQ(fs::file_size(folder / "a.txt"), title + 3 + 7) << c.name;
    }
    if (!kSanitized) {
      EXPECT_LT(peak, kPeakLimit) << c.name;
    }
    if (c.name == cases[0].name) {
      // Every "<v>word</v> " became "word ".
      const std::uintmax_t size = fs::file_size(folder / "big.txt");
      EXPECT_EQ((size - 2) * 12, (fs::file_size(big) - c.head.size()) * 5) << c.name;
      std::ifstream in(folder / "big.txt", std::ios::binary);
      std::string start(20, '\0');
      in.read(start.data(), 20);
      EXPECT_EQ(start, "word word word word ");
    } else if (!c.in_manifest) {
      EXPECT_EQ(fs::file_size(folder / "big.txt"), 0u) << c.name;
    }
  }
}

// Writes `head`, then the lines `make(i, line)` makes for i = 0, 1, ... up to at
// least `size` bytes, then `tail(count)` for the count of lines made. Returns
// that count.
std::uint64_t WriteLines(const fs::path& path, std::string_view head, std::uintmax_t size,
                         void (*make)(std::uint64_t, std::string&),
                         const std::function<std::string(std::uint64_t)>& tail) {
  std::ofstream out(path, std::ios::binary);
  out << head;
  std::string block;
  std::string line;
  std::uint64_t count = 0;
  for (std::uintmax_t written = 0; written < size; written += block.size()) {
    block.clear();
    while (block.size() < (1u << 20)) {
      make(count++, line);
      block += line;
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  out << tail(count);
  EXPECT_TRUE(out.good()) << path;
  return count;
}

// "line 0000000042\n": distinct lines of 16 bytes.
void NumberedLine(std::uint64_t i, std::string& line) {
  line = "line 0000000000\n";
  for (std::size_t at = 14; i != 0; --at, i /= 10) line[at] = static_cast<char>('0' + i % 10);
}

// A cue of one letter, a to z in turn: no cue repeats the one before.
void LetterCue(std::uint64_t i, std::string& cue) {
  cue = "00:00:01.000 --> 00:00:02.000\nx\n\n";
  cue[30] = static_cast<char>('a' + i % 26);
}

// Lines of about 4 MB, just within the line limit, that clean to "xN y", in
// cues of 16.
constexpr std::size_t kSpaced = (4u << 20) - 64;
void SpacedLine(std::uint64_t i, std::string& line) {
  line = i % 16 == 0 ? "\n00:00:01.000 --> 00:00:02.000\n" : "";
  line.append("x").append(std::to_string(i)).append(kSpaced + 1, ' ').append("y\n");
}

// Distinct lines of 1 MiB with their LF, in cues of 16.
void MegabyteLine(std::uint64_t i, std::string& line) {
  line = i % 16 == 0 ? "\n00:00:01.000 --> 00:00:02.000\n" : "";
  const std::size_t start = line.size();
  line.append("L").append(std::to_string(i)).append(" ");
  while (line.size() - start < (1u << 20) - 1) line.append("abcdefgh");
  line.resize(start + (1u << 20) - 1);
  line.append("\n");
}

// A caption stream that can be read only once, as a pipe is.
class ReadOnce : public CaptionSource {
 public:
  explicit ReadOnce(platform::InputFile& file) : file_(file) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override { return file_.Read(buffer, size); }
  std::ptrdiff_t ReadAt(std::uint64_t, char*, std::size_t) override { return -1; }

 private:
  platform::InputFile& file_;
};

class FileWriter : public TranscriptSink {
 public:
  explicit FileWriter(const fs::path& path) : out_(path, std::ios::binary) {}
  bool Write(const char* data, std::size_t size) override {
    return out_.write(data, static_cast<std::streamsize>(size)).good();
  }

 private:
  std::ofstream out_;
};

// Converts `input` into `output` in a child process, from the file or as a
// pipe, and returns the child's peak resident memory in bytes.
std::uint64_t PeakOfConversion(const fs::path& input, const fs::path& output, TranscriptStyle style,
                               bool pipe) {
  const pid_t child = ::fork();
  if (child == 0) {
    CaptionConverter converter(NativeString(), style);
    ConversionResult result = ConversionResult::kOpenFailed;
    converter.set_stream_format(
        CaptionFormatOfName(input.native()).value_or(CaptionFormat::kWebVtt));
    if (pipe) {
      platform::InputFile file;
      ReadOnce stream(file);
      FileWriter transcript(output);
      if (file.Open(input)) result = converter.ConvertStream(stream, transcript);
    } else {
      result = converter.Convert(input, output);
    }
    ::_exit(result == ConversionResult::kConverted ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// A file's size and its first and last bytes, as Ends shows them.
std::string Ends(std::uint64_t size, std::string_view first, std::string_view last) {
  return std::to_string(size) + " bytes: " + std::string(first.substr(0, 24)) + " ... " +
         std::string(last.substr(last.size() - std::min<std::size_t>(last.size(), 24)));
}

std::string Ends(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::uintmax_t size = fs::file_size(path);
  std::string first(std::min<std::uintmax_t>(size, 24), '\0');
  in.read(first.data(), static_cast<std::streamsize>(first.size()));
  std::string last(first.size(), '\0');
  in.seekg(static_cast<std::streamoff>(size - last.size()));
  in.read(last.data(), static_cast<std::streamsize>(last.size()));
  return Ends(size, first, last);
}

std::string Repeat(std::string_view text, std::size_t times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// Whatever the shape of a caption file, a conversion in any style, from a
// file or a pipe, holds no line longer than the line limit whole.
TEST_F(Hostile, ConversionMemoryStaysBoundedInEveryStyle) {
  constexpr std::uintmax_t kBig = kSanitized ? 24u << 20 : 500u << 20;
  constexpr std::uintmax_t kTiming = kSanitized ? 8u << 20 : 100u << 20;
  constexpr std::uintmax_t kIdentifier = kSanitized ? 8u << 20 : 200u << 20;
  constexpr std::uintmax_t kCues = kSanitized ? 8u << 20 : 320u << 20;  // 10 million cues
  constexpr std::uint64_t kPeakLimit = 64u << 20;
  constexpr std::string_view kCue = "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n";
  using Expected = std::function<std::string(std::uint64_t)>;
  struct Case {
    std::string name;
    std::function<std::uint64_t(const fs::path&)> write;  // returns a count of repeats
    Expected expected[2];                                 // default, clean
  };
  const auto repeated = [](std::string head, std::string_view pattern, std::uintmax_t size,
                           std::string_view tail) {
    return [=](const fs::path& path) {
      WriteRepeated(path, head, pattern, size, tail);
      return (fs::file_size(path) - head.size() - tail.size()) / pattern.size();
    };
  };
  const auto fixed = [](std::string text) {
    return [text](std::uint64_t) { return Ends(text.size(), text, text); };
  };
  const std::string words = Repeat("word ", 10);
  const auto numbered = [](std::uint64_t i) {
    std::string line;
    NumberedLine(i, line);
    return line;
  };
  const auto numbered_tail = [numbered](std::uint64_t n) {
    return numbered(n - 2).insert(15, "\r") + numbered(n - 1).insert(15, "\r") + "end\r\n";
  };
  const std::string letters = "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\n";
  const Case cases[] = {
      {"a long cue line",
       repeated(std::string(kCue), "<v>word</v> ", kBig, "\n"),
       {[&](std::uint64_t n) { return Ends(5 * n + 2, words, words + "\r\n"); },
        [&](std::uint64_t n) { return Ends(5 * n + 1, words, words.substr(0, 49) + "\r\n"); }}},
      {"a cue of distinct lines, its last two repeated by the next cue",
       [&](const fs::path& path) {
         return WriteLines(path, kCue, kBig, NumberedLine, [&](std::uint64_t n) {
           return "\n00:00:02.000 --> 00:00:03.000\n" + numbered(n - 2) + numbered(n - 1) + "end\n";
         });
       },
       {[&](std::uint64_t n) {
          return Ends(17 * n + 39, "line 0000000000\r\nline 00", numbered_tail(n));
        },
        [&](std::uint64_t n) {
          return Ends(17 * n + 5, "line 0000000000\r\nline 00", numbered_tail(n));
        }}},
      {"a long timing line",
       repeated(std::string(kCue.substr(0, kCue.size() - 1)) + " ", "align:start ", kTiming,
                "\nHello\n"),
       {fixed("Hello\r\n"), fixed("Hello\r\n")}},
      {"a header that never ends",
       repeated(std::string("WEBVTT"), " header", kBig, ""),
       {fixed(""), fixed("")}},
      {"a long cue identifier",
       repeated(std::string("WEBVTT\n\n"), "cue-id-", kIdentifier,
                "\n00:00:01.000 --> 00:00:02.000\nHello\n"),
       {[&](std::uint64_t n) {
          return Ends(7 * n + 9, Repeat("cue-id-", 4), Repeat("cue-id-", 4) + "\r\nHello\r\n");
        },
        fixed("Hello\r\n")}},
      {"ten million one-letter cues",
       [&](const fs::path& path) {
         return WriteLines(path, "WEBVTT\n\n", kCues, LetterCue, [](std::uint64_t) { return ""; });
       },
       {[&](std::uint64_t n) {
          std::string last;
          for (std::uint64_t i = n - 8; i < n; ++i)
            last += std::string(1, char('a' + i % 26)) + "\r\n";
          return Ends(3 * n, letters, last);
        },
        {}}},
      // Lines just within the limit, in cues of 16: the lines of two cues
      // are held for comparison.
      {"cues of 16 lines of 4 MB that clean to a few bytes",
       [&](const fs::path& path) {
         return WriteLines(path, "WEBVTT\n", 48u * kSpaced, SpacedLine,
                           [](std::uint64_t) { return ""; });
       },
       {[&](std::uint64_t n) {
          std::uint64_t size = 0;
          for (std::uint64_t i = 0; i < n; ++i) size += std::to_string(i).size() + kSpaced + 5;
          return Ends(size, "x0" + std::string(22, ' '), std::string(21, ' ') + "y\r\n");
        },
        [&](std::uint64_t n) {
          std::uint64_t size = 0;
          std::string last;
          for (std::uint64_t i = 0; i < n; ++i) {
            size += std::to_string(i).size() + 5;
            last.append("x").append(std::to_string(i)).append(" y\r\n");
          }
          return Ends(size, "x0 y\r\nx1 y\r\nx2 y\r\nx3 y\r\n", last);
        }}},
      {"cues of 16 distinct lines of 1 MB",
       [&](const fs::path& path) {
         return WriteLines(path, "WEBVTT\n", 64u << 20, MegabyteLine,
                           [](std::uint64_t) { return ""; });
       },
       {[&](std::uint64_t n) {
          std::string line;
          MegabyteLine(n - 1, line);
          if (line.front() == '\n') line.erase(0, line.find('\n', 1) + 1);  // the cue's timing
          return Ends(n * ((1u << 20) + 1), "L0 " + Repeat("abcdefgh", 3).substr(0, 21),
                      line.substr(0, line.size() - 1) + "\r\n");
        },
        {}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path input = dir / "big.vtt";
    const std::uint64_t count = c.write(input);
    for (const TranscriptStyle style : {TranscriptStyle::kDefault, TranscriptStyle::kClean}) {
      const bool clean = style == TranscriptStyle::kClean;
      // No two cues alike: the clean transcript is the default one.
      const Expected& expected = c.expected[clean] ? c.expected[clean] : c.expected[0];
      for (const bool pipe : {false, true}) {
        SCOPED_TRACE(::testing::Message() << c.name << (clean ? ", clean" : ", default")
                                          << (pipe ? ", pipe" : ", file"));
        const fs::path output = dir / "big.txt";
        const std::uint64_t peak = PeakOfConversion(input, output, style, pipe);
        if (!kSanitized) {
          EXPECT_LT(peak, kPeakLimit);
        }
        EXPECT_EQ(Ends(output), expected(count));
      }
    }
    // Paragraphs hold a paragraph up to its break, and a line too long to
    // hold joins it by reference; the same bytes read as SubRip or SBV are
    // read by the same reader: their memory is bounded too.
    const std::pair<std::string, TranscriptStyle> others[] = {
        {".vtt", TranscriptStyle::kTimedParagraphs},
        {".srt", TranscriptStyle::kClean},
        {".sbv", TranscriptStyle::kClean},
    };
    for (const auto& [extension, style] : others) {
      const fs::path named = dir / ("same" + extension);
      fs::create_hard_link(input, named);
      // Pipes of other formats are read as files are: the paragraphs' suffice.
      for (const bool pipe : {false, true}) {
        if (pipe && extension != ".vtt") continue;
        SCOPED_TRACE(::testing::Message()
                     << c.name << ", " << extension << " style " << static_cast<int>(style)
                     << (pipe ? ", pipe" : ", file"));
        const std::uint64_t peak = PeakOfConversion(named, dir / "big.txt", style, pipe);
        if (!kSanitized) {
          EXPECT_LT(peak, kPeakLimit);
        }
      }
    }
  }
}

// The shapes of SBV file that hold the most: a cue line, a timing line and a
// cue of many lines, each far past the line limit, and millions of cues.
TEST_F(Hostile, SbvMemoryStaysBounded) {
  constexpr std::uintmax_t kBig = kSanitized ? 24u << 20 : 150u << 20;
  constexpr std::uint64_t kPeakLimit = 64u << 20;
  struct SbvCase {
    std::string name;
    std::string head, pattern, tail;
    std::string_view first;  // the transcript's first bytes
  };
  const SbvCase cases[] = {
      {"a long cue line", "0:00:01.000,0:00:02.000\n", "<i>word</i> ", "\n", "word word "},
      {"a long timing line", "0:00:01.000,0:00:02.000", "      ", "\nHello\n", ""},
      {"a cue of many lines", "0:00:01.000,0:00:02.000\n", "line of text\n", "",
       "line of text\r\n"},
      {"millions of cues", "", "0:00:01.000,0:00:02.000\nHi\n\n", "", "Hi\r\nHi\r\n"},
  };
  for (const SbvCase& c : cases) {
    TempDir dir;
    const fs::path input = dir / "big.sbv";
    WriteRepeated(input, c.head, c.pattern, kBig, c.tail);
    for (const TranscriptStyle style :
         {TranscriptStyle::kClean, TranscriptStyle::kTimedParagraphs}) {
      for (const bool pipe : {false, true}) {
        SCOPED_TRACE(::testing::Message() << c.name << ", style " << static_cast<int>(style)
                                          << (pipe ? ", pipe" : ", file"));
        const fs::path output = dir / "big.txt";
        const std::uint64_t peak = PeakOfConversion(input, output, style, pipe);
        if (!kSanitized) {
          EXPECT_LT(peak, kPeakLimit);
        }
        if (style == TranscriptStyle::kClean) {
          std::ifstream in(output, std::ios::binary);
          std::string first(c.first.size(), '\0');
          in.read(first.data(), static_cast<std::streamsize>(first.size()));
          EXPECT_EQ(first, c.first);
        }
      }
    }
  }
}

struct BytesCase {
  std::string_view name;
  std::string captions;
  std::string transcript;
};

TEST_F(Hostile, OddBytesAreCopiedAsTheyStand) {
  using namespace std::string_literals;
  const BytesCase cases[] = {
      {"nul", "WEBVTT\0\n\n\0\0\0\nA\0B\n1\0\n"s, "\0\0\0\r\nA\0B\r\n1\0\r\n"s},
      {"invalid-utf8", "\xC3\x28 \xA0\xA1\n\xF0\x28\x8C\xBC\n\xFF\xFE\xFD\n",
       "\xC3\x28 \xA0\xA1\r\n\xF0\x28\x8C\xBC\r\n\xFF\xFE\xFD\r\n"},
      // "WEBVTT\r\n\r\nHi\r\n" in UTF-16LE: no byte pair reads as CR LF and
      // no line holds "WEBVTT", so every line is kept, NULs and all.
      {"utf16", "\xFF\xFEW\0E\0B\0V\0T\0T\0\r\0\n\0\r\0\n\0H\0i\0\r\0\n\0"s,
       "\xFF\xFEW\0E\0B\0V\0T\0T\0\r\0\r\n\0\r\0\r\n\0H\0i\0\r\0\r\n\0\r\n"s},
      {"only-crs", "\r\r\r\r", "\r\r\r\r\r\n"},
      {"only-ctrl-z", "\x1A\x1A\x1A", ""},
      {"ctrl-z-first", "\x1AWEBVTT\nHello\n", ""},
  };
  const fs::path folder = dir_ / "captions";
  std::set<std::string> transcripts;
  for (const BytesCase& c : cases) {
    WriteFile(folder / (std::string(c.name) + ".vtt"), c.captions);
    transcripts.insert(std::string(c.name) + ".txt");
  }
  const Snapshot before = TakeSnapshot(folder);

  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  const Snapshot after = ExpectOnlyTranscriptsChanged(folder, before, transcripts);
  for (const BytesCase& c : cases) {
    EXPECT_EQ(after.at(std::string(c.name) + ".txt"), c.transcript) << c.name;
  }
}

TEST_F(Hostile, HugeManifestWithTheTitleAtItsEnd) {
  const fs::path course = dir_ / "course__big";
  const fs::path folder = MakeCourse(course);
  WriteRepeated(course / "imsmanifest.xml", "<manifest>\n", "  <item identifier=\"x\"/>\n",
                kHugeManifestBytes, "<title>Big Course</title></manifest>\n");
  const Snapshot before = TakeSnapshot(course);

  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  const Snapshot after = ExpectOnlyTranscriptsChanged(course, before, {"media/captions/a.txt"});
  EXPECT_EQ(after.at("media/captions/a.txt"), "Big Course.\r\nHello\r\n");
}

TEST_F(Hostile, ManifestThatIsNoFileGivesNoTitle) {
  using Make = void (*)(const fs::path&);
  const std::pair<std::string_view, Make> cases[] = {
      {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"directory",
       [](const fs::path& p) { WriteFile(p / "imsmanifest.xml", "<title>X</title>"); }},
      {"dangling link", [](const fs::path& p) { fs::create_symlink("gone.xml", p); }},
      {"link loop", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
      {"link to a device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
      {"socket", MakeSocket},
  };
  for (const auto& [name, make] : cases) {
    TempDir dir;
    const fs::path folder = MakeCourse(dir / "c__1");
    make(dir / "c__1" / "imsmanifest.xml");
    const Snapshot before = TakeSnapshot(dir.path());
    EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)}) << name;
    const Snapshot after =
        ExpectOnlyTranscriptsChanged(dir.path(), before, {"c__1/media/captions/a.txt"});
    EXPECT_EQ(after.at("c__1/media/captions/a.txt"), "Hello\r\n") << name;
  }
}

TEST_F(Hostile, CaptionEntriesThatAreNoFiles) {
  const fs::path folder = dir_ / "captions";
  WriteFile(folder / "good.vtt", kCaptions);
  ASSERT_EQ(::mkfifo((folder / "fifo.vtt").c_str(), 0600), 0);
  WriteFile(folder / "fifo.txt", "hand-edited");
  MakeSocket(folder / "socket.vtt");
  fs::create_symlink("gone.vtt", folder / "dangling.vtt");
  fs::create_symlink("/dev/zero", folder / "device.vtt");
  fs::create_symlink("loop.vtt", folder / "loop.vtt");
  WriteFile(dir_ / "elsewhere" / "inside.vtt", kCaptions);
  fs::create_directory_symlink(dir_ / "elsewhere", folder / "folder-link.vtt");
  fs::create_directory(folder / "folder.vtt");
  const Snapshot before = TakeSnapshot(dir_.path());

  EXPECT_EQ(Seen(folder), (std::vector<std::string>{
                              OpenError(folder / "dangling.vtt"), OpenError(folder / "device.vtt"),
                              OpenError(folder / "fifo.vtt"), OpenError(folder / "loop.vtt"),
                              OpenError(folder / "socket.vtt"), Converted(folder)}));
  const Snapshot after = ExpectOnlyTranscriptsChanged(dir_.path(), before, {"captions/good.txt"});
  EXPECT_EQ(after.at("captions/good.txt"), "Hello\r\n");
}

// Transcript paths that are not plain writable files are refused and left as
// they are; nothing is written through a link. A transcript that exists is
// replaced, so its other names keep their bytes.
TEST_F(Hostile, TranscriptPathsAreNeverWrittenThrough) {
  const fs::path folder = dir_ / "captions";
  const fs::path outside = dir_ / "outside";
  for (const char* name : {"good", "folder", "folder-link", "secret", "dangling", "device", "fifo",
                           "a", "b", "c", "d", "old"}) {
    WriteFile(folder / (std::string(name) + ".vtt"), "<v>" + std::string(name) + "</v>\n");
  }
  WriteFile(folder / "folder.txt" / "notes.md", "mine");
  WriteFile(outside / "bashrc", "alias ls='ls -F'\n");
  fs::create_directory_symlink(outside, folder / "folder-link.txt");
  fs::create_symlink(outside / "bashrc", folder / "secret.txt");
  fs::create_symlink(outside / "created", folder / "dangling.txt");
  fs::create_symlink("/dev/null", folder / "device.txt");
  ASSERT_EQ(::mkfifo((folder / "fifo.txt").c_str(), 0600), 0);
  fs::create_symlink("b.vtt", folder / "a.txt");
  fs::create_hard_link(folder / "d.vtt", folder / "c.txt");
  WriteFile(folder / "old.txt", "an old transcript");
  const Snapshot before = TakeSnapshot(dir_.path());

  EXPECT_EQ(Seen(folder),
            (std::vector<std::string>{
                OpenError(folder / "a.vtt"), OpenError(folder / "dangling.vtt"),
                OpenError(folder / "device.vtt"), OpenError(folder / "fifo.vtt"),
                OpenError(folder / "folder-link.vtt"), OpenError(folder / "folder.vtt"),
                OpenError(folder / "secret.vtt"), Converted(folder)}));
  const Snapshot after =
      ExpectOnlyTranscriptsChanged(dir_.path(), before,
                                   {"captions/good.txt", "captions/b.txt", "captions/c.txt",
                                    "captions/d.txt", "captions/old.txt"});
  EXPECT_EQ(after.at("captions/c.txt"), "c\r\n");
  EXPECT_EQ(after.at("captions/d.vtt"), "<v>d</v>\n");
  EXPECT_EQ(after.at("captions/old.txt"), "old\r\n");
}

// A transcript written by the run takes the caption file's read and write
// bits; a replaced one keeps its own.
TEST_F(Hostile, TranscriptModes) {
  const fs::path folder = dir_ / "captions";
  WriteFile(folder / "private.vtt", kCaptions);
  fs::permissions(folder / "private.vtt", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(folder / "kept.vtt", kCaptions);
  WriteFile(folder / "kept.txt", "old");
  fs::permissions(folder / "kept.txt", fs::perms::owner_all | fs::perms::group_read);
  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  EXPECT_EQ(fs::status(folder / "private.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(folder / "kept.txt").permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read);
}

// Captions whose names differ only in case would all write one transcript:
// the first one listed does, the others are told.
TEST_F(Hostile, CaptionsThatShareATranscript) {
  const fs::path folder = dir_ / "captions";
  for (const char* name : {"lesson.vtt", "lesson.VTT", "lesson.Vtt"}) {
    WriteFile(folder / name, "<v>" + std::string(name) + "</v>\n");
  }
  const std::vector<std::string> seen = Seen(folder);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.back(), Converted(folder));
  const std::string transcript = ReadFile(folder / "lesson.txt");
  for (const char* name : {"lesson.vtt", "lesson.VTT", "lesson.Vtt"}) {
    const bool written = transcript == std::string(name) + "\r\n";
    EXPECT_NE(std::count(seen.begin(), seen.end(), OpenError(folder / name)), written ? 1 : 0)
        << name;
  }
}

// A write that fails part way, at a file-size limit, leaves the old
// transcript and no temporary file; the run reports it and goes on.
TEST_F(Hostile, FailedWritesKeepTheOldTranscript) {
  const fs::path folder = dir_ / "captions";
  fs::create_directory(folder);
  WriteRepeated(folder / "big.vtt", "", "Words to keep\n", 2 << 20, "");
  WriteFile(folder / "big.txt", "the old transcript");
  WriteFile(folder / "small.vtt", kCaptions);
  const Snapshot before = TakeSnapshot(dir_.path());
  {
    const testing::FileSizeLimit limit(1 << 20);
    EXPECT_EQ(Seen(folder),
              (std::vector<std::string>{Line(folder / "big.vtt", BatchMessage::kErrorWriting),
                                        Converted(folder)}));
  }
  const Snapshot after = ExpectOnlyTranscriptsChanged(dir_.path(), before, {"captions/small.txt"});
  EXPECT_EQ(after.at("captions/big.txt"), "the old transcript");
}

// Runs over one folder at the same time each replace the transcript whole:
// it always holds one complete output, never a mix.
TEST_F(Hostile, ConcurrentRunsNeverMixTheirBytes) {
  const fs::path folder = dir_ / "captions";
  fs::create_directory(folder);
  WriteRepeated(folder / "a.vtt", "", "<v>one line of speech</v>\n", 1 << 20, "");
  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  const std::string expected = ReadFile(folder / "a.txt");
  const Snapshot before = TakeSnapshot(dir_.path());
  {
    std::vector<std::thread> runs;
    for (int i = 0; i < 4; ++i) {
      runs.emplace_back([&folder] {
        for (int round = 0; round < 5; ++round) Seen(folder);
      });
    }
    for (std::thread& run : runs) run.join();
  }
  ExpectOnlyTranscriptsChanged(dir_.path(), before, {"captions/a.txt"});
  EXPECT_TRUE(ReadFile(folder / "a.txt") == expected);
}

// Returns a folder path of exactly `length` bytes under `base`, two levels
// below a course folder named "course__x". Creates nothing.
fs::path FolderOfLength(const fs::path& base, std::size_t length) {
  constexpr std::size_t kCourseTail = std::string_view("/course__x/media/").size();
  fs::path course = base;
  while (length - course.native().size() > kCourseTail + 250) course /= std::string(200, 'p');
  course /= "course__x";
  const fs::path media = course / "media";
  return media / std::string(length - media.native().size() - 1, 'c');
}

// A link with a short path to a folder whose own path is long, so that the
// test can create, inspect and remove entries beyond PATH_MAX.
class ShortAlias {
 public:
  ShortAlias(const fs::path& alias, const fs::path& target) : alias_(alias) {
    fs::create_directories(target);
    fs::create_directory_symlink(target, alias);
  }
  // Entries whose full paths exceed PATH_MAX defeat the temporary folder's
  // own clean-up, so they go through the alias.
  ~ShortAlias() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(alias_, ignored)) {
      fs::remove_all(entry.path(), ignored);
    }
  }
  const fs::path& path() const { return alias_; }

 private:
  fs::path alias_;
};

TEST_F(Hostile, LongFolderPaths) {
  ASSERT_LT(dir_.path().native().size(), 200u);
  for (const std::size_t length : {std::size_t{259}, std::size_t{4000}}) {
    TempDir dir;
    const fs::path folder = FolderOfLength(dir.path(), length);
    ASSERT_EQ(folder.native().size(), length);
    ShortAlias alias(dir / "alias", folder);
    WriteFile(alias.path() / "a.vtt", kCaptions);
    WriteFile(alias.path() / ".." / ".." / "imsmanifest.xml", "<title>Long Way</title>");
    // Its full path is longer than PATH_MAX (4096 bytes with the NUL) in the
    // 4,000-byte folder, and its temporary file's longer still: files are
    // opened by name in the open folder, so it converts all the same.
    const std::string long_name(120, 'n');
    WriteFile(alias.path() / (long_name + ".vtt"), kCaptions);
    const Snapshot before = TakeSnapshot(alias.path());

    const std::set<std::string> transcripts = {"a.txt", long_name + ".txt"};
    EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)}) << length;
    const Snapshot after = ExpectOnlyTranscriptsChanged(alias.path(), before, transcripts);
    EXPECT_EQ(after.at("a.txt"), "Long Way.\r\nHello\r\n") << length;
  }
}

TEST_F(Hostile, FolderPathBeyondPathMax) {
  const fs::path folder = FolderOfLength(dir_.path(), PATH_MAX + 100);
  fs::path within = folder.parent_path();
  while (within.native().size() >= PATH_MAX) within = within.parent_path();
  ShortAlias alias(dir_ / "alias", within);
  const fs::path deep = alias.path() / folder.lexically_relative(within);
  WriteFile(deep / "a.vtt", kCaptions);
  WriteFile(deep / ".." / ".." / "imsmanifest.xml", "<title>Deep</title>");
  const Snapshot before = TakeSnapshot(deep);

  // The system takes no path this long at once: the folder is opened a part
  // at a time, and its course title two folders up is found the same way.
  EXPECT_EQ(Seen(folder), std::vector<std::string>{Converted(folder)});
  const Snapshot after = ExpectOnlyTranscriptsChanged(deep, before, {"a.txt"});
  EXPECT_EQ(after.at("a.txt"), "Deep.\r\nHello\r\n");
}

TEST_F(Hostile, SelectedFolderGoneBeforeTheRun) {
  using Replace = void (*)(const fs::path&);
  const std::pair<std::string_view, Replace> cases[] = {
      {"deleted", [](const fs::path&) {}},
      {"now a file", [](const fs::path& p) { WriteFile(p, "WEBVTT\nHello\n"); }},
      {"now a dangling link", [](const fs::path& p) { fs::create_symlink("gone", p); }},
  };
  for (const auto& [name, replace] : cases) {
    TempDir dir;
    const fs::path folder = MakeCourse(dir / "c__1");
    WriteFile(dir / "c__1" / "imsmanifest.xml", "<title>T</title>");
    fs::remove_all(folder);
    replace(folder);
    const Snapshot before = TakeSnapshot(dir.path());
    EXPECT_EQ(Seen(folder), std::vector<std::string>{Line(folder, BatchMessage::kNoCaptionFiles)})
        << name;
    ExpectOnlyTranscriptsChanged(dir.path(), before, {});
  }
}

// Makes a tree of course exports from `seed`, the same for the same seed:
// nested course packages with manifests, caption folders, folders without
// captions, links to folders (a loop among them), a folder named like a
// caption file, one that this user may not read (unless root), and one folder
// of hostile entries: things that are no files, transcript paths that are
// links, and captions that share a transcript.
void MakeTree(const fs::path& root, unsigned seed) {
  std::mt19937 random(seed);
  const auto pick = [&random](int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(random);
  };
  const std::string_view folder_names[] = {"a", "B", "b", "10", "9", "a b", "caf\xC3\xA9", "z"};
  const std::string_view caption_names[] = {"lesson.vtt", "intro.VTT", "x.vtt", "notes.txt"};
  std::vector<fs::path> folders = {root};
  fs::create_directories(root);
  for (int i = 0; i < 14; ++i) {
    const fs::path parent =
        folders[static_cast<std::size_t>(pick(static_cast<int>(folders.size())))];
    fs::path folder = parent / std::string(folder_names[pick(8)]);
    if (pick(3) == 0) {
      folder = parent / ("course__" + std::to_string(i));
      WriteFile(folder / "imsmanifest.xml", "<title>Course " + std::to_string(i) + "</title>");
      folder /= "media";
      WriteFile(folder / "captions" / "a.vtt", kCaptions);
    }
    fs::create_directories(folder);
    folders.push_back(folder);
    for (int files = pick(4); files > 0; --files) {
      WriteFile(folder / caption_names[pick(4)], "<v>" + std::to_string(i) + "</v>\n");
    }
  }
  const fs::path deep = folders.back();
  fs::create_directory_symlink(fs::relative(root, deep), deep / "loop");
  fs::create_directory_symlink(fs::relative(folders[1], deep), deep / "sibling");
  WriteFile(root / "folder.vtt" / "inner.vtt", kCaptions);
  fs::create_directories(root / "empty" / "deeper");
  WriteFile(root / "locked" / "a.vtt", kCaptions);
  fs::permissions(root / "locked", fs::perms::owner_write | fs::perms::owner_exec);

  const fs::path hostile = root / "hostile";
  for (const char* name :
       {"good.vtt", "lesson.vtt", "lesson.VTT", "lesson.Vtt", "secret.vtt", "folder.vtt"}) {
    WriteFile(hostile / name, "<v>" + std::string(name) + "</v>\n");
  }
  ASSERT_EQ(::mkfifo((hostile / "fifo.vtt").c_str(), 0600), 0);
  MakeSocket(hostile / "socket.vtt");
  fs::create_symlink("gone.vtt", hostile / "dangling.vtt");
  fs::create_symlink("/dev/zero", hostile / "device.vtt");
  fs::create_symlink("good.vtt", hostile / "secret.txt");
  fs::create_directory(hostile / "folder.txt");
}

// Every folder under `root`, links not followed, in the order of a
// depth-first walk with sub-folders sorted by name.
std::vector<fs::path> FoldersDepthFirst(const fs::path& root) {
  std::vector<fs::path> folders = {root};
  std::vector<fs::path> subfolders;
  std::error_code unreadable;
  for (const auto& entry : fs::directory_iterator(root, unreadable)) {
    if (!entry.is_symlink() && entry.is_directory()) subfolders.push_back(entry.path());
  }
  std::sort(subfolders.begin(), subfolders.end(), [](const fs::path& a, const fs::path& b) {
    return a.filename().native() < b.filename().native();
  });
  for (const fs::path& folder : subfolders) {
    for (fs::path& inner : FoldersDepthFirst(folder)) folders.push_back(std::move(inner));
  }
  return folders;
}

using Messages = std::vector<testing::Message>;

// What converting each folder of the tree on its own tells, with the
// subjects relative to `root`: folders without caption files are left out
// unless they cannot be read, and a tree without any gives one message.
Messages EachFolderOnItsOwn(const fs::path& root) {
  Messages messages;
  bool converted = false;
  for (const fs::path& folder : FoldersDepthFirst(root)) {
    Messages own = testing::RunBatchOn(folder);
    const bool none = own.size() == 1 && own[0].kind == BatchMessage::kNoCaptionFiles;
    DIR* readable = ::opendir(folder.c_str());
    if (readable != nullptr) ::closedir(readable);
    if (none && readable != nullptr) continue;
    converted = converted || !none;
    messages.insert(messages.end(), own.begin(), own.end());
  }
  const testing::Message root_none = {BatchMessage::kNoCaptionFiles, root.native()};
  if (!converted && (messages.empty() || messages[0] != root_none)) messages.push_back(root_none);
  return messages;
}

Messages RunTree(const fs::path& root, unsigned jobs) {
  RecordingReporter reporter;
  BatchOptions options;
  options.recursive = true;
  options.jobs = jobs;
  RunBatches(root.native(), options, reporter);
  return reporter.messages;
}

// Subjects made relative to `root`, so that runs over copies compare.
Messages Relative(Messages messages, const fs::path& root) {
  for (testing::Message& message : messages) {
    message.subject = fs::path(message.subject).lexically_relative(root).native();
  }
  return messages;
}

// The peak resident memory, in bytes, of a child process that runs `run`.
std::uint64_t PeakInChild(const std::function<void()>& run) {
  const pid_t child = ::fork();
  if (child == 0) {
    run();
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// A run holds state for the files in flight, not for the folder or the tree:
// a folder of many captions or a tree of many sub-folders, deep down a long
// path, takes what a small one takes.
TEST_F(Hostile, WideFoldersAndTreesKeepMemoryBounded) {
  const int files = kSanitized ? 2'000 : 20'000;
  const int subfolders = kSanitized ? 1'000 : 10'000;
  fs::path base = dir_.path();
  while (base.native().size() < 3'000) base /= std::string(200, 'p');
  for (int i = 0; i < files; ++i) {
    WriteFile(base / "wide" / (std::string(100, 'n') + std::to_string(i) + ".vtt"), "Hi\n");
  }
  for (int i = 0; i < subfolders; ++i) {
    fs::create_directories(base / "tree" / (std::string(150, 's') + std::to_string(i)));
  }
  const fs::path last = base / "tree" / (std::string(150, 's') + std::to_string(subfolders - 1));
  WriteFile(last / "a.vtt", "Hi\n");
  const std::uint64_t wide = PeakInChild([&] {
    RecordingReporter reporter;
    BatchOptions options;
    options.jobs = 2;
    RunBatches((base / "wide").native(), options, reporter);
  });
  const std::uint64_t tree = PeakInChild([&] {
    RecordingReporter reporter;
    BatchOptions options;
    options.recursive = true;
    RunBatches((base / "tree").native(), options, reporter);
  });
  EXPECT_EQ(ReadFile(base / "wide" / (std::string(100, 'n') + "0.txt")), "Hi\r\n");
  EXPECT_EQ(ReadFile(last / "a.txt"), "Hi\r\n");
  if (!kSanitized) {
    EXPECT_LT(wide, 32u << 20) << "a folder of " << files << " captions";
    EXPECT_LT(tree, 24u << 20) << "a tree of " << subfolders << " sub-folders";
  }
}

// Run as root, a caption file that is a link is read only when the link and
// what it leads to have one owner: nobody reads through root what only root
// may read. The transcript of a readable caption keeps no more readers than
// the caption has.
TEST_F(Hostile, LinksIntoSecretsAsRoot) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  constexpr uid_t kUser = 65534;
  struct Case {
    std::string_view name;
    uid_t link_owner, target_owner;
    bool read;
  };
  const Case cases[] = {
      {"root's file through the user's link", kUser, 0, false},
      {"the user's file through root's link", 0, kUser, false},
      {"the user's file through the user's link", kUser, kUser, true},
      {"root's file through root's link", 0, 0, true},
  };
  const fs::path folder = dir_ / "user";
  const fs::path secrets = dir_ / "secrets";
  std::vector<std::string> expected;
  std::set<std::string> transcripts;
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = CueName(i++);
    WriteFile(secrets / name, "<v>secret " + name + "</v>\n");
    ASSERT_EQ(::chown((secrets / name).c_str(), c.target_owner, c.target_owner), 0);
    ASSERT_EQ(::chmod((secrets / name).c_str(), 0600), 0);
    fs::create_directories(folder);
    fs::create_symlink(secrets / name, folder / (name + ".vtt"));
    ASSERT_EQ(::lchown((folder / (name + ".vtt")).c_str(), c.link_owner, c.link_owner), 0);
    // The user's own transcript, which the user would go on reading.
    WriteFile(folder / (name + ".txt"), "mine");
    ASSERT_EQ(::chown((folder / (name + ".txt")).c_str(), kUser, kUser), 0);
    ASSERT_EQ(::chmod((folder / (name + ".txt")).c_str(), 0644), 0);
    if (c.read) {
      transcripts.insert("user/" + name + ".txt");
    } else {
      expected.push_back(OpenError(folder / (name + ".vtt")));
    }
  }
  expected.push_back(Converted(folder));
  const Snapshot before = TakeSnapshot(dir_.path());
  EXPECT_EQ(Seen(folder), expected);
  ExpectOnlyTranscriptsChanged(dir_.path(), before, transcripts);
  for (i = 0; i < 4; ++i) {
    struct stat info {};
    ASSERT_EQ(::stat((folder / (CueName(i) + ".txt")).c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kUser) << cases[i].name << ": the owner is kept";
    if (cases[i].read) {
      EXPECT_EQ(info.st_mode & 0777, 0600u) << cases[i].name;
    }
  }
}

// While a run goes on, another process swaps the folder, or a sub-folder of
// the tree, for a link to a folder outside, again and again. Files are
// opened relative to the folders the run opened, and a sub-folder is entered
// only as the folder listed, so nothing outside changes and no temporary
// file is left there, whatever the timing. (A folder named by the user is
// followed when it is a link as the run starts; the folder outside then
// holds no caption file of its own.)
TEST_F(Hostile, FoldersSwappedForLinksWhileRunning) {
  for (const bool subfolder : {false, true}) {
    TempDir dir;
    const fs::path root = dir / "root";
    const fs::path swapped = subfolder ? root / "sub" : root;
    const fs::path outside = dir / "outside";
    for (int i = 0; i < 100; ++i) {
      WriteFile(swapped / (CueName(i) + ".vtt"), kCaptions);
      WriteFile(outside / (CueName(i) + ".txt"), "notes");
      if (subfolder) WriteFile(outside / (CueName(i) + ".vtt"), "not to be read");
    }
    // Enough files in the root that the walk waits for them before it
    // enters the sub-folder.
    for (int i = 0; subfolder && i < 300; ++i) WriteFile(root / (CueName(i) + ".vtt"), kCaptions);
    const Snapshot before = TakeSnapshot(outside);
    std::atomic<bool> running = true;
    std::thread swapper([&] {
      const fs::path aside = dir / "aside";
      std::error_code ignored;
      // The link stays a while each time: long enough to be met between
      // the listing and the writes.
      const auto hold = [&running] {
        for (int i = 0; i < 2000 && running; ++i) std::this_thread::yield();
      };
      while (running) {
        fs::rename(swapped, aside, ignored);
        fs::create_directory_symlink(outside, swapped, ignored);
        hold();
        fs::remove(swapped, ignored);
        fs::rename(aside, swapped, ignored);
        hold();
      }
    });
    for (int round = 0; round < 20; ++round) {
      RecordingReporter reporter;
      BatchOptions options;
      options.recursive = subfolder;
      options.jobs = 2;
      RunBatches(root.native(), options, reporter);
    }
    running = false;
    swapper.join();
    EXPECT_EQ(TakeSnapshot(outside), before) << (subfolder ? "sub-folder" : "folder");
  }
}

// A tree converted with recursion, on one thread or four, gives exactly the
// messages and transcripts of converting each of its folders on its own.
TEST_F(Hostile, TreesConvertAsTheirFoldersOnTheirOwn) {
  for (const unsigned seed : {1u, 2u, 3u, 4u}) {
    const fs::path alone = dir_ / ("alone" + std::to_string(seed));
    const fs::path tree = dir_ / ("tree" + std::to_string(seed));
    const fs::path parallel = dir_ / ("parallel" + std::to_string(seed));
    for (const fs::path& root : {alone, tree, parallel}) MakeTree(root, seed);
    const Messages expected = Relative(EachFolderOnItsOwn(alone), alone);
    EXPECT_EQ(Relative(RunTree(tree, 1), tree), expected) << seed;
    EXPECT_EQ(Relative(RunTree(parallel, 4), parallel), expected) << seed;
    // Both again over one hostile tree, now full of transcripts.
    EXPECT_EQ(RunTree(tree, 3), RunTree(tree, 1)) << seed;
    for (const fs::path& root : {alone, tree, parallel}) {
      fs::permissions(root / "locked", fs::perms::owner_all);
    }
    const Snapshot want = TakeSnapshot(alone);
    EXPECT_EQ(TakeSnapshot(tree), want) << seed;
    EXPECT_EQ(TakeSnapshot(parallel), want) << seed;
  }
  // Trees without caption files, readable or not, are told once.
  fs::create_directories(dir_ / "bare" / "a" / "b");
  fs::create_directory_symlink(dir_ / "tree1", dir_ / "bare" / "link");
  for (const fs::path& root : {dir_ / "bare", dir_ / "missing"}) {
    EXPECT_EQ(RunTree(root, 2), (Messages{{BatchMessage::kNoCaptionFiles, root.native()}}));
  }
}

// A page is written as its transcript is: old or new whole, never through a
// link or into something that is no file. It is tried once its transcript is
// written, and a caption file gets one message at most, on any number of jobs.
TEST_F(Hostile, PagesKeepTheTranscriptsGuarantees) {
  // a.vtt makes a transcript of 1,190 bytes and a page of 1,761; b.vtt's page takes 670.
  std::string captions = "WEBVTT\n\n";
  for (int i = 0; i < 100; ++i)
    captions += "00:00:01.000 --> 00:00:02.000\nHazard " + CueName(i) + "\n\n";
  using Make = void (*)(const fs::path&);
  struct Case {
    std::string_view name;
    Make make;  // given a.vtt's folder
    rlim_t file_size_limit;
    BatchMessage message;
    bool transcript_written;
  };
  const rlim_t none = RLIM_INFINITY;
  const Case cases[] = {
      {"a link to a file", [](const fs::path& d) { fs::create_symlink("notes", d / "a.html"); },
       none, BatchMessage::kErrorOpening, true},
      {"a dangling link", [](const fs::path& d) { fs::create_symlink("gone", d / "a.html"); }, none,
       BatchMessage::kErrorOpening, true},
      {"a link to /dev/full",
       [](const fs::path& d) { fs::create_symlink("/dev/full", d / "a.html"); }, none,
       BatchMessage::kErrorOpening, true},
      {"a folder", [](const fs::path& d) { WriteFile(d / "a.html" / "index.html", "mine"); }, none,
       BatchMessage::kErrorOpening, true},
      {"a FIFO", [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "a.html").c_str(), 0600), 0); },
       none, BatchMessage::kErrorOpening, true},
      {"a page past the file size limit", [](const fs::path&) {}, 1500, BatchMessage::kErrorWriting,
       true},
      {"a transcript refused", [](const fs::path& d) { fs::create_directory(d / "a.txt"); }, none,
       BatchMessage::kErrorOpening, false},
      {"a transcript past the file size limit", [](const fs::path&) {}, 1000,
       BatchMessage::kErrorWriting, false},
  };
  for (const Case& c : cases) {
    for (const unsigned jobs : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.name << ", " << jobs << " jobs");
      TempDir dir;
      const fs::path folder = dir / "captions";
      WriteFile(folder / "a.vtt", captions);
      WriteFile(folder / "b.vtt", kCaptions);
      WriteFile(folder / "notes", "my notes");
      c.make(folder);
      if (!fs::exists(folder / "a.txt")) WriteFile(folder / "a.txt", "old transcript");
      if (!fs::exists(fs::symlink_status(folder / "a.html"))) WriteFile(folder / "a.html", "old");
      const Snapshot before = TakeSnapshot(folder);
      RecordingReporter reporter;
      BatchOptions options;
      options.style = TranscriptStyle::kClean;
      options.html = true;
      options.jobs = jobs;
      {
        const testing::FileSizeLimit limit(c.file_size_limit);
        RunBatches(folder.native(), options, reporter);
      }
      EXPECT_EQ(reporter.messages,
                (std::vector<testing::Message>{{c.message, (folder / "a.vtt").native()},
                                               testing::Completed(folder)}));
      std::set<std::string> written = {"b.txt", "b.html"};
      if (c.transcript_written) written.insert("a.txt");
      const Snapshot after = ExpectOnlyTranscriptsChanged(folder, before, written);
      EXPECT_EQ(after.at("b.html").substr(0, 15), "<!DOCTYPE html>");
      if (c.transcript_written) {
        EXPECT_EQ(after.at("a.txt").substr(0, 22), "Hazard c0\r\nHazard c1\r\n");
      }
    }
  }
}

// A page holds no more than its paragraphs hold: a cue line of 300 MB, and
// ten million cues, make their pages in bounded memory, from a file or a pipe.
TEST_F(Hostile, PageMemoryStaysBounded) {
  constexpr std::uintmax_t kLine = kSanitized ? 24u << 20 : 300u << 20;
  constexpr std::uintmax_t kCues = kSanitized ? 8u << 20 : 320u << 20;  // 10 million cues
  constexpr std::uint64_t kPeakLimit = 64u << 20;
  const std::string time = "<p><time datetime=\"PT1S\">[00:01]</time> ";
  const std::string foot = "</p>\n</main>\n</body>\n</html>\n";
  const std::string cue = "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n";
  struct Case {
    std::string_view name;
    std::function<std::uint64_t(const fs::path&)> write;  // returns a count of repeats
    // For that count: the size of the paragraphs, and the first and last of them.
    std::function<std::uint64_t(std::uint64_t)> size;
    std::function<std::string(std::uint64_t)> first, last;
  };
  const auto letters = [](std::uint64_t from, std::uint64_t to) {
    std::string text;
    for (std::uint64_t i = from; i < to; ++i) (text += char('a' + i % 26)) += ' ';
    text.pop_back();
    return text;
  };
  const Case cases[] = {
      {"a cue line of 300 MB",
       [&](const fs::path& path) {
         WriteRepeated(path, cue, "<i>a&lt;b</i> ", kLine, "\n");
         return (fs::file_size(path) - cue.size() - 1) / 14;
       },
       [&](std::uint64_t n) { return time.size() + 7 * n - 1 + 5; },
       [&](std::uint64_t) { return time + Repeat("a&lt;b ", 9); },
       [&](std::uint64_t) { return Repeat(" a&lt;b", 9) + foot; }},
      // Paragraphs of 501 letters: 1,001 characters with their spaces.
      {"ten million one-letter cues",
       [&](const fs::path& path) {
         return WriteLines(path, "WEBVTT\n\n", kCues, LetterCue, [](std::uint64_t) { return ""; });
       },
       [&](std::uint64_t n) {
         const std::uint64_t paragraphs = (n + 500) / 501;
         return paragraphs * (time.size() + 5) + 2 * n - paragraphs;
       },
       [&](std::uint64_t) { return time + letters(0, 40); },
       [&](std::uint64_t n) { return time + letters((n - 1) / 501 * 501, n) + foot; }},
  };
  // Writes the page of the caption file `input` at `page`, read as a pipe
  // when `pipe`, in a child process; returns the child's peak memory.
  const auto convert = [](const fs::path& input, const fs::path& page, bool pipe) {
    return PeakInChild([&] {
      CaptionConverter converter(NativeString(), TranscriptStyle::kTimedParagraphs);
      converter.WritePages(true, "en");
      ConversionResult result = ConversionResult::kOpenFailed;
      if (pipe) {
        platform::InputFile file;
        ReadOnce stream(file);
        FileWriter out(page);
        if (file.Open(input)) result = converter.ConvertStream(stream, out);
      } else {
        result = converter.Convert(input, fs::path(page).replace_extension(".txt"));
      }
      if (result != ConversionResult::kConverted) ::_exit(1);
    });
  };
  const auto bytes = [](const fs::path& path, std::uint64_t at, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    std::string read(count, '\0');
    in.read(read.data(), static_cast<std::streamsize>(count));
    return read;
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path input = dir / "big.vtt";
    const std::uint64_t count = c.write(input);
    // The page of no cue, of the same name: the head and the foot alone.
    WriteFile(dir / "empty" / "big.vtt", "WEBVTT\n");
    for (const bool pipe : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.name << (pipe ? ", pipe" : ", file"));
      const fs::path empty = dir / "empty" / (pipe ? "pipe.html" : "big.html");
      const fs::path page = dir / (pipe ? "pipe.html" : "big.html");
      convert(dir / "empty" / "big.vtt", empty, pipe);
      const std::uint64_t peak = convert(input, page, pipe);
      if (!kSanitized) {
        EXPECT_LT(peak, kPeakLimit);
      }
      const std::uint64_t head = fs::file_size(empty) - (foot.size() - 5);
      ASSERT_EQ(fs::file_size(page), head + c.size(count) + foot.size() - 5);
      const std::string first = c.first(count);
      const std::string last = c.last(count);
      EXPECT_EQ(bytes(page, head, first.size()), first);
      EXPECT_EQ(bytes(page, fs::file_size(page) - 64, 64), last.substr(last.size() - 64));
    }
  }
}

}  // namespace
}  // namespace orvane
